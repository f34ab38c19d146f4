// Words of a command line through handle_argument, with the fake process layer and a
// temporary working directory that holds one C source. The first input byte scripts the
// tools: bit i makes tool i fail with a message. The rest is split into words at NUL and
// newline. After every word (and after the link) no text field is overrun, plus_state is a
// known state, nothing is printed without a failure (outside -v and -###), and no
// failure goes unsaid.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/configuration.h"
#include "driver/driver_state.h"
#include "driver/run_sequence.h"
#include "pipeline/link.h"
#include "tests/fake_platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const char* const tool_names[] = {"gcc33.exe", "pp33.exe", "ext33.exe", "as33.exe", "lk33.exe"};

// Keeps every file the driver names inside the working directory: no absolute paths, no
// way up.
std::string local_word(std::string word) {
  if (!word.empty() && word[0] == '/') word[0] = '_';
  for (std::size_t at = 0; (at = word.find("..", at)) != std::string::npos;) word[++at] = '_';
  return word;
}

std::vector<std::string> split_words(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\0' || data[i] == '\n') {
      words.emplace_back();
    } else {
      words.back() += static_cast<char>(data[i]);
    }
  }
  for (std::string& word : words) word = local_word(word);
  return words;
}

void script_tools(std::uint8_t failing) {
  for (int i = 0; i < 5; ++i) {
    if (!(failing >> i & 1)) continue;
    FakeTool tool;
    tool.exit_code = 1 + i;
    tool.output = std::string(tool_names[i]) + ": failed\n";
    fake_tool(tool_names[i], tool);
  }
}

// One step of the run: a word, or the link.
template <typename Step>
void checked_step(CountedConsole& console, Step step) {
  const std::size_t printed = console.count(step);
  require_fields_terminated();
  require(state.plus_state <= 3, "plus_state in 0..3");
  const bool traced = state.verbose || state.dry_run;
  if (!traced) require(printed == 0 || state.status != 0, "printed only on failure");
  // A step runs only while status is 0, so a failure is this step's own.
  require(state.status == 0 || printed > 0, "a failure says so");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("vexa-fuzz-words-" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  std::filesystem::current_path(directory);
  std::ofstream("a.c", std::ios::binary) << "char s[] = \"\x95\x5C\";\n";
  // Kept after a crash, with the files of the failing run.
  std::atexit([] {
    std::error_code error;
    std::filesystem::remove_all(directory, error);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CountedConsole console;
  if (size == 0) return 0;
  state = DriverState{};
  fake_platform_reset();
  script_tools(data[0]);
  console.count(load_configuration);
  for (const std::string& word : split_words(data + 1, size - 1)) {
    if (state.status != 0) break;
    checked_step(console, [&word] { handle_argument(word.c_str()); });
  }
  if (state.file_count > 0 && state.stage_limit >= 3 && state.status == 0) {
    checked_step(console, [] {
      if (state.make_command_file) {
        link_generated();
      } else {
        link_user_command_file();
      }
    });
  }
  return 0;
}
