#include "pipeline/sjis_escaper.h"

#include <cstdint>
#include <cstring>

#include "driver/driver_state.h"
#include "toolrun/console.h"

namespace {

const char input_open_error[] = "Input file open error.'%s'";
const char output_open_error[] = "Output file open error.'%s'";
const char output_write_error[] = "Output file write error.'%s'";
const char input_read_error[] = "Input file read error.'%s'";

constexpr std::size_t block_size = 64 * 1024;
unsigned char in_block[block_size];
// No byte ever becomes more than two: a 0x5C trail byte, or a line end right after one.
unsigned char out_block[2 * block_size];

// Where the next byte stands; carried over from one block to the next.
enum class Position { character_start, after_lead, after_doubled };

struct Cursor {
  const unsigned char* in;
  const unsigned char* end;
  unsigned char* out;
};

// 0x81..0x9F and 0xE0..0xFC: with bit 5 flipped they are the one range 0xA1..0xDC.
inline bool is_lead(unsigned char byte) {
  return static_cast<unsigned char>((byte ^ 0x20) - 0xA1) < 0x3C;
}

// The byte after a doubled 0x5C is a character of its own; a blank keeps the doubled
// byte from standing right before a line end.
inline Position after_doubled_byte(Cursor& c) {
  if (c.in == c.end) return Position::after_doubled;
  if (*c.in == '\n' || *c.in == '\r') *c.out++ = ' ';
  return Position::character_start;
}

inline Position copy_trail(Cursor& c) {
  unsigned char trail = *c.in++;
  *c.out++ = trail;
  if (trail != 0x5C) return Position::character_start;
  *c.out++ = 0x5C;
  return after_doubled_byte(c);
}

// Bytes below 0x80 need no care: copied eight at a time while a whole word of them lasts.
inline void copy_plain_run(Cursor& c) {
  constexpr std::uint64_t high_bits = 0x8080808080808080u;
  while (c.end - c.in >= 8) {
    std::uint64_t word;
    std::memcpy(&word, c.in, sizeof word);
    if (word & high_bits) return;
    std::memcpy(c.out, &word, sizeof word);
    c.in += 8;
    c.out += 8;
  }
}

// Escapes the whole of c.in..c.end (not empty) into c.out.
Position escape_block(Cursor& c, Position position) {
  if (position == Position::after_lead) {
    position = copy_trail(c);
  } else if (position == Position::after_doubled) {
    position = after_doubled_byte(c);
  }
  while (position == Position::character_start && c.in != c.end) {
    copy_plain_run(c);
    if (c.in == c.end) break;
    unsigned char byte = *c.in++;
    *c.out++ = byte;
    if (!is_lead(byte)) continue;
    position = c.in == c.end ? Position::after_lead : copy_trail(c);
  }
  return position;
}

}  // namespace

bool escape_sjis_stream(std::FILE* in, std::FILE* out) {
  Position position = Position::character_start;
  std::size_t count;
  do {
    count = std::fread(in_block, 1, block_size, in);
    if (count == 0) break;
    Cursor c{in_block, in_block + count, out_block};
    position = escape_block(c, position);
    std::size_t produced = static_cast<std::size_t>(c.out - out_block);
    if (std::fwrite(out_block, 1, produced, out) != produced) return false;
  } while (count == block_size);  // a short read is the end of the input or an error
  return true;
}

void escape_sjis_source(const char* input, const char* output) {
  std::FILE* in = std::fopen(input, "rb");
  if (!in) {
    state.status = 1;
    print_err(input_open_error, input);
    return;
  }
  std::FILE* out = std::fopen(output, "wb");
  if (!out) {
    std::fclose(in);
    state.status = 1;
    print_err(output_open_error, output);
    return;
  }
  state.escaped_name_length = static_cast<std::int32_t>(std::strlen(output));
  bool written = escape_sjis_stream(in, out);
  bool read_failed = std::ferror(in) != 0;
  std::fclose(in);
  // The last buffer is written out only here: a full disk may show first at the close.
  if (std::fclose(out) != 0) written = false;
  if (!written) {
    state.status = 1;
    print_err(output_write_error, output);
  } else if (read_failed) {
    state.status = 1;
    print_err(input_read_error, input);
  }
}
