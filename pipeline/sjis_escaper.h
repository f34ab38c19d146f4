// Copies a C source with every 0x5C that stands as the second byte of a Shift_JIS
// double-byte character doubled, so the compiler reads it back as that byte.
#pragma once

#include <cstddef>
#include <cstdio>

// The copy reads and writes in blocks this large because every read and write call has a
// cost of its own, which still showed at 64 KiB.
constexpr std::size_t escaper_block_size = 512 * 1024;

// Writes the copy `output` of `input`; false, with the message shown, when either cannot
// be opened, read or written.
bool escape_sjis_source(const char* input, const char* output);

// The copy itself over open streams; false when a write failed. Reads in blocks, with
// the output identical to a byte-at-a-time pass.
bool escape_sjis_stream(std::FILE* in, std::FILE* out);
