// The driver's own console output. Standard output is fully buffered for speed and
// flushed where order matters: before a tool starts, before anything goes to standard
// error, and at exit.
#pragma once

#include <cstddef>

void setup_console();
void print_out(const char* format, ...) __attribute__((format(printf, 1, 2)));
void print_err(const char* format, ...) __attribute__((format(printf, 1, 2)));
void write_out(const char* bytes, std::size_t count);
void flush_out();
// While muted nothing is shown: the run is planned by walking the words without effects.
void mute_console(bool mute);
// While held, what would be shown waits, in order, for release_console, which shows it or,
// when --help answers instead, drops it.
void hold_console();
void release_console(bool show);

// True once a write to standard output or standard error has failed for any reason but a
// closed pipe (which is an interruption of its own); `stream` then names the stream.
bool console_write_failed(const char*& stream);
// Records a failed write to standard output (1) or standard error (2) made past the console
// (--jobs shows its chains' bytes as they are), as a failed write through it would be.
void record_console_write_failure(int stream);
