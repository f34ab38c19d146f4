// Runs one tool of the tool chain with its standard output captured, filtered line by
// line and copied to the driver's own standard output.
#pragma once

#include <cstddef>

constexpr std::size_t line_buffer_size = 512;

// What a program that cannot be started or waited for gives where its exit code would be,
// for a tool and a --jobs worker alike, and the message for the first.
constexpr const char* create_error = "Process create error '%s %s'\n";
constexpr int start_failed_code = 259;
constexpr int wait_failed_code = 255;  // one a POSIX host can carry too

// Takes one line (zero-terminated, line feed included, modifiable in place) and returns
// it to have it shown, or nullptr to hide it. It may change the line's bytes, but not
// its length; a line to be shown longer it returns in a buffer of its own instead, whole,
// valid until the next call.
using OutputFilter = char* (*)(char* line);

// Sees every line before the filter does, shown or not: what is counted from a tool's
// lines stays the same when -v shows them all.
using LineWatch = void (*)(const char* line);

// Returns the tool's exit code, or the runner's own code when it cannot run the tool.
int run_tool(const char* tool_name, const char* argument_text, OutputFilter filter,
             LineWatch watch = nullptr);

// Shows the command line `tool_name` would get, as run_tool would start it, without starting it.
void show_tool_command(const char* tool_name, const char* argument_text);
