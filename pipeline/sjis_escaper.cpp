#include "pipeline/sjis_escaper.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

// The 32-bit Windows release is built without SSE2, so it runs the portable classifier;
// VEXA_PORTABLE_ESCAPER lets a native build compile and test that one too.
#if defined(__SSE2__) && !defined(VEXA_PORTABLE_ESCAPER)
#define VEXA_ESCAPER_SSE2 1
#include <emmintrin.h>
#endif

#include "record/console.h"
#include "toolrun/platform_files.h"

namespace {

// These texts end without a line feed on purpose: they are shown exactly as the tool chain's
// users know them, and whatever is written next follows on the same line.
const char input_open_error[] = "Input file open error.'%s'";
const char output_open_error[] = "Output file open error.'%s'";
const char output_write_error[] = "Output file write error.'%s'";
const char input_read_error[] = "Input file read error.'%s'";

// Each block is taken in chunks of 64 bytes, one bit per byte in a 64-bit mask, so that
// only the 0x5C trail bytes cost a step of their own.
constexpr std::size_t block_size = escaper_block_size;
constexpr std::size_t chunk_size = 64;
// A copy reads and writes a whole chunk from where it starts: both blocks have room.
unsigned char in_block[block_size + 2 * chunk_size];
// No byte ever becomes more than two: a 0x5C trail byte, or a line end right after one.
unsigned char out_block[2 * block_size + chunk_size];

// Where the next byte stands; carried over from one block to the next.
enum class Position { character_start, after_lead, after_doubled };

struct ChunkBits {
  std::uint64_t backslashes = 0;  // 0x5C
  std::uint64_t leads = 0;        // 0x81..0x9F and 0xE0..0xFC, wherever they stand
};

// ---- The classifier, SSE2 build: sixteen bytes per instruction. ----
#if defined(VEXA_ESCAPER_SSE2)

ChunkBits classify(const unsigned char* chunk) {
  // With bits 5 and 7 flipped the two lead ranges become the one signed range 0x21..0x5C.
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0xA0));
  const __m128i below_leads = _mm_set1_epi8(0x20);
  const __m128i above_leads = _mm_set1_epi8(0x5D);
  const __m128i backslash = _mm_set1_epi8(0x5C);
  ChunkBits bits;
  for (std::size_t i = 0; i < chunk_size; i += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + i));
    __m128i flipped = _mm_xor_si128(bytes, flip);
    __m128i leads =
        _mm_and_si128(_mm_cmpgt_epi8(flipped, below_leads), _mm_cmplt_epi8(flipped, above_leads));
    bits.backslashes |= std::uint64_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, backslash))) << i;
    bits.leads |= std::uint64_t(_mm_movemask_epi8(leads)) << i;
  }
  return bits;
}

#else
// ---- The classifier, portable build: eight bytes at a time in plain integers. ----

constexpr std::uint64_t every_byte = 0x0101010101010101u;
constexpr std::uint64_t high_bits = every_byte * 0x80;
constexpr std::uint64_t low_bits = every_byte * 0x7F;

// Eight bytes, the first one lowest, whatever the machine's byte order.
std::uint64_t load_word(const unsigned char* p) {
  return std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16 |
         std::uint64_t{p[3]} << 24 | std::uint64_t{p[4]} << 32 | std::uint64_t{p[5]} << 40 |
         std::uint64_t{p[6]} << 48 | std::uint64_t{p[7]} << 56;
}

// The high bit of each byte set where that byte is zero.
std::uint64_t zero_bytes(std::uint64_t word) {
  return ~(((word & low_bits) + low_bits) | word | low_bits);
}

// The high bit of each byte set where it is a lead-range byte: with bit 5 flipped, the
// two ranges become the one range 0xA1..0xDC.
std::uint64_t lead_bytes(std::uint64_t word) {
  std::uint64_t flipped = word ^ (every_byte * 0x20);
  std::uint64_t low = flipped & low_bits;
  return flipped & (low + every_byte * 0x5F) & ~(low + every_byte * 0x23) & high_bits;
}

// The high bits of the eight bytes as eight bits, the first byte's lowest.
std::uint64_t gather_high_bits(std::uint64_t flags) {
  return ((flags >> 7) * 0x0102040810204080u) >> 56;
}

ChunkBits classify(const unsigned char* chunk) {
  ChunkBits bits;
  for (std::size_t i = 0; i < chunk_size; i += 8) {
    std::uint64_t word = load_word(chunk + i);
    bits.backslashes |= gather_high_bits(zero_bytes(word ^ (every_byte * 0x5C))) << i;
    bits.leads |= gather_high_bits(lead_bytes(word)) << i;
  }
  return bits;
}

#endif
// ---- End of the classifiers: the rest is the same for both builds. ----

// The trail bytes among the chunk's bytes. A byte outside the lead ranges always ends a
// character, so a run of lead-range bytes pairs up from its first byte: a byte is a trail
// byte when the run right before it is odd (the sum below finds every run's parity at
// once). `carry` says whether the chunk's first byte is a trail byte, then the next's.
std::uint64_t trail_bits(std::uint64_t leads, std::uint64_t& carry) {
  constexpr std::uint64_t odd_bits = 0xAAAAAAAAAAAAAAAAu;
  std::uint64_t run_starts = leads & ~carry;
  std::uint64_t pair_codes = (((run_starts << 1) | odd_bits) - run_starts) ^ odd_bits;
  std::uint64_t trails = pair_codes ^ (leads | carry);
  carry = (pair_codes & leads) >> 63;
  return trails;
}

bool is_line_end(unsigned char byte) {
  return byte == '\n' || byte == '\r';
}

// Copies `length` bytes of a chunk, with a second 0x5C after each `doubled` byte, and a
// blank after that when a line end follows. Every copy moves a whole chunk: a copy of a
// fixed size takes no branches, and only the bytes counted in stay.
unsigned char* copy_chunk(const unsigned char* chunk, std::size_t length, std::uint64_t doubled,
                          unsigned char* out) {
  std::size_t done = 0;
  while (doubled) {
    std::size_t at = static_cast<std::size_t>(std::countr_zero(doubled));
    doubled &= doubled - 1;
    std::memcpy(out, chunk + done, chunk_size);
    out += at + 1 - done;
    out[0] = 0x5C;
    out[1] = ' ';
    out += 1 + is_line_end(chunk[at + 1]);
    done = at + 1;
  }
  std::memcpy(out, chunk + done, chunk_size);
  return out + (length - done);
}

// Escapes in_block[0, count) into out_block; returns the number of bytes written there.
std::size_t escape_block(std::size_t count, Position& position) {
  unsigned char* out = out_block;
  std::size_t start = 0;
  if (position == Position::after_lead) {
    unsigned char trail = in_block[start++];
    *out++ = trail;
    position = Position::character_start;
    if (trail == 0x5C) {
      *out++ = 0x5C;
      position = Position::after_doubled;
    }
  }
  if (position == Position::after_doubled) {
    if (start == count) return static_cast<std::size_t>(out - out_block);
    if (is_line_end(in_block[start])) *out++ = ' ';
    position = Position::character_start;
  }
  std::memset(in_block + count, 0, chunk_size);  // plain bytes after the end
  std::uint64_t carry = 0, trails = 0, doubled = 0;
  std::size_t length = 0;
  for (std::size_t at = start; at < count; at += length) {
    length = std::min(chunk_size, count - at);
    ChunkBits bits = classify(in_block + at);
    trails = trail_bits(bits.leads, carry);
    doubled = trails & bits.backslashes;
    out = copy_chunk(in_block + at, length, doubled, out);
  }
  // The last chunk tells how the block ends: on a doubled 0x5C, or on a lead byte.
  if (length > 0 && (doubled >> (length - 1) & 1)) {
    position = Position::after_doubled;
  } else if (length > 0 && (length == chunk_size ? carry : trails >> length & 1)) {
    position = Position::after_lead;
  }
  return static_cast<std::size_t>(out - out_block);
}

}  // namespace

bool escape_sjis_stream(std::FILE* in, std::FILE* out) {
  Position position = Position::character_start;
  std::size_t count;
  do {
    count = std::fread(in_block, 1, block_size, in);
    if (count == 0) break;
    std::size_t produced = escape_block(count, position);
    if (std::fwrite(out_block, 1, produced, out) != produced) return false;
  } while (count == block_size);  // a short read is the end of the input or an error
  return true;
}

bool escape_sjis_source(const char* input, const char* output) {
  std::FILE* in = std::fopen(input, "rb");
  if (!in) {
    print_err(input_open_error, input);
    return false;
  }
  std::FILE* out = create_output_file(output, "wb");
  if (!out) {
    std::fclose(in);
    print_err(output_open_error, output);
    return false;
  }
  bool written = escape_sjis_stream(in, out);
  bool read_failed = std::ferror(in) != 0;
  std::fclose(in);
  // The last buffer is written out only here: a full disk may show first now. The flush is
  // checked on its own, since not every C runtime's fclose reports a failure of its last write.
  if (std::fflush(out) != 0 || std::ferror(out) != 0) written = false;
  if (std::fclose(out) != 0) written = false;
  if (!written) {
    print_err(output_write_error, output);
    return false;
  }
  if (read_failed) {
    print_err(input_read_error, input);
    return false;
  }
  return true;
}
