#include "toolrun/tool_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "driver/driver_state.h"
#include "tests/fake_platform.h"
#include "toolrun/console.h"
#include "toolrun/filters.h"
#include "toolrun/process.h"

namespace {

std::vector<std::string> filtered_lines;

FakeTool script(std::string output, int exit_code = 0) {
  FakeTool tool;
  tool.output = std::move(output);
  tool.exit_code = exit_code;
  return tool;
}

// Shows every line and remembers what the runner handed it.
char* record_line(char* line) {
  filtered_lines.emplace_back(line);
  return line;
}

class ToolRunnerTest : public testing::Test {
 protected:
  void SetUp() override {
    fake_platform_reset();
    state = DriverState{};
    filtered_lines.clear();
  }
  void TearDown() override {
    if (capturing_) shown();
  }

  void capture() {
    testing::internal::CaptureStdout();
    capturing_ = true;
  }
  // What the driver wrote on standard output since capture(); ends the capture.
  std::string shown() {
    flush_out();
    capturing_ = false;
    return testing::internal::GetCapturedStdout();
  }

 private:
  bool capturing_ = false;
};

struct LinesRow {
  const char* name;
  std::string output;
  std::vector<std::string> lines;
  std::string shown;
};

TEST_F(ToolRunnerTest, OutputIsCutIntoLinesAsAFiveHundredTwelveByteReadWould) {
  const std::string x511(511, 'x');
  const LinesRow rows[] = {
      {"no output", "", {}, ""},
      {"two lines", "one\ntwo\n", {"one\n", "two\n"}, "one\ntwo\n"},
      {"last line without line feed", "one\ntwo", {"one\n", "two"}, "one\ntwo"},
      {"empty lines", "\n\n", {"\n", "\n"}, "\n\n"},
      {"carriage return kept", "a\r\nb\r\n", {"a\r\n", "b\r\n"}, "a\r\nb\r\n"},
      {"lone carriage return", "a\rb\n", {"a\rb\n"}, "a\rb\n"},
      {"511 bytes with line feed",
       std::string(510, 'x') + "\n",
       {std::string(510, 'x') + "\n"},
       std::string(510, 'x') + "\n"},
      {"line feed after 511 bytes", x511 + "\n", {x511, "\n"}, x511 + "\n"},
      {"long line in chunks",
       x511 + x511 + "tail\n",
       {x511, x511, "tail\n"},
       x511 + x511 + "tail\n"},
      {"zero byte ends the shown line", std::string("ab\0cd\nef\n", 9), {"ab", "ef\n"}, "abef\n"},
      {"zero byte in a last line", std::string("ab\0cd", 5), {"ab"}, "ab"},
      {"zero byte first", std::string("\0ab\nc\n", 6), {"", "c\n"}, "c\n"},
  };
  for (const LinesRow& row : rows) {
    for (std::size_t read_size : {1, 7, 4096}) {
      SCOPED_TRACE(std::string(row.name) + ", read size " + std::to_string(read_size));
      fake_platform_reset();
      filtered_lines.clear();
      capture();
      FakeTool tool = script(row.output);
      tool.read_size = read_size;
      fake_tool("pp33.exe", tool);
      EXPECT_EQ(run_tool("pp33.exe", "x.s", record_line), 0);
      EXPECT_EQ(filtered_lines, row.lines);
      EXPECT_EQ(shown(), row.shown);
    }
  }
}

// Hides lines that begin with 'h' and capitalises the 'm' that begins a line.
char* hide_h_mark_m(char* line) {
  if (line[0] == 'h') return nullptr;
  if (line[0] == 'm') line[0] = 'M';
  return line;
}

// Many lines, every third one hidden: more than the runner reads at once.
std::pair<std::string, std::string> mixed_flood() {
  std::string output, shown;
  for (int i = 0; i < 30000; ++i) {
    std::string line = (i % 3 == 0 ? "h" : i % 3 == 1 ? "m" : "p") + std::to_string(i) + "\n";
    output += line;
    if (i % 3 == 1) line[0] = 'M';
    if (i % 3 != 0) shown += line;
  }
  return {output, shown};
}

TEST_F(ToolRunnerTest, HiddenAndChangedLinesLeaveTheOthersWhole) {
  const std::string x600(600, 'x');
  const auto [flood, flood_shown] = mixed_flood();
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"h1\na\nb\n", "a\nb\n"},
      {"a\nh\nb\n", "a\nb\n"},
      {"a\nb\nh\n", "a\nb\n"},
      {"h\nh\n", ""},
      {"h\nm1\nm2\n", "M1\nM2\n"},
      {"a\nh", "a\n"},
      {std::string("h\nab\0cd\nef\n", 11), "abef\n"},
      {std::string("m\0\nh\nz", 7), "Mz"},
      // The line's first 511 bytes are a line of their own, hidden; the rest is shown.
      {"h" + x600 + "\nz\n", std::string(90, 'x') + "\nz\n"},
      {flood, flood_shown},
  };
  for (const auto& [output, expected] : rows) {
    for (std::size_t read_size : {1, 7, 4096, 1 << 20}) {
      SCOPED_TRACE(output.substr(0, 20) + ", read size " + std::to_string(read_size));
      capture();
      FakeTool tool = script(output);
      tool.read_size = read_size;
      fake_tool("as33.exe", tool);
      EXPECT_EQ(run_tool("as33.exe", "x.ms", hide_h_mark_m), 0);
      EXPECT_EQ(shown(), expected);
    }
  }
}

TEST_F(ToolRunnerTest, FilterDecidesWhatIsShownAfterChangingTheLineInPlace) {
  capture();
  state.escaped_name_length = 6;
  std::strcpy(state.slots[escaped_or_object_slot].text, "main.$");
  fake_tool("gcc33.exe",
            script("GNU C Compiler for E0C33\nmain.$:3: error\nCompile Completed\n", 1));
  EXPECT_EQ(run_tool("gcc33.exe", "-S -x c main.$", filter_compiler_output), 1);
  EXPECT_EQ(shown(), "main.c:3: error\n");
}

struct ExitRow {
  const char* name;
  const char* output;
  int exit_code;
  int start_result;
  int returned;
  const char* shown;
};

TEST_F(ToolRunnerTest, ReturnsTheToolsExitCodeOrTheRunnersOwn) {
  const ExitRow rows[] = {
      {"success", "ok\n", 0, 0, 0, "ok\n"},
      {"failure", "bad\n", 3, 0, 3, "bad\n"},
      {"negative", "", -1073741819, 0, -1073741819, ""},
      {"tool's own 259", "", 259, 0, 259, ""},
      {"tool not started", "never\n", 0, start_failed, 259,
       "Process create error 'as33.exe -g x.ms'\n"},
      {"no pipe", "never\n", 0, pipe_failed, 1, ""},
  };
  for (const ExitRow& row : rows) {
    SCOPED_TRACE(row.name);
    capture();
    FakeTool tool = script(row.output, row.exit_code);
    tool.start_result = row.start_result;
    fake_tool("as33.exe", tool);
    EXPECT_EQ(run_tool("as33.exe", "-g x.ms", record_line), row.returned);
    EXPECT_EQ(shown(), row.shown);
  }
}

TEST_F(ToolRunnerTest, VerboseFramesTheRunAndShowsEveryLineUnchanged) {
  capture();
  state.verbose = 1;
  state.escaped_name_length = 6;
  std::strcpy(state.slots[escaped_or_object_slot].text, "main.$");
  fake_tool("gcc33.exe", script("Compile Completed\nmain.$:3: warning\n", 2));
  EXPECT_EQ(run_tool("gcc33.exe", "-S -x c main.$", filter_compiler_output), 2);
  EXPECT_EQ(shown(),
            "--------\ngcc33.exe -S -x c main.$\n"
            "Compile Completed\nmain.$:3: warning\n"
            "Exitcode = 2\n");
}


TEST_F(ToolRunnerTest, VerboseReportsAFailedStart) {
  capture();
  state.verbose = 1;
  FakeTool refused;
  refused.start_result = start_failed;
  fake_tool("lk33.exe", refused);
  EXPECT_EQ(run_tool("lk33.exe", "-c x.cm", filter_linker_output), 259);
  EXPECT_EQ(shown(),
            "--------\nlk33.exe -c x.cm\n"
            "Process create error 'lk33.exe -c x.cm'\n"
            "Exitcode = 259\n");
}

// A tool writes to the console on its own (its standard error): the driver's buffered
// messages must be out before it starts.
TEST_F(ToolRunnerTest, DriverMessagesReachTheConsoleBeforeTheToolStarts) {
  capture();
  FakeTool tool = script("captured\n");
  tool.action = [](const std::string&) { ASSERT_EQ(write(STDOUT_FILENO, "direct\n", 7), 7); };
  fake_tool("as33.exe", tool);
  print_out("Delete 'x.ps'\n");
  run_tool("as33.exe", "x.ms", record_line);
  EXPECT_EQ(shown(), "Delete 'x.ps'\ndirect\ncaptured\n");
}

TEST_F(ToolRunnerTest, InterruptionBeforeTheStartStartsNothing) {
  capture();
  fake_interrupt(2);
  fake_tool("as33.exe", script("never\n"));
  EXPECT_EQ(run_tool("as33.exe", "x.ms", record_line), 130);
  EXPECT_TRUE(fake_runs().empty());
  EXPECT_EQ(shown(), "");
}

TEST_F(ToolRunnerTest, InterruptionDuringTheRunFailsTheStepAfterTheOutput) {
  capture();
  FakeTool tool = script("partial\n");
  tool.action = [](const std::string&) { fake_interrupt(15); };
  fake_tool("as33.exe", tool);
  EXPECT_EQ(run_tool("as33.exe", "x.ms", record_line), 143);
  EXPECT_EQ(shown(), "partial\n");
}

}  // namespace
