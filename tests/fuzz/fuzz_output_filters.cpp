// Arbitrary lines through the three output filters. Input: a flag byte (bit 0 sjis_mode,
// bit 1 warnings_are_errors, bit 2 a length for the escaped name that disagrees with the
// name, taken from the second byte), the stem of the escaped name up to the first newline,
// then the lines, cut as the tool runner cuts them: up to a line feed or 511 bytes, zero
// bytes included. A filter may hide a line; only the compiler filter may change it, in one
// byte, '$' to 'c' right before a ':'; the linker filter counts at most one warning a line.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "driver/driver_state.h"
#include "tests/fuzz/fuzz_support.h"
#include "toolrun/filters.h"
#include "toolrun/tool_runner.h"

namespace {

bool begins_with_any(const char* line, std::initializer_list<std::string_view> patterns) {
  for (std::string_view pattern : patterns) {
    if (std::strncmp(line, pattern.data(), pattern.size()) == 0) return true;
  }
  return false;
}

struct Line {
  char text[line_buffer_size] = {};
};

// Bytes that differ between two lines, and where the last of them is.
std::size_t changed_bytes(const Line& before, const Line& after, std::size_t& at) {
  if (std::memcmp(&before, &after, sizeof before) == 0) return 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < line_buffer_size; ++i) {
    if (before.text[i] != after.text[i]) ++count, at = i;
  }
  return count;
}

void check_stage_filter(const Line& line) {
  Line copy = line;
  char* shown = filter_stage_output(copy.text);
  bool banner = begins_with_any(
      line.text, {"Pre Processor Completed", "Extend Completed", "Assembly Completed"});
  require(shown == (banner ? nullptr : copy.text), "stage filter hides exactly its banners");
  require(std::memcmp(&copy, &line, sizeof line) == 0, "stage filter changes nothing");
}

void check_linker_filter(const Line& line) {
  Line copy = line;
  const int count_before = state.warning_count;
  char* shown = filter_linker_output(copy.text);
  require(shown == (begins_with_any(line.text, {"Link Completed"}) ? nullptr : copy.text),
          "linker filter hides exactly its banner");
  require(std::memcmp(&copy, &line, sizeof line) == 0, "linker filter changes nothing");
  const int added = state.warning_count - count_before;
  const bool warning = shown != nullptr && state.warnings_are_errors &&
                       std::strstr(line.text, ": Warning: ") != nullptr;
  require(added == (warning ? 1 : 0), "one count per warning line");
}

void check_compiler_filter(const Line& line, bool lengths_agree) {
  Line copy = line;
  char* shown = filter_compiler_output(copy.text);
  bool banner = begins_with_any(
      line.text, {"GNU C Compiler for E0C33", "    gcc33 -S -x c ", "Compile Completed"});
  require(shown == (banner ? nullptr : copy.text), "compiler filter hides exactly its banners");
  std::size_t at = 0;
  std::size_t changed = changed_bytes(line, copy, at);
  require(changed <= 1, "at most one byte changed");
  if (changed == 0) return;
  require(!banner && state.sjis_mode != 0, "changed only when shown in Shift_JIS mode");
  require(copy.text[at] == 'c' && at < std::strlen(line.text), "changed to 'c' within the line");
  if (lengths_agree) require(line.text[at] == '$' && line.text[at + 1] == ':', "'$' before ':'");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  state = DriverState{};
  state.sjis_mode = data[0] & 1;
  state.warnings_are_errors = data[0] >> 1 & 1;
  const bool lengths_agree = !(data[0] & 4);
  std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  std::size_t feed = rest.find('\n');
  std::string stem(rest.substr(0, feed));
  rest.remove_prefix(feed == std::string_view::npos ? rest.size() : feed + 1);
  stem = stem.substr(0, std::min(stem.find('\0'), name_size - 3));
  copy_text(state.slots[escaped_or_object_slot].text, (stem + ".$").c_str());
  state.escaped_name_length =
      lengths_agree ? static_cast<int>(stem.size() + 2) : static_cast<int>(data[1]) - 8;
  while (!rest.empty()) {
    Line line;
    std::size_t take = std::min(rest.size(), line_buffer_size - 1);
    std::size_t line_feed = rest.substr(0, take).find('\n');
    if (line_feed != std::string_view::npos) take = line_feed + 1;
    std::memcpy(line.text, rest.data(), take);
    rest.remove_prefix(take);
    check_stage_filter(line);
    check_linker_filter(line);
    check_compiler_filter(line, lengths_agree);
  }
  return 0;
}
