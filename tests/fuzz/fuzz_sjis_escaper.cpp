// Arbitrary bytes through escape_sjis_stream, compared with a byte-at-a-time model that
// follows the copy rules step by step, one byte of push-back included. When the first
// byte's low three bits are all set, plain filler goes in front so that the rest straddles
// 64, 128, 256 or 512 KiB (bits 3 and 4 pick which, the second byte how far before it the
// rest begins): a block copy with any such block size must carry its state across.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "pipeline/sjis_escaper.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool is_lead(int byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Steps 4.1 to 4.10 of the copy, on a string with a read position and a push-back.
std::string model_escape(const std::string& input) {
  std::size_t next = 0;
  int pushed_back = -1;
  auto read = [&]() -> int {
    if (pushed_back >= 0) return std::exchange(pushed_back, -1);
    return next < input.size() ? static_cast<unsigned char>(input[next++]) : -1;
  };
  std::string out;
  for (;;) {
    int byte = read();
    if (byte < 0) return out;
    out += static_cast<char>(byte);
    if (!is_lead(byte)) continue;
    int trail = read();
    if (trail < 0) return out;
    out += static_cast<char>(trail);
    if (trail != 0x5C) continue;
    out += '\x5C';
    int after = read();
    if (after == '\n' || after == '\r') out += ' ';
    if (after >= 0) pushed_back = after;
  }
}

// The plain filler, which the model copies as it is and which leaves it at the start of a
// character.
std::size_t filler_length(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || (data[0] & 7) != 7) return 0;
  return (std::size_t{64 * 1024} << (data[0] >> 3 & 3)) - data[1];
}

// Room for the longest filler and input, and for twice that as output. Kept from run to
// run, as fresh half-megabyte buffers would cost more than the copy itself.
constexpr std::size_t most_input = 512 * 1024 + 64 * 1024;
char input_buffer[most_input];
char output_buffer[2 * most_input];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::memset(input_buffer, 'x', sizeof input_buffer);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t filler = filler_length(data, size);
  const std::string_view rest(reinterpret_cast<const char*>(data + (filler ? 2 : 0)),
                              size - (filler ? 2 : 0));
  if (rest.empty() || filler + rest.size() > most_input) return 0;
  rest.copy(input_buffer + filler, rest.size());
  std::FILE* in = fmemopen(input_buffer, filler + rest.size(), "rb");
  std::FILE* out = fmemopen(output_buffer, sizeof output_buffer, "wb");
  require(in != nullptr && out != nullptr, "memory streams");
  const bool written = escape_sjis_stream(in, out);
  std::fflush(out);
  const std::string_view output(output_buffer, static_cast<std::size_t>(std::ftell(out)));
  std::fclose(in);
  std::fclose(out);
  require(written, "the copy reports success");
  // The filler is still in front of the input buffer: a plain copy of it.
  require(output.size() >= filler && std::memcmp(output_buffer, input_buffer, filler) == 0 &&
              output.substr(filler) == model_escape(std::string(rest)),
          "copy as the model");
  std::memset(input_buffer + filler, 'x', rest.size());
  return 0;
}
