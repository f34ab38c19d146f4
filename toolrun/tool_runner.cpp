#include "toolrun/tool_runner.h"

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "record/console.h"
#include "record/driver_state.h"
#include "toolrun/platform_host.h"
#include "toolrun/platform_process.h"

namespace {

constexpr const char* verbose_header = "--------\n%s %s\n";
constexpr const char* verbose_footer = "Exitcode = %d\n";
constexpr const char* reason_line = "vexa: %s\n";
constexpr const char* killed_message = "vexa: %s: killed by signal %d (%s)\n";

// A tool whose output pipe cannot be made fails the step as an ordinary failure would.
constexpr int pipe_failed_code = 1;

// The tool's output is cut into lines and filtered where it was read. The shown bytes
// close up at the front of the block and go out in one write per read, so that a flood
// costs little per line beyond its filter. A line that a read leaves incomplete moves to
// the front, and the next read goes after it.
constexpr std::size_t read_size = 256 * 1024;
// Room for the zero after the last line.
char read_buffer[read_size + 1];
constexpr std::size_t longest_line = line_buffer_size - 1;

// Each line goes to the watch, if any, then to the filter, which decides what is shown.
struct LineRoute {
  OutputFilter filter;
  LineWatch watch;
};

// Filters the `length` bytes at `line` in place; returns how many of them to show: all or
// none. A zero byte inside the line ends the text the watch and the filter read, but the
// line is shown whole, with what follows the zero and its line end. A line the filter gives
// back in a buffer of its own is shown from `other` instead, and none of `line` is.
std::size_t filter_line(char* line, std::size_t length, const LineRoute& route,
                        std::string_view& other) {
  char after = line[length];
  line[length] = '\0';
  if (route.watch != nullptr) route.watch(line);
  std::size_t shown = 0;
  const char* filtered = route.filter(line);
  if (filtered == line) {
    shown = length;
  } else if (filtered != nullptr) {
    other = filtered;
  }
  line[length] = after;
  return shown;
}

// The lines of one block, filtered in place as they are found. Lines shown whole, from
// `run` to `next`, are moved to `shown_end` only when a line that is not ends the run.
struct Block {
  char* next = read_buffer;
  char* run = read_buffer;
  char* shown_end = read_buffer;
  const LineRoute& route;

  // A line shown from elsewhere goes out at once, after all shown before it.
  void take_line(std::size_t length) {
    std::string_view other;
    std::size_t shown = filter_line(next, length, route, other);
    next += length;
    if (shown < length) {
      close_run(next - length + shown);
      run = next;
    }
    if (!other.empty()) {
      write_out(read_buffer, shown_end - read_buffer);
      write_out(other.data(), other.size());
      shown_end = read_buffer;
    }
  }
  // Lines up to `end`, the last of them ending there; a line longer than longest_line
  // comes in pieces of that length, as a 512-byte fgets would cut it.
  void take_lines_to(const char* end) {
    while (static_cast<std::size_t>(end - next) > longest_line) take_line(longest_line);
    if (end > next) take_line(end - next);
  }
  void close_run(const char* run_end) {
    std::memmove(shown_end, run, run_end - run);
    shown_end += run_end - run;
  }
};

// Filters the complete lines of read_buffer[0, count), shown ones moved to the front.
// Returns where the incomplete line left over begins, and sets `shown_end`.
char* filter_block(std::size_t count, char*& shown_end, const LineRoute& route) {
  Block block{.route = route};
  char* end = read_buffer + count;
  char* search = read_buffer;
  while (char* feed = static_cast<char*>(std::memchr(search, '\n', end - search))) {
    search = feed + 1;
    block.take_lines_to(search);
  }
  // What follows the last line feed: every whole longest_line piece of it is a line of its
  // own now, as a 512-byte fgets would return it; the shorter rest waits for the next read.
  block.take_lines_to(end - (end - block.next) % longest_line);
  block.close_run(block.next);
  shown_end = block.shown_end;
  return block.next;
}

// Shown lines are flushed once per read, so each appears as soon as it is complete.
void copy_output_lines(ToolProcess& tool, const LineRoute& route) {
  std::size_t kept = 0;
  long count;
  while ((count = read_tool_output(tool, read_buffer + kept, read_size - kept)) > 0) {
    char* shown_end;
    char* rest = filter_block(kept + count, shown_end, route);
    write_out(read_buffer, shown_end - read_buffer);
    flush_out();
    kept = read_buffer + kept + count - rest;
    std::memmove(read_buffer, rest, kept);
  }
  if (kept > 0) {
    std::string_view other;
    write_out(read_buffer, filter_line(read_buffer, kept, route, other));
    if (!other.empty()) write_out(other.data(), other.size());
    flush_out();
  }
}

// The folder of the driver's own executable, where an installation keeps the tools beside
// it; empty when it cannot be had.
std::string driver_folder() {
  char path[4096];
  if (module_file_name(path, sizeof path) == 0) return "";
  const std::size_t folder = find_file_name(path);
  return std::string(path, folder > 1 ? folder - 1 : folder);
}

// What starts for a tool: the tool itself, or with a launcher the launcher and the tool's
// full path. `shown` stands where the tool name stands in the driver's messages: a tool
// found only beside the driver shows its path, so -v tells where it came from.
struct Program {
  const char* tool_name;
  std::string tool_path;  // with a launcher only; empty when the tool is found nowhere
  std::string shown;
  std::string last_folder;  // looked in after the current folder and PATH
};

Program program_for(const char* tool_name) {
  std::string folder = driver_folder();
  if (state.launcher == nullptr) {
    std::string beside =
        find_tool_path(tool_name).empty() ? find_tool_path(tool_name, folder.c_str()) : tool_name;
    return {tool_name, "", beside.empty() ? tool_name : beside, std::move(folder)};
  }
  std::string path = find_tool_path(tool_name, folder.c_str());
  if (path.empty()) return {tool_name, "", tool_name, std::move(folder)};
  std::string shown = launched_program_text(state.launcher, path.c_str());
  return {tool_name, std::move(path), std::move(shown), std::move(folder)};
}

void show_reason(const std::string& failure) {
  if (!failure.empty()) print_err(reason_line, failure.c_str());
}

// A tool found nowhere is never handed to the launcher.
ToolStart start_program(ToolProcess& tool, const Program& program, const char* argument_text) {
  if (state.launcher == nullptr) {
    return start_tool(tool, program.tool_name, argument_text, program.last_folder.c_str());
  }
  if (program.tool_path.empty()) return ToolStart::start_failed;
  return start_launched_tool(tool, state.launcher, program.tool_path.c_str(), argument_text);
}

int capture_tool(const Program& program, const char* argument_text, const LineRoute& route) {
  // The driver's own earlier messages come before anything the tool writes; a reader that
  // went away meanwhile is an interruption, and no tool starts after one.
  flush_out();
  if (int signal = interrupt_signal()) return signal_status(signal);
  ToolProcess tool;
  switch (start_program(tool, program, argument_text)) {
    case ToolStart::started:
      break;
    case ToolStart::pipe_failed:
      show_reason(tool.failure);
      return pipe_failed_code;
    case ToolStart::start_failed:
      print_out(create_error, program.shown.c_str(), argument_text);
      show_reason(tool.failure);
      return start_failed_code;
  }
  copy_output_lines(tool, route);
  ToolEnd end;
  if (!finish_tool(tool, end)) {
    show_reason(end.failure);
    end.exit_code = wait_failed_code;
  }
  // An interrupted tool may still exit 0; the step must count as failed all the same.
  if (int signal = interrupt_signal()) return signal_status(signal);
  // Its exit code alone cannot tell a tool killed by signal 9 from one that exited with 137.
  if (end.signal != 0) {
    print_err(killed_message, program.tool_name, end.signal, signal_name(end.signal));
  }
  return end.exit_code;
}

char* pass_all_lines(char* line) {
  return line;
}

}  // namespace

int run_tool(const char* tool_name, const char* argument_text, OutputFilter filter,
             LineWatch watch) {
  const Program program = program_for(tool_name);
  if (!state.verbose) return capture_tool(program, argument_text, {filter, watch});
  print_out(verbose_header, program.shown.c_str(), argument_text);
  int result = capture_tool(program, argument_text, {pass_all_lines, watch});
  print_out(verbose_footer, result);
  return result;
}

void show_tool_command(const char* tool_name, const char* argument_text) {
  print_out("%s %s\n", program_for(tool_name).shown.c_str(), argument_text);
}
