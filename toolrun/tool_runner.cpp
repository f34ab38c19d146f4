#include "toolrun/tool_runner.h"

#include <algorithm>
#include <cstring>

#include "driver/driver_state.h"
#include "toolrun/console.h"
#include "toolrun/process.h"

namespace {

constexpr const char* create_error = "Process create error '%s %s'\n";
constexpr const char* verbose_header = "--------\n%s %s\n";
constexpr const char* verbose_footer = "Exitcode = %d\n";

char read_buffer[64 * 1024];
char line_buffer[line_buffer_size];
char observed_line[line_buffer_size];

// Lines go to `filter`, which decides what is shown; `observer`, when there is one, gets
// a copy of each line for what it counts and never changes what is shown.
struct LineRoute {
  OutputFilter filter;
  OutputFilter observer;
};

// The line is the first `length` bytes of line_buffer. A zero byte inside it ends it for
// the filter and the screen.
void deliver_line(std::size_t length, const LineRoute& route) {
  line_buffer[length] = '\0';
  if (route.observer != nullptr) {
    std::memcpy(observed_line, line_buffer, length + 1);
    route.observer(observed_line);
  }
  if (route.filter(line_buffer) != nullptr) write_out(line_buffer, std::strlen(line_buffer));
}

// Cuts the tool's output into lines as a 512-byte fgets would: up to and including a line
// feed, or 511 bytes; a line may span reads. Shown lines are flushed once per read, so
// each appears as soon as it is complete.
void copy_output_lines(ToolProcess& tool, const LineRoute& route) {
  std::size_t length = 0;
  long count;
  while ((count = read_tool_output(tool, read_buffer, sizeof read_buffer)) > 0) {
    const char* next = read_buffer;
    const char* end = read_buffer + count;
    while (next < end) {
      std::size_t take = std::min<std::size_t>(line_buffer_size - 1 - length, end - next);
      const void* feed = std::memchr(next, '\n', take);
      if (feed != nullptr) take = static_cast<const char*>(feed) - next + 1;
      std::memcpy(line_buffer + length, next, take);
      length += take;
      next += take;
      if (feed != nullptr || length == line_buffer_size - 1) {
        deliver_line(length, route);
        length = 0;
      }
    }
    flush_out();
  }
  if (length > 0) {
    deliver_line(length, route);
    flush_out();
  }
}

int capture_tool(const char* tool_name, const char* argument_text, const LineRoute& route) {
  if (int signal = interrupt_signal()) return 128 + signal;
  // The driver's own earlier messages come before anything the tool writes.
  flush_out();
  ToolProcess tool;
  int started = start_tool(tool, tool_name, argument_text);
  if (started == start_failed) print_out(create_error, tool_name, argument_text);
  if (started != 0) return started;
  copy_output_lines(tool, route);
  int exit_code = finish_tool(tool);
  // An interrupted tool may still exit 0; the step must count as failed all the same.
  if (int signal = interrupt_signal()) return 128 + signal;
  return exit_code;
}

}  // namespace

char* pass_all_lines(char* line) {
  return line;
}

int spawn_filtered(const char* tool_name, const char* argument_text, OutputFilter filter) {
  return capture_tool(tool_name, argument_text, {filter, nullptr});
}

int run_tool(const char* tool_name, const char* argument_text, OutputFilter filter) {
  // A dry run shows the command line the tool would get and counts the step as done.
  if (state.dry_run) {
    print_out("%s %s\n", tool_name, argument_text);
    return 0;
  }
  if (!state.verbose) return spawn_filtered(tool_name, argument_text, filter);
  print_out(verbose_header, tool_name, argument_text);
  // Every line is shown unchanged, but the caller's filter still sees a copy: the linker's
  // warnings count towards the exit status with -v as without it.
  int result = capture_tool(tool_name, argument_text, {pass_all_lines, filter});
  print_out(verbose_footer, result);
  return result;
}
