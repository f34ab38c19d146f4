// Byte-at-a-time models of the driver's two block copies, written from their rules: the
// unit tests hold the copies to them at chosen bounds, the fuzz targets on any input.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "pipeline/sjis_escaper.h"
#include "tests/fake_platform.h"
#include "toolrun/tool_runner.h"

// The escaper works in chunks of 64 bytes within its blocks.
constexpr std::size_t escaper_block = escaper_block_size;

// A 0x5C that is the second byte of a double-byte character is doubled, and a blank put
// after it when a line end follows.
inline std::string model_escape(const std::string& input) {
  std::string out;
  for (std::size_t i = 0; i < input.size();) {
    unsigned char byte = input[i++];
    out += static_cast<char>(byte);
    bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    if (!lead || i == input.size()) continue;
    char trail = input[i++];
    out += trail;
    if (trail != 0x5C) continue;
    out += '\x5C';
    if (i < input.size() && (input[i] == '\n' || input[i] == '\r')) out += ' ';
  }
  return out;
}

// What `write` puts on a stream, caught in memory.
template <typename Write>
std::string caught(Write write) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&text, &size);
  if (stream == nullptr) std::abort();
  write(stream);
  std::fclose(stream);
  std::string bytes(text, size);
  std::free(text);
  return bytes;
}

// The block escaper's copy of `input`.
inline std::string stream_escaped(std::string input) {
  return caught([&](std::FILE* out) {
    std::FILE* in = fmemopen(input.data(), input.size(), "rb");
    if (in == nullptr || !escape_sjis_stream(in, out)) std::abort();
    std::fclose(in);
  });
}

// "" when the two are equal, else where they first differ: a failure shows no megabytes.
inline std::string first_difference(const std::string& a, const std::string& b) {
  if (a == b) return "";
  return "differ from byte " +
         std::to_string(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
}

// A filter that drops some lines and changes others in place, as the real ones do.
inline char* hide_h_mark_m(char* line) {
  if (line[0] == 'h') return nullptr;
  if (line[0] == 'm') line[0] = 'M';
  return line;
}

// Lines end after a line feed or after 511 bytes, as a 512-byte fgets cuts them; a zero
// byte ends a line for the filter, and a shown line is shown whole, zero bytes included.
inline std::string model_shown(const std::string& output) {
  std::string shown;
  for (std::size_t at = 0; at < output.size();) {
    std::size_t feed = output.find('\n', at);
    std::size_t length = std::min(feed == std::string::npos ? output.size() - at : feed - at + 1,
                                  line_buffer_size - 1);
    std::string line = output.substr(at, length);
    at += length;
    if (hide_h_mark_m(line.data()) != nullptr) shown += line;
  }
  return shown;
}

// What run_tool shows of a tool that writes `output` in reads of `read_size` bytes.
inline std::string runner_shown(const std::string& output, std::size_t read_size) {
  fake_output = output;
  fake_read_size = read_size;
  return caught([](std::FILE* out) {
    std::FILE* real_out = std::exchange(stdout, out);
    run_tool("tool.exe", "", hide_h_mark_m);
    stdout = real_out;
  });
}
