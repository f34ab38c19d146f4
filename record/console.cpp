#include "record/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace {
// A tool's output flood costs one write per read instead of one per line.
char output_buffer[64 * 1024];
const char* failed_stream = nullptr;
bool muted = false;
bool held = false;
struct HeldText {
  std::FILE* stream;
  std::string text;
};
std::vector<HeldText> held_texts;

void hold_text(std::FILE* stream, const char* format, va_list arguments) {
  va_list counting;
  va_copy(counting, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, counting);
  va_end(counting);
  if (length <= 0) return;
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, arguments);
  text.pop_back();
  held_texts.push_back({stream, std::move(text)});
}

// Each call that may write is followed by this, while errno still tells why it failed. A
// reader that went away is no failure of the output itself: the process layer takes the
// closed pipe as an interruption.
void watch(std::FILE* stream, const char* name) {
  if (!std::ferror(stream)) return;
  if (errno != EPIPE && failed_stream == nullptr) failed_stream = name;
  std::clearerr(stream);
}

void watch_out() {
  watch(stdout, "standard output");
}
}  // namespace

void mute_console(bool mute) {
  muted = mute;
}

void hold_console() {
  held = true;
}

void release_console(bool show) {
  held = false;
  for (const HeldText& held_text : held_texts) {
    if (!show) break;
    if (held_text.stream == stdout) {
      print_out("%s", held_text.text.c_str());
    } else {
      print_err("%s", held_text.text.c_str());
    }
  }
  held_texts.clear();
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
  if (held) {
    hold_text(stdout, format, arguments);
    va_end(arguments);
    return;
  }
  std::vfprintf(stdout, format, arguments);
  va_end(arguments);
  watch_out();
}

// Standard error is unbuffered: flushing what standard output holds first keeps the two
// in the order they were written when both reach one terminal.
void print_err(const char* format, ...) {
  if (muted) return;
  va_list arguments;
  va_start(arguments, format);
  if (held) {
    hold_text(stderr, format, arguments);
    va_end(arguments);
    return;
  }
  flush_out();
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  watch(stderr, "standard error");
}

void write_out(const char* bytes, std::size_t count) {
  if (muted) return;
  std::fwrite(bytes, 1, count, stdout);
  watch_out();
}

void flush_out() {
  std::fflush(stdout);
  watch_out();
}

bool console_write_failed(const char*& stream) {
  stream = failed_stream;
  return failed_stream != nullptr;
}

void record_console_write_failure(int stream) {
  if (failed_stream == nullptr) failed_stream = stream == 1 ? "standard output" : "standard error";
}
