// Runs a table row cannot describe: a flood and a line too long for a row, a tool that
// closes its output and runs on, the driver's own location and the version it names.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
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

TEST_F(OwnRun, OddOutputIsShownAsItCameAndTheToolIsWaitedFor) {
  // A line of 1 MiB without a line feed reaches the filter in 511-byte pieces; only the first
  // begins with the banner. The end of the assembler's output is not the end of the assembler.
  const auto begin = steady_clock::now();
  // clang-format off
  RunResult result = run({"-c", "b.s"}, {{"VSTUB_EXT33_FLOOD", "1048576"},
      {"VSTUB_EXT33_LINE", "2000000"}, {"VSTUB_EXT33_QUIET", "1"}, {"VSTUB_AS33_CLOSE_STDOUT", "1"},
      {"VSTUB_AS33_SLEEP_MS", "700"}, {"VSTUB_AS33_EXIT", "6"}});
  // clang-format on
  EXPECT_GE(steady_clock::now() - begin, std::chrono::milliseconds(700));
  EXPECT_EQ(result.exit_code, 6);
  EXPECT_EQ(result.out.size(), 1048576u - 511u);
  EXPECT_EQ(result.out.find('\n'), std::string::npos);
  EXPECT_EQ(files(), (Lines{"a.c", "b.ms", "b.s"}));
}

// Installed under a folder with a blank, in a folder whose name ends in 0x5C in code page 932.
TEST_F(OwnRun, FindsItsConfigurationAndInstallationFromItsOwnLocation) {
  const fs::path bin = work().parent_path() / "my install" / "表";
  const std::string beside = (bin / use_driver_copy_in(bin).stem()).string() + ".cfg";
  const std::string lib = installation_dir("lib"), separator = windows_driver() ? "\\" : "/";
  const struct {
    const char* name;
    std::string here, beside;  // vexa.cfg here ("/": a folder) and beside the driver; "": none
    std::string include_word, lib_dir;
    Lines default_libraries;
  } rows[] = {
      // clang-format off
      {"no configuration", "", "", "-I" + installation_dir("include"), lib, {}},
      {"beside the driver, CR LF lines", "", "INC=incdir\r\nLIB=libdir\r\nx.LIB\r\n", "-Iincdir",
       "libdir", {"x.LIB"}},
      {"the current directory's file wins", "INC=here\n", "INC=beside\nb.lib\n", "-Ihere", lib, {}},
      {"a folder named vexa.cfg is passed over", "/", "INC=beside\n", "-Ibeside", lib, {}},
      // clang-format on
  };

  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const fs::path& name :
         {work() / "vexa.cfg", fs::path(beside), work().parent_path() / "tools.log"})
      fs::remove(name);
    if (row.here == "/") fs::create_directory("vexa.cfg");
    if (!row.here.empty() && row.here != "/") write_file("vexa.cfg", row.here);
    if (!row.beside.empty()) write_file(beside, row.beside);
    EXPECT_EQ(run({"a.c"}, {{"LC_ALL", "ja_JP.UTF-8"}}).exit_code, 0);
    const auto records = tools();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].words, (Lines{"-S", "-x", "c", row.include_word, "a.$"}));
    const Lines& command_file = records.back().command_file;
    ASSERT_GE(command_file.size(), 7u);
    EXPECT_EQ(command_file[3], "-l " + row.lib_dir);
    EXPECT_EQ(command_file[5], row.lib_dir + separator + "cstart.o");
    EXPECT_EQ(Lines(command_file.begin() + 7, command_file.end()), row.default_libraries);
  }
}

TEST_F(OwnRun, VersionAnswersWhereverItStandsAndNamesTheBuild) {
  // The banner's one regex character, its dot, stands for itself too.
  const std::string banner(usage_text, std::strchr(usage_text, '\n') + 1);
  std::string first;
  for (const Lines& words :
       {Lines{"--version"}, Lines{"b.s", "--version"}, Lines{"--version", "-###", "--help"}}) {
    const RunResult result = run(words);
    first = first.empty() ? result.out : first;
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, first);
    EXPECT_EQ(result.err, "");
  }
  const std::regex version(banner + "vexa [0-9]+\\.[0-9]+\\.[0-9]+ for [A-Za-z]+ [A-Za-z0-9_]+\n");
  EXPECT_TRUE(std::regex_match(first, version)) << first;
  EXPECT_EQ(tool_names(), Lines{});
  EXPECT_EQ(files(), (Lines{"a.c", "b.s"}));
}

TEST_F(OwnRun, ALinkWaitsForTheFolderAndAnInterruptionEndsTheWait) {
  if (windows_driver()) GTEST_SKIP() << "signals are POSIX; Wine's Ctrl-C is tested elsewhere";
  for (const char* object : {"a1.o", "a2.o", "a3.o"})
    write_file(object, std::string(object) + "\n");
  // The first linker reads its command file only after the others have had time to write one.
  const int first = start_driver({"-e1.srf", "a1.o"}, {{"VSTUB_LK33_START_MS", "3000"}});
  for (int waited = 0; waited < 20000 && !fs::exists("__tmp__.cm"); waited += 10) usleep(10000);
  const int second = start_driver({"-e2.srf", "a2.o"}, {});
  const int third = start_driver({"-e3.srf", "a3.o"}, {});
  usleep(1500 * 1000);
  kill(third, SIGTERM);
  EXPECT_EQ(wait_for_driver(third).exit_code, 128 + SIGTERM);
  int first_status;
  EXPECT_EQ(waitpid(first, &first_status, WNOHANG), 0) << "the wait outlasted the interruption";
  EXPECT_EQ(wait_for_driver(first).exit_code, 0);
  EXPECT_EQ(wait_for_driver(second).exit_code, 0);
  EXPECT_EQ(tool_names(), (Lines{"lk33.exe", "lk33.exe"}));
  EXPECT_EQ(read_file("1.srf").find("a2.o"), std::string::npos);
  EXPECT_EQ(files(), (Lines{"1.srf", "2.srf", "a.c", "a1.o", "a2.o", "a3.o", "b.s"}));
}

// One folder under two drive letters (as subst gives): Wine starts a driver in the folder on
// the drive mapped to it, and Wine's start gives the other its path on Z:.
TEST_F(OwnRun, LinksThroughTwoSpellingsOfOneFolderTakeTurns) {
  const char *prefix = std::getenv("WINEPREFIX"), *wine = std::getenv("VEXA_E2E_LAUNCHER");
  if (!windows_driver() || !prefix || !wine) GTEST_SKIP() << "a second drive letter under Wine";
  const fs::path drive = fs::path(prefix) / "dosdevices" / "y:";
  fs::remove(drive);
  fs::create_directory_symlink(work(), drive);
  const int first = start_driver({"-e1.srf", "a.c"}, {{"VSTUB_LK33_START_MS", "3000"}});
  for (int waited = 0; waited < 20000 && !fs::exists("__tmp__.cm"); waited += 10) usleep(10000);
  const std::string start = std::string(wine) + " start /wait /b /d " + driver_path_of(work());
  setenv("VEXA_E2E_LAUNCHER", (start + " /unix").c_str(), 1);
  const int second = start_driver({"-e2.srf", "b.s"}, {});
  setenv("VEXA_E2E_LAUNCHER", start.substr(0, start.find(" start")).c_str(), 1);
  EXPECT_EQ(wait_for_driver(first).exit_code + wait_for_driver(second).exit_code, 0);
  EXPECT_EQ(read_file("1.srf").find("b.o"), std::string::npos);
}

// make -j2 and two vexa --jobs: never more than two tools at once, and every token back in
// make's hands at the end (make says so on standard error otherwise).
TEST_F(OwnRun, JobsShareMakesJobSlots) {
  if (windows_driver()) GTEST_SKIP() << "make's jobserver here is not a Windows semaphore";
  write_file("Makefile",
             "all: one two\none:\n\t+@$(VEXA) --jobs -c a.c c.c d.c\n"
             "two:\n\t+@$(VEXA) --jobs=4 -c b.s e.s f.s\n");
  for (const char* name : {"c.c", "d.c", "e.s", "f.s"}) write_file(name, "");
  const std::string spans = (work().parent_path() / "spans").string();
  RunResult result = run_make(
      {"-j2"},
      {{"VSTUB_SPANS", spans}, {"VSTUB_GCC33_SLEEP_MS", "100"}, {"VSTUB_PP33_SLEEP_MS", "100"}});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  int running = 0, most = 0;
  for (char mark : read_file(spans)) most = std::max(most, running += mark == '+' ? 1 : -1);
  EXPECT_EQ(most, 2);
  EXPECT_EQ(running, 0);
}

// Output held for a later chain that cannot be written to its scratch file (in TMPDIR) fails
// the run with the file's name: none of it is lost without a word.
TEST_F(OwnRun, HeldOutputThatCannotBeWrittenFailsTheRun) {
  if (windows_driver()) GTEST_SKIP() << "a file size limit is a POSIX host's";
  const fs::path scratch = work().parent_path() / "scratch";
  fs::create_directory(scratch);
  RunResult result = run({"--jobs=2", "-c", "a.c", "b.s"},
                         {{"TMPDIR", scratch.string()},
                          {"VSTUB_GCC33_SLEEP_MS", "1000"},
                          {"VSTUB_PP33_FLOOD", "600000"}},
                         {.file_size_limit = 64 * 1024});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(result.err.starts_with("Scratch file write error.'" + scratch.string() + "/vexa-"))
      << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
  EXPECT_TRUE(fs::is_empty(scratch));
}

// A "fifo:" jobserver that names a regular file is left alone, with a warning.
TEST_F(OwnRun, AJobserverPathThatIsNoFifoIsLeftAlone) {
  write_file("tokens", "x");
  RunResult result =
      run({"--jobs=2", "-c", "a.c", "b.s"}, {{"MAKEFLAGS", "-j2 --jobserver-auth=fifo:tokens"}});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, windows_driver() ? ""
                                         : "vexa: jobserver 'tokens' is not a FIFO and was "
                                           "left alone; the chains run one at a time\n");
  EXPECT_EQ(read_file("tokens"), "x");
}
