// A tool's output, arbitrary bytes handed over in reads of a chosen size by the fake
// process layer, through run_tool, compared with a model of the runner written from its
// rules: lines end after a line feed or after 511 bytes, as a 512-byte fgets cuts them; a
// zero byte ends a line for the filter and the screen; a last line without a line feed
// counts too; under -v every line is shown whole, framed by the trace, and the filter
// still counts warnings. Input: a flag byte (bits 0-1 pick the stage, compiler or linker
// filter, bit 2 -v, bit 3 sjis_mode, bit 4 warnings_are_errors, bits 5-7 the exit code),
// two bytes of read size, then the output.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/driver_state.h"
#include "tests/fake_platform.h"
#include "tests/fuzz/fuzz_support.h"
#include "toolrun/filters.h"
#include "toolrun/tool_runner.h"

namespace {

constexpr OutputFilter filters[] = {filter_stage_output, filter_compiler_output,
                                    filter_linker_output, filter_stage_output};

// What the user sees of `output`, with the filter's counts left in `state`.
std::string model_shown(const std::string& output, OutputFilter filter) {
  std::string shown;
  for (std::size_t at = 0; at < output.size();) {
    std::size_t length = std::min(output.size() - at, line_buffer_size - 1);
    std::size_t feed = output.find('\n', at);
    if (feed != std::string::npos && feed - at < length) length = feed - at + 1;
    char line[line_buffer_size] = {};
    output.copy(line, length, at);
    at += length;
    if (state.verbose) {
      char copy[line_buffer_size];
      std::memcpy(copy, line, sizeof line);
      filter(copy);
      shown += line;
    } else if (filter(line) != nullptr) {
      shown += line;
    }
  }
  return shown;
}

// Runs `step` with the driver's standard output caught.
template <typename Step>
std::string caught_output(Step step) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* caught = open_memstream(&text, &size);
  require(caught != nullptr, "memory stream");
  std::FILE* real_out = stdout;
  stdout = caught;
  step();
  std::fflush(caught);
  stdout = real_out;
  std::fclose(caught);
  std::string result(text, size);
  std::free(text);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t flags = data[0];
  const OutputFilter filter = filters[flags & 3];
  state = DriverState{};
  state.verbose = flags >> 2 & 1;
  state.sjis_mode = flags >> 3 & 1;
  state.warnings_are_errors = flags >> 4 & 1;
  copy_text(state.slots[escaped_or_object_slot].text, "a.$");
  state.escaped_name_length = 3;
  FakeTool tool;
  tool.output.assign(reinterpret_cast<const char*>(data + 3), size - 3);
  tool.exit_code = flags >> 5;
  tool.read_size = 1 + (data[1] | data[2] << 8) % 2048;

  const DriverState before = state;
  std::string expected = model_shown(tool.output, filter);
  if (state.verbose) {
    expected = "--------\ntool.exe a.$\n" + expected +
               "Exitcode = " + std::to_string(tool.exit_code) + "\n";
  }
  const int expected_warnings = state.warning_count;
  state = before;

  fake_platform_reset();
  fake_tool("tool.exe", tool);
  int result = 0;
  const std::string shown = caught_output([&] { result = run_tool("tool.exe", "a.$", filter); });
  require(result == tool.exit_code, "the tool's exit code");
  require(shown == expected, "shown as the model");
  require(state.warning_count == expected_warnings, "warnings as the model");
  return 0;
}
