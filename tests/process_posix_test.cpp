// The POSIX process layer against real processes: shell scripts that say which copy of a
// tool ran, and the stand-in tools of stub-bin for everything else.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "toolrun/process.h"

namespace {

namespace fs = std::filesystem;

struct Finished {
  int started;
  std::string output;
  int exit_code;
};

class ProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    original_directory_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "vexa_process_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    fs::current_path(directory_);
    set_env("PATH", VEXA_STUB_BIN);
  }

  void TearDown() override {
    fs::current_path(original_directory_);
    fs::remove_all(directory_);
    for (const auto& [name, value] : saved_env_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

  void set_env(const std::string& name, const std::string& value) {
    if (!saved_env_.contains(name)) {
      const char* old = std::getenv(name.c_str());
      saved_env_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    setenv(name.c_str(), value.c_str(), 1);
  }

  // A tool that prints `marker` and exits 0.
  static void write_script(const fs::path& path, const std::string& marker, bool executable) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\necho '" << marker << "'\n";
    fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read);
  }

  static Finished run(const char* tool_name, const char* argument_text) {
    ToolProcess tool;
    Finished finished{start_tool(tool, tool_name, argument_text), "", -1};
    if (finished.started != 0) return finished;
    char buffer[4096];
    long count;
    while ((count = read_tool_output(tool, buffer, sizeof buffer)) > 0)
      finished.output.append(buffer, count);
    finished.exit_code = finish_tool(tool);
    return finished;
  }

  static std::size_t open_descriptors() {
    return std::distance(fs::directory_iterator("/dev/fd"), fs::directory_iterator());
  }

  fs::path directory_;

 private:
  fs::path original_directory_;
  std::map<std::string, std::optional<std::string>> saved_env_;
};

struct Script {
  const char* path;
  const char* marker;
  bool executable = true;
};

struct LookupRow {
  const char* name;
  std::vector<Script> scripts;
  const char* path_variable;  // "@" stands for the test's directory
  const char* shown;          // nullptr: the start fails
};

TEST_F(ProcessTest, ToolIsLookedForHereThenOnPathExactNameFirst) {
  const LookupRow rows[] = {
      {"current directory first",
       {{"gcc33.exe", "here"}, {"bin/gcc33.exe", "path"}},
       "bin",
       "here"},
      {"PATH in order", {{"a/gcc33.exe", "a"}, {"b/gcc33.exe", "b"}}, "a:b", "a"},
      {"later PATH entry", {{"b/gcc33.exe", "b"}}, "a:b", "b"},
      {"absolute PATH entry", {{"b/gcc33.exe", "b"}}, "/nonexistent:@/b", "b"},
      {"exact name first", {{"gcc33", "bare"}, {"gcc33.exe", "exact"}}, "", "exact"},
      {"name without .exe", {{"bin/gcc33", "bare"}}, "bin", "bare"},
      {"directory before name form", {{"a/gcc33", "a"}, {"b/gcc33.exe", "b"}}, "a:b", "a"},
      {"empty entries skipped", {{"b/gcc33.exe", "b"}}, "::b:", "b"},
      {"other tool's name", {{"bin/as33.exe", "as"}}, "bin", nullptr},
      {"missing tool", {}, "a:b", nullptr},
      {"empty PATH", {{"b/gcc33.exe", "b"}}, "", nullptr},
      {"not executable", {{"bin/gcc33.exe", "path", false}}, "bin", nullptr},
      {"first found not executable",
       {{"gcc33.exe", "here", false}, {"bin/gcc33.exe", "path"}},
       "bin",
       nullptr},
  };
  for (const LookupRow& row : rows) {
    SCOPED_TRACE(row.name);
    for (const Script& script : row.scripts)
      write_script(script.path, script.marker, script.executable);
    std::string path_variable = row.path_variable;
    if (auto at = path_variable.find('@'); at != std::string::npos)
      path_variable.replace(at, 1, directory_.string());
    set_env("PATH", path_variable);
    std::size_t descriptors = open_descriptors();
    Finished finished = run("gcc33.exe", "");
    if (row.shown != nullptr) {
      EXPECT_EQ(finished.started, 0);
      EXPECT_EQ(finished.output, std::string(row.shown) + "\n");
      EXPECT_EQ(finished.exit_code, 0);
    } else {
      EXPECT_EQ(finished.started, start_failed);
    }
    EXPECT_EQ(open_descriptors(), descriptors) << "everything acquired is released";
    for (const fs::directory_entry& entry : fs::directory_iterator(directory_))
      fs::remove_all(entry.path());
  }
}

TEST_F(ProcessTest, ToolGetsItsNameThenTheArgumentTextSplitIntoWords) {
  const std::pair<const char*, const char*> rows[] = {
      {"", "as33.exe\n"},
      {"-g x.ms", "as33.exe\t-g\tx.ms\n"},
      {"  my  file.ms ", "as33.exe\tmy\tfile.ms\n"},
      {"\"my file.ms\" a\\\"b \"\"", "as33.exe\tmy file.ms\ta\"b\t\n"},
      {"$HOME;* `x` |y", "as33.exe\t$HOME;*\t`x`\t|y\n"},
  };
  set_env("VSTUB_AS33_NO_OUTPUT", "1");
  for (const auto& [text, logged] : rows) {
    SCOPED_TRACE(text);
    set_env("VSTUB_LOG", (directory_ / "log").string());
    EXPECT_EQ(run("as33.exe", text).exit_code, 0);
    std::ifstream log(directory_ / "log");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}), logged);
    fs::remove(directory_ / "log");
  }
}

struct EndRow {
  const char* name;
  std::vector<std::pair<const char*, const char*>> controls;
  int exit_code;
  const char* output;
};

TEST_F(ProcessTest, ExitCodeIsTheToolsOrOneHundredTwentyEightPlusItsSignal) {
  const EndRow rows[] = {
      {"success", {}, 0, "Assembly Completed\n"},
      {"exit code", {{"EXIT", "3"}}, 3, "Assembly Completed\n"},
      {"killed", {{"SIGNAL", "9"}, {"QUIET", "1"}}, 128 + SIGKILL, ""},
      {"terminated", {{"SIGNAL", "15"}, {"QUIET", "1"}}, 128 + SIGTERM, ""},
  };
  set_env("VSTUB_AS33_NO_OUTPUT", "1");
  for (const EndRow& row : rows) {
    SCOPED_TRACE(row.name);
    for (const char* key : {"EXIT", "SIGNAL", "QUIET"})
      set_env(std::string("VSTUB_AS33_") + key, "");
    for (const auto& [key, value] : row.controls) set_env(std::string("VSTUB_AS33_") + key, value);
    Finished finished = run("as33.exe", "x.ms");
    EXPECT_EQ(finished.exit_code, row.exit_code);
    EXPECT_EQ(finished.output, row.output);
  }
}

// The end of the output comes when the tool closes it; the exit code only when it ends.
TEST_F(ProcessTest, ToolThatClosesItsOutputEarlyIsWaitedFor) {
  using std::chrono::milliseconds;
  set_env("VSTUB_AS33_NO_OUTPUT", "1");
  set_env("VSTUB_AS33_CLOSE_STDOUT", "1");
  set_env("VSTUB_AS33_SLEEP_MS", "1500");
  set_env("VSTUB_AS33_EXIT", "7");
  auto begun = std::chrono::steady_clock::now();
  ToolProcess tool;
  ASSERT_EQ(start_tool(tool, "as33.exe", "x.ms"), 0);
  char buffer[256];
  EXPECT_EQ(read_tool_output(tool, buffer, sizeof buffer), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, milliseconds(1000));
  EXPECT_EQ(finish_tool(tool), 7);
  EXPECT_GE(std::chrono::steady_clock::now() - begun, milliseconds(1400));
}

TEST_F(ProcessTest, LargeOutputIsDrainedToTheEnd) {
  set_env("VSTUB_AS33_NO_OUTPUT", "1");
  set_env("VSTUB_AS33_QUIET", "1");
  set_env("VSTUB_AS33_FLOOD", "3000001");
  set_env("VSTUB_AS33_EXIT", "4");
  Finished finished = run("as33.exe", "x.ms");
  EXPECT_EQ(finished.output.size(), 3000001u);
  EXPECT_EQ(finished.exit_code, 4);
}

TEST_F(ProcessTest, IgnoredInterruptionsStayIgnored) {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous;
  ASSERT_EQ(sigaction(SIGINT, &ignore, &previous), 0);
  install_interrupt_handlers();
  struct sigaction now;
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  sigaction(SIGTERM, nullptr, &now);
  EXPECT_TRUE(now.sa_flags & SA_SIGINFO) << "SIGTERM is caught";
  sigaction(SIGINT, &previous, nullptr);
}

// A signal sent to the driver alone reaches the running tool, and is remembered so the
// step fails. Last in this file: the interruption stays recorded.
TEST_F(ProcessTest, InterruptionSentToTheDriverIsForwardedToTheTool) {
  install_interrupt_handlers();
  EXPECT_EQ(interrupt_signal(), 0);
  set_env("VSTUB_AS33_NO_OUTPUT", "1");
  set_env("VSTUB_AS33_SLEEP_MS", "20000");
  const std::pair<const char*, int> senders[] = {{"kill", SIGTERM}, {"sigqueue", SIGINT}};
  for (const auto& [sender, signal] : senders) {
    SCOPED_TRACE(sender);
    auto begun = std::chrono::steady_clock::now();
    ToolProcess tool;
    ASSERT_EQ(start_tool(tool, "as33.exe", "x.ms"), 0);
    if (signal == SIGTERM) {
      ASSERT_EQ(kill(getpid(), signal), 0);
    } else {
      ASSERT_EQ(sigqueue(getpid(), signal, sigval{}), 0);
    }
    char buffer[256];
    while (read_tool_output(tool, buffer, sizeof buffer) > 0) {
    }
    EXPECT_EQ(finish_tool(tool), 128 + signal);
    EXPECT_EQ(interrupt_signal(), signal);
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
  }
}

}  // namespace
