// The POSIX process layer against real processes: shell scripts that say which copy of a
// tool ran, and the stand-in tools of stub-bin where a tool must wait or log its start.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "toolrun/platform_process.h"
#include "toolrun/tool_runner.h"

// Every kill this program sends, its signal handler's included, comes here (the link wraps
// kill), so a test can count whom a signal went to. A process group is never signalled: a
// fault must not stop the test runner.
volatile sig_atomic_t kills = 0;
extern "C" int __real_kill(pid_t pid, int signal);
extern "C" int __wrap_kill(pid_t pid, int signal) {
  kills = kills + 1;
  return pid > 0 ? __real_kill(pid, signal) : 0;
}

namespace {

namespace fs = std::filesystem;

// Each test in a directory of its own, with the stand-in tools on PATH.
class ProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("vexa_process_" + std::to_string(getpid()));
    fs::create_directories(directory_);
    fs::current_path(directory_);
    setenv("PATH", VEXA_STUB_BIN, 1);
    setenv("VSTUB_LOG", (directory_ / "log").c_str(), 1);
    setenv("VSTUB_AS33_NO_OUTPUT", "1", 1);
    setenv("VSTUB_AS33_SLEEP_MS", "0", 1);
    setenv("VSTUB_AS33_QUIET", "1", 1);  // no output: a test may close the pipe at once
  }
  void TearDown() override {
    fs::current_path(directory_.parent_path());
    fs::remove_all(directory_);
  }
  // Runs the tool to its end; its output, or "not started".
  static std::string run(const char* tool_name) {
    ToolProcess tool;
    if (start_tool(tool, tool_name, "x.ms") != ToolStart::started) return "not started";
    std::string output;
    char buffer[4096];
    for (long count; (count = read_tool_output(tool, buffer, sizeof buffer)) > 0;)
      output.append(buffer, count);
    ToolEnd end;
    finish_tool(tool, end);
    return output;
  }
  fs::path directory_;
};

struct LookupRow {
  const char* name;
  // Each prints its own path; a leading '-': not executable; a trailing '/': a folder.
  std::vector<std::string> scripts;
  std::string path_variable;
  std::string shown;
};

TEST_F(ProcessTest, ToolIsLookedForHereThenOnPathExactNameFirst) {
  const LookupRow rows[] = {
      {"current directory first", {"gcc33.exe", "bin/gcc33.exe"}, "bin", "gcc33.exe"},
      {"PATH in order", {"a/gcc33.exe", "b/gcc33.exe"}, "a:b", "a/gcc33.exe"},
      {"exact name first", {"gcc33", "gcc33.exe"}, "", "gcc33.exe"},
      {"name without .exe", {"bin/gcc33"}, "bin", "bin/gcc33"},
      {"directory before name form", {"a/gcc33", "b/gcc33.exe"}, "a:b", "a/gcc33"},
      {"empty entries skipped", {"b/gcc33.exe"}, "::b:", "b/gcc33.exe"},
      {"empty PATH", {"b/gcc33.exe"}, "", "not started"},
      {"not executable", {"-bin/gcc33.exe"}, "bin", "not started"},
      {"first found not executable", {"-gcc33.exe", "bin/gcc33.exe"}, "bin", "bin/gcc33.exe"},
      {"first found a folder", {"a/gcc33.exe/", "b/gcc33.exe"}, "a:b", "b/gcc33.exe"},
  };
  for (const LookupRow& row : rows) {
    SCOPED_TRACE(row.name);
    for (const std::string& script : row.scripts) {
      const fs::path path = script.substr(script[0] == '-');
      if (script.ends_with('/')) {
        fs::create_directories(path);
        continue;
      }
      if (path.has_parent_path()) fs::create_directories(path.parent_path());
      std::ofstream(path) << "#!/bin/sh\necho " << path.string() << "\n";
      fs::permissions(path, script[0] == '-' ? fs::perms::owner_read : fs::perms::owner_all);
    }
    setenv("PATH", row.path_variable.c_str(), 1);
    const auto descriptors = std::distance(fs::directory_iterator("/dev/fd"), {});
    EXPECT_EQ(run("gcc33.exe"), row.shown == "not started" ? row.shown : row.shown + "\n");
    EXPECT_EQ(std::distance(fs::directory_iterator("/dev/fd"), {}), descriptors) << "all released";
    for (const fs::directory_entry& entry : fs::directory_iterator(directory_))
      fs::remove_all(entry.path());
  }
}

// A tool left unfinished (a path that returns early) is waited for and its pipe closed when
// it goes: no descriptor stays open and no child unwaited.
TEST_F(ProcessTest, AToolThatGoesUnfinishedIsWaitedForAndItsPipeClosed) {
  const auto descriptors = std::distance(fs::directory_iterator("/dev/fd"), {});
  {
    ToolProcess tool;
    ASSERT_EQ(start_tool(tool, "as33.exe", "x.ms"), ToolStart::started);
    ToolProcess moved(std::move(tool));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator("/dev/fd"), {}), descriptors);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "no child left to wait for";
  EXPECT_EQ(errno, ECHILD);
}

// Sent to the driver alone (a terminal's Ctrl-C reaches the tool by itself), a signal is
// passed on to the running tool and remembered, so the step fails. A closed output pipe
// stops the tool as a kill would.
TEST_F(ProcessTest, InterruptionSentToTheDriverIsForwardedToTheTool) {
  install_interrupt_handlers();
  setenv("VSTUB_AS33_SLEEP_MS", "20000", 1);
  for (int signal : {SIGTERM, SIGINT, SIGPIPE}) {
    ToolProcess tool;
    ASSERT_EQ(start_tool(tool, "as33.exe", "x.ms"), ToolStart::started);
    ASSERT_EQ(signal == SIGTERM ? kill(getpid(), signal) : sigqueue(getpid(), signal, sigval{}), 0);
    char buffer[64];
    while (read_tool_output(tool, buffer, sizeof buffer) > 0) {
    }
    ToolEnd end;
    EXPECT_TRUE(finish_tool(tool, end));
    EXPECT_EQ(end.exit_code, 128 + (signal == SIGPIPE ? SIGTERM : signal));
    EXPECT_EQ(interrupt_signal(), signal);
  }
}

// Between two tools none runs: a stop is passed on to no process, the tool that ended
// included (once reaped, its pid may be a stranger's), and the next tool is not started.
TEST_F(ProcessTest, StopBetweenToolsReachesNoProcessAndEndsTheRunBeforeTheNextTool) {
  install_interrupt_handlers();
  run("as33.exe");
  const int kills_before = kills;
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  EXPECT_EQ(kills, kills_before + 1) << "only the one to the driver itself";
  EXPECT_EQ(interrupt_signal(), SIGTERM);
  EXPECT_EQ(run_tool("as33.exe", "x.ms", [](char* line) { return line; }), 128 + SIGTERM);
  std::ifstream log(directory_ / "log");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}), "as33.exe\tx.ms\n")
      << "the first tool alone was started";
}

// A worker finds its channel only where a parent could have handed one: two pipes' numbers,
// neither a standard stream. It takes the chains' states whole, in order, until the channel
// closes; part of one, or a length no driver hands, is no state.
TEST(WorkerChannel, IsFoundOnlyAsHandedAndGivesWholeStatesOnly) {
  constexpr const char* variable = "VEXA_TEST_CHANNEL";
  for (const char* value : {"", "1,2", "7", "7,8x", "7,7"}) {
    setenv(variable, value, 1);
    WorkerChannel channel;
    EXPECT_FALSE(open_worker_channel(variable, channel)) << value;
    EXPECT_EQ(getenv(variable), nullptr) << value;
  }
  auto frame = [](std::uint32_t length, std::string bytes) {
    return std::string(reinterpret_cast<const char*>(&length), sizeof length) + bytes;
  };
  const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
      {"", {}},
      {frame(3, "abc") + frame(0, "") + frame(2, "de"), {"abc", "", "de"}},
      {frame(3, "abc").substr(0, 2), {"unreadable"}},
      {frame(5, "abc"), {"unreadable"}},
      {frame(most_handed_bytes + 1, "abc"), {"unreadable"}},
  };
  for (const auto& [written, states] : rows) {
    int state_pipe[2];
    int report_pipe[2];
    ASSERT_EQ(pipe(state_pipe), 0);
    ASSERT_EQ(pipe(report_pipe), 0);
    ASSERT_EQ(write(state_pipe[1], written.data(), written.size()),
              static_cast<ssize_t>(written.size()));
    close(state_pipe[1]);
    setenv(variable, (std::to_string(state_pipe[0]) + "," + std::to_string(report_pipe[1])).c_str(),
           1);
    WorkerChannel channel;
    ASSERT_TRUE(open_worker_channel(variable, channel));
    std::vector<std::string> taken;
    for (std::string bytes; take_handed_bytes(channel, bytes) && taken.size() < 5;)
      taken.push_back(bytes);
    EXPECT_EQ(taken, states) << written.size() << " bytes";
    report_chain_end(channel, 259);
    std::int32_t reported = 0;
    EXPECT_EQ(read(report_pipe[0], &reported, sizeof reported), 4);
    EXPECT_EQ(reported, 259);
    close(report_pipe[0]);
  }
}

}  // namespace
