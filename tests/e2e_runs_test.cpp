// Runs a table row cannot describe: a flood and a line too long for a row, a tool that
// closes its output and runs on, signals while a tool runs, the driver's own location and
// the version it names.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <vector>

#include "driver/usage.h"
#include "tests/e2e_harness.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::steady_clock;

class OwnRun : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    write_file("a.c", "int a;\n");
    write_file("b.s", "; b\n");
  }

  // Back to the two sources, for the next case.
  void start_over() {
    fs::remove(work().parent_path() / "tools.log");
    for (const auto& name : files()) {
      if (name != "a.c" && name != "b.s") fs::remove_all(name);
    }
  }
};

}  // namespace

TEST_F(OwnRun, EveryLineOfAFloodIsDrainedAndTheExitCodeStillComesThrough) {
  // 1,250,000 lines of 80 bytes; every eighth begins with the extender's banner and is hidden.
  RunResult result =
      run({"-c", "b.s"}, {{"VSTUB_EXT33_FLOOD", "100000000"}, {"VSTUB_EXT33_EXIT", "3"}});
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(result.out.size(), 87500000u);
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1093750);
  EXPECT_EQ(result.out.find("Extend Completed"), std::string::npos);
  EXPECT_EQ(files(), (Lines{"a.c", "b.ps", "b.s"}));
}

TEST_F(OwnRun, ALineOfAMebibyteIsShownAsItCame) {
  // Without a line feed it reaches the filter in 511-byte pieces; only the first begins with
  // the banner.
  RunResult result = run({"-c", "b.s"}, {{"VSTUB_EXT33_FLOOD", "1048576"},
                                         {"VSTUB_EXT33_LINE", "2000000"},
                                         {"VSTUB_EXT33_QUIET", "1"}});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out.size(), 1048576u - 511u);
  EXPECT_EQ(result.out.find('\n'), std::string::npos);
  EXPECT_EQ(files(), (Lines{"a.c", "b.o", "b.s"}));
}

TEST_F(OwnRun, TheEndOfAToolsOutputIsNotTheEndOfTheTool) {
  const auto begin = steady_clock::now();
  RunResult result = run(
      {"-c", "b.s"},
      {{"VSTUB_AS33_CLOSE_STDOUT", "1"}, {"VSTUB_AS33_SLEEP_MS", "700"}, {"VSTUB_AS33_EXIT", "6"}});
  EXPECT_GE(steady_clock::now() - begin, std::chrono::milliseconds(700));
  EXPECT_EQ(result.exit_code, 6);
  EXPECT_EQ(files(), (Lines{"a.c", "b.ms", "b.s"}));
}

TEST_F(OwnRun, FindsItsConfigurationAndInstallationFromItsOwnLocation) {
  const fs::path bin = work().parent_path() / "install" / "bin";
  const std::string beside = (bin / use_driver_copy_in(bin).stem()).string() + ".cfg";
  const std::string lib = installation_dir("lib"), separator = windows_driver() ? "\\" : "/";
  const struct {
    const char* name;
    std::string here, beside;  // vexa.cfg here and the file beside the driver; none when empty
    std::string include_word, lib_dir;
    Lines default_libraries;
  } rows[] = {
      {"no configuration", "", "", "-I" + installation_dir("include"), lib, {}},
      {"beside the driver, CR LF lines",
       "",
       "INC=incdir\r\nLIB=libdir\r\nx.LIB\r\n",
       "-Iincdir",
       "libdir",
       {"x.LIB"}},
      {"the current directory's file wins", "INC=here\n", "INC=beside\nb.lib\n", "-Ihere", lib, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    start_over();
    fs::remove(beside);
    if (!row.here.empty()) write_file("vexa.cfg", row.here);
    if (!row.beside.empty()) write_file(beside, row.beside);
    EXPECT_EQ(run({"a.c"}).exit_code, 0);
    const auto records = tools();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].command_line(), "gcc33.exe -S -x c " + row.include_word + " a.$");
    Lines command_file = {"-v3",
                          "-objsym",
                          "-addr 0x100000 {DEFAULT_CODE DEFAULT_DATA DEFAULT_BSS}",
                          "-l " + row.lib_dir,
                          "-o a.srf",
                          row.lib_dir + separator + "cstart.o",
                          "a.o"};
    command_file.insert(command_file.end(), row.default_libraries.begin(),
                        row.default_libraries.end());
    EXPECT_EQ(records.back().command_file, command_file);
  }
}

TEST_F(OwnRun, VersionAnswersWhereverItStandsAndNamesTheBuild) {
  const std::string usage = usage_text, banner = usage.substr(0, usage.find('\n') + 1);
  const RunResult version = run({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.substr(0, banner.size()), banner);
  const std::regex version_line("vexa [0-9]+\\.[0-9]+\\.[0-9]+ for [A-Za-z]+ [A-Za-z0-9_]+\n");
  EXPECT_TRUE(std::regex_match(version.out.substr(banner.size()), version_line)) << version.out;
  for (const Lines& words : {Lines{"b.s", "--version"}, Lines{"--version", "-###", "--help"}}) {
    const RunResult result = run(words);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, version.out);
    EXPECT_EQ(result.err, "");
  }
  EXPECT_TRUE(tools().empty());
  EXPECT_EQ(files(), (Lines{"a.c", "b.s"}));
}

// SIGINT reaches a Windows driver under Wine as Ctrl-C.
TEST_F(OwnRun, AnInterruptionFailsTheRunAndStartsNoFurtherTool) {
  RunResult result = run_interrupted_in("ext33.exe", {"b.s"}, {{"VSTUB_EXT33_SLEEP_MS", "1500"}});
  EXPECT_EQ(result.exit_code, 130);
  EXPECT_EQ(tool_names(), (Lines{"pp33.exe", "ext33.exe"}));
}

TEST_F(OwnRun, AnInterruptionStopsTheToolAndDeletesWhatTheStepWouldOnFailure) {
  if (windows_driver()) GTEST_SKIP() << "signals are POSIX";
  const struct {
    const char* name;
    const char* tool;
    Lines words;
    const char* made;  // the tool's output: the signal comes once it is there
    int signal;
    Lines left;  // besides a.c, b.s and c.ps
  } rows[] = {
      {"SIGINT in the compiler", "gcc33", {"a.c"}, "a.ps", SIGINT, {}},
      {"SIGTERM in the compiler", "gcc33", {"a.c"}, "a.ps", SIGTERM, {}},
      {"SIGINT in the compiler with -b", "gcc33", {"-b", "a.c"}, "a.ps", SIGINT, {"a.$", "a.ps"}},
      {"SIGTERM in the extender of a user's file", "ext33", {"c.ps"}, "c.ms", SIGTERM, {}},
      {"SIGINT in the assembler", "as33", {"b.s"}, "b.o", SIGINT, {"b.ms"}},
      {"SIGHUP in the assembler", "as33", {"b.s"}, "b.o", SIGHUP, {"b.ms"}},
      {"SIGTERM in the linker", "lk33", {"b.s"}, "b.srf", SIGTERM, {"b.o"}},
      {"SIGINT in the linker with -b",
       "lk33",
       {"-b", "b.s"},
       "b.srf",
       SIGINT,
       {"__tmp__.cm", "b.ms", "b.o", "b.ps", "b.srf"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    start_over();
    write_file("c.ps", "; c\n");
    std::string sleep = std::string("VSTUB_") + row.tool + "_SLEEP_MS";
    std::transform(sleep.begin(), sleep.end(), sleep.begin(), ::toupper);
    const auto begin = steady_clock::now();
    const int pid = start_driver(row.words, {{sleep, "8000"}});
    for (int waited = 0; pid > 0 && waited < 20000 && !fs::exists(row.made); waited += 10) {
      usleep(10000);
    }
    if (pid > 0) kill(pid, row.signal);
    RunResult result = wait_for_driver(pid);
    // The tool got the signal too: the run did not wait out its sleep.
    EXPECT_LT(steady_clock::now() - begin, std::chrono::seconds(6));
    EXPECT_EQ(result.exit_code, 128 + row.signal);
    EXPECT_EQ(tool_names().back(), row.tool + std::string(".exe"));
    Lines left = row.left;
    left.insert(left.end(), {"a.c", "b.s", "c.ps"});
    std::sort(left.begin(), left.end());
    EXPECT_EQ(files(), left);
    EXPECT_EQ(read_file("c.ps"), "; c\n");
  }
}

TEST_F(OwnRun, ASignalIgnoredAtTheStartStaysIgnored) {
  if (windows_driver()) GTEST_SKIP() << "signal dispositions are POSIX";
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    start_over();
    RunResult result = run_interrupted_in("gcc33.exe", {"a.c"}, {{"VSTUB_GCC33_SLEEP_MS", "500"}},
                                          signal, {.interrupts_ignored = true});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(tool_names().back(), "lk33.exe");
    EXPECT_EQ(files(), (Lines{"a.c", "a.o", "a.srf", "b.s"}));
  }
}
