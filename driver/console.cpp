#include "driver/console.h"

#include <cstdarg>
#include <cstdio>

namespace {
// A tool's output flood costs one write per read instead of one per line.
char output_buffer[64 * 1024];
bool muted = false;
}  // namespace

void mute_console(bool mute) {
  muted = mute;
}

void setup_console() {
  // Must come before the first output. Should it fail, stdout keeps its own buffering,
  // which changes only the speed.
  std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
}

void print_out(const char* format, ...) {
  if (muted) return;
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stdout, format, arguments);
  va_end(arguments);
}

// Standard error is unbuffered: flushing what standard output holds first keeps the two
// in the order they were written when both reach one terminal.
void print_err(const char* format, ...) {
  if (muted) return;
  std::fflush(stdout);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
}

void write_out(const char* bytes, std::size_t count) {
  if (!muted) std::fwrite(bytes, 1, count, stdout);
}

void flush_out() {
  std::fflush(stdout);
}
