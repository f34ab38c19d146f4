// Benchmark helper for the Shift_JIS escaper: makes a large C source full of double-byte
// text, or escapes one file and reports the peak memory it took.
//   escaper_bench generate FILE MEGABYTES
//   escaper_bench escape INPUT OUTPUT
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "pipeline/sjis_escaper.h"
#include "record/driver_state.h"

namespace {

// Shift_JIS words; those marked * have a 0x5C trail byte.
#define HYOJI "\x95\x5C\x8E\xA6"              // * display
#define SOFT "\x83\x5C\x83\x74\x83\x67"       // * software
#define NORYOKU "\x94\x5C\x97\xCD"            // * ability
#define SHINSEI "\x90\x5C\x90\xBF"            // * request
#define YOTEIHYO "\x97\x5C\x92\xE8\x95\x5C"   // ** schedule
#define KOZOTAI "\x8D\x5C\x91\xA2\x91\xCC"    // * structure
#define MOJIRETSU "\x95\xB6\x8E\x9A\x97\xF1"  // string
#define SHOKIKA "\x8F\x89\x8A\xFA\x89\xBB"    // initialise
#define NIHONGO "\x93\xFA\x96\x7B\x8C\xEA"    // Japanese
#define HANKAKU "\xB6\xC5\xC3\xB7\xBD\xC4"    // half-width katakana, single bytes

// Lines of a plausible source: comments and literals in Japanese, some ending right after a
// 0x5C trail byte, some plain code with backslashes.
const char* const source_lines[] = {
    "/* " HYOJI SOFT NORYOKU " : " SHINSEI MOJIRETSU " */\n",
    "static const char message[] = \"" YOTEIHYO KOZOTAI NIHONGO "\";\n",
    "    printf(\"" MOJIRETSU HYOJI "%d\\n\", count);\n",
    "int counter = 0; // " SHOKIKA " " YOTEIHYO "\n",
    "    buffer[index] = '\\\\'; /* " HANKAKU " */\n",
    "// " NIHONGO HYOJI "\r\n",
    "    for (i = 0; i < limit; ++i) total += table[i];\n",
    "    status = check(\"" SOFT SHINSEI KOZOTAI NORYOKU "\", &result);\n",
};

int generate(const char* name, long megabytes) {
  std::FILE* file = std::fopen(name, "wb");
  if (!file) return 1;
  static char buffer[1 << 20];
  unsigned long long remaining = static_cast<unsigned long long>(megabytes) << 20;
  unsigned random = 12345;
  while (remaining > 0) {
    std::size_t used = 0;
    while (used < sizeof buffer - 256) {
      random = random * 1103515245u + 12345u;
      const char* line = source_lines[(random >> 16) % std::size(source_lines)];
      std::size_t length = std::strlen(line);
      std::memcpy(buffer + used, line, length);
      used += length;
    }
    std::size_t count = used < remaining ? used : static_cast<std::size_t>(remaining);
    if (std::fwrite(buffer, 1, count, file) != count) break;
    remaining -= count;
  }
  return std::fclose(file) != 0 || remaining != 0;
}

int escape(const char* input, const char* output) {
  escape_sjis_source(input, output);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak_rss_kib %ld\n", usage.ru_maxrss);
  return state.status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "generate") == 0)
    return generate(argv[2], std::atol(argv[3]));
  if (argc == 4 && std::strcmp(argv[1], "escape") == 0) return escape(argv[2], argv[3]);
  std::fprintf(stderr, "usage: escaper_bench generate FILE MEGABYTES | escape INPUT OUTPUT\n");
  return 2;
}
