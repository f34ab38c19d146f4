#include "toolrun/filters.h"

#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "record/driver_state.h"
#include "toolrun/tool_runner.h"

namespace {

// The tools' progress and banner lines, hidden from the user. Each filter has its own
// list: "Compile Completed" from a stage tool or the linker is shown.
constexpr std::string_view stage_banners[] = {
    "Pre Processor Completed",
    "Extend Completed",
    "Assembly Completed",
};
constexpr std::string_view compiler_banners[] = {
    "GNU C Compiler for E0C33",
    "    gcc33 -S -x c ",
    "Compile Completed",
};
constexpr std::string_view linker_banners[] = {
    "Link Completed",
};

// True when the line begins with one of the patterns, byte for byte.
bool begins_with_any(const char* line, std::span<const std::string_view> patterns) {
  for (std::string_view pattern : patterns) {
    // The first byte turns away nearly every line without a call. strncmp stops at the
    // line's end, so a shorter line never matches.
    if (line[0] == pattern[0] && std::strncmp(line, pattern.data(), pattern.size()) == 0)
      return true;
  }
  return false;
}

}  // namespace

char* filter_stage_output(char* line) {
  return begins_with_any(line, stage_banners) ? nullptr : line;
}

// The compiler was given a copy of the source, "name.$" beside it or a copy in the output's
// folder; a message naming the copy followed by ':' is turned to name the source as the user
// gave it, in place where only the extension differs.
char* filter_compiler_output(char* line) {
  if (begins_with_any(line, compiler_banners)) return nullptr;
  const char* source = state.compiled_source;
  if (source == nullptr) return line;
  const char* escaped_name = state.slots[escaped_or_object_slot].text;
  if (escaped_name[0] == '\0') return line;
  char* name = std::strstr(line, escaped_name);
  if (name == nullptr) return line;
  // The length is the slot's own, set with it: the line holds at least that many bytes here.
  const std::int32_t length = state.escaped_name_length;
  if (name[length] != ':') return line;
  const std::size_t stem = static_cast<std::size_t>(length) - 1;
  if (std::strlen(source) == static_cast<std::size_t>(length) &&
      std::strncmp(source, escaped_name, stem) == 0) {
    name[length - 1] = 'c';
    return line;
  }
  static char renamed[line_buffer_size + name_size];
  std::snprintf(renamed, sizeof renamed, "%.*s%s%s", static_cast<int>(name - line), line, source,
                name + length);
  return renamed;
}

char* filter_linker_output(char* line) {
  return is_linker_banner(line) ? nullptr : line;
}

bool is_linker_banner(const char* line) {
  return begins_with_any(line, linker_banners);
}
