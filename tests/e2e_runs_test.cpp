// Runs a table row cannot describe: a flood and a line too long for a row, a tool that
// closes its output and runs on, the driver's own location and the version it names.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <sstream>
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

// Until `driver` holds the working folder open, as it does while it waits for the folder's
// lock or holds it; a driver that never does is waited for no longer than a few seconds.
void await_folder_wait(int driver) {
  const fs::path descriptors = "/proc/" + std::to_string(driver) + "/fd";
  for (int waited = 0; waited < 5000; waited += 10) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(descriptors, error)) {
      if (fs::read_symlink(entry.path(), error) == fs::current_path()) return;
    }
    usleep(10000);
  }
}

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

// Started by its bare name from PATH, as a shell starts it, past a folder and a file that
// cannot be run of the same name: vexa finds itself where the shell found it, so the
// configuration beside it counts and --jobs starts copies of it (two sources, two workers).
TEST_F(OwnRun, FindsItselfWhereTheShellFoundItByItsBareName) {
  if (windows_driver()) GTEST_SKIP() << "a Windows program is started by its path";
  const fs::path decoys = work().parent_path() / "decoys";
  fs::create_directories(decoys / "folder" / "vexa");
  fs::create_directories(decoys / "unrunnable");
  write_file((decoys / "unrunnable" / "vexa").string(), "#!/bin/sh\nexit 9\n");
  const fs::path bin = work().parent_path() / "bin";
  const std::string name = use_driver_copy_in(bin).filename().string();
  write_file((bin / "vexa.cfg").string(), "INC=beside\n");
  write_file("b.c", "");
  const std::string parents = (work().parent_path() / "parents").string();
  const std::string path = (decoys / "folder").string() + ":" + (decoys / "unrunnable").string() +
                           ":" + bin.string() + ":" + tools_folder() + ":/usr/bin:/bin";
  const RunResult result =
      run_program({"env", "PATH=" + path, name, "--jobs=2", "-c", "a.c", "b.c"},
                  stub("GCC33_PARENT_ID", parents));
  EXPECT_EQ(result.exit_code, 0) << result.err;
  std::set<std::string> workers;
  std::istringstream lines(read_file(parents));
  for (std::string id, input; lines >> id >> input;) workers.insert(id);
  EXPECT_EQ(workers.size(), 2u) << read_file(parents);
  for (const ToolRecord& tool : tools()) {
    if (tool.tool == "gcc33.exe") {
      EXPECT_EQ(tool.words.at(3), "-Ibeside");
    }
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
  write_file("3.srf", "an earlier link's\n");  // not to be taken for this one's
  // The first linker reads its command file only once the test says so, after the others
  // have come to their links.
  const int first = start_driver({"-e1.srf", "a1.o"}, {{"VSTUB_LK33_WAIT_FOR", "go"}});
  for (int waited = 0; waited < 20000 && !fs::exists("__tmp__.cm"); waited += 10) usleep(10000);
  const int second = start_driver({"-e2.srf", "a2.o"}, {});
  const int third = start_driver({"-e3.srf", "a3.o"}, {});
  await_folder_wait(second);
  await_folder_wait(third);
  kill(third, SIGTERM);
  EXPECT_EQ(wait_for_driver(third).exit_code, 128 + SIGTERM);
  int first_status;
  EXPECT_EQ(waitpid(first, &first_status, WNOHANG), 0) << "the wait outlasted the interruption";
  write_file("go", "");
  EXPECT_EQ(wait_for_driver(first).exit_code, 0);
  EXPECT_EQ(wait_for_driver(second).exit_code, 0);
  EXPECT_EQ(tool_names(), (Lines{"lk33.exe", "lk33.exe"}));
  EXPECT_EQ(read_file("1.srf").find("a2.o"), std::string::npos);
  EXPECT_EQ(files(), (Lines{"1.srf", "2.srf", "a.c", "a1.o", "a2.o", "a3.o", "b.s", "go"}));
}

// One folder under two drive letters (as subst gives): Wine starts a driver in the folder on
// the drive mapped to it, and Wine's start gives the other its path on Z:.
TEST_F(OwnRun, LinksThroughTwoSpellingsOfOneFolderTakeTurns) {
  const char *prefix = std::getenv("WINEPREFIX"), *wine = std::getenv("VEXA_E2E_LAUNCHER");
  if (!windows_driver() || !prefix || !wine) GTEST_SKIP() << "a second drive letter under Wine";
  const fs::path drive = fs::path(prefix) / "dosdevices" / "y:";
  fs::remove(drive);
  fs::create_directory_symlink(work(), drive);
  // The first linker reads its command file only once the second run has assembled b.s and
  // comes to its own link.
  const int first = start_driver({"-e1.srf", "a.c"}, {{"VSTUB_LK33_WAIT_FOR", "b.o"}});
  for (int waited = 0; waited < 20000 && !fs::exists("__tmp__.cm"); waited += 10) usleep(10000);
  const std::string start = std::string(wine) + " start /wait /b /d " + driver_path_of(work());
  setenv("VEXA_E2E_LAUNCHER", (start + " /unix").c_str(), 1);
  const int second = start_driver({"-e2.srf", "b.s"}, {});
  setenv("VEXA_E2E_LAUNCHER", start.substr(0, start.find(" start")).c_str(), 1);
  EXPECT_EQ(wait_for_driver(first).exit_code + wait_for_driver(second).exit_code, 0);
  EXPECT_EQ(read_file("1.srf").find("b.o"), std::string::npos);
}

// A full disk, honestly: a device that answers every write with ENOSPC (as /dev/full does)
// stands at the command file's name. The failure shows at the flush, is reported with the
// system's reason, and nothing is linked; the name is removed like any half-written file.
// Making the device needs the right to (root, say) on a file system that allows devices;
// Wine opens no device node as a Windows file.
TEST_F(OwnRun, ACommandFileOnAFullDeviceFailsWithTheSystemsReason) {
  if (windows_driver() || mknod("__tmp__.cm", S_IFCHR | 0666, makedev(1, 7)) != 0)
    GTEST_SKIP() << "no full device here";
  write_file("a.o", "");
  const RunResult result = run({"a.o"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Command file write error.'__tmp__.cm': No space left on device\n");
  EXPECT_EQ(tool_names(), Lines{});
  EXPECT_EQ(files(), (Lines{"a.c", "a.o", "b.s"}));
}

// Sixteen compiles at once into one database, every other one started in the folder on drive
// Y: and the rest on Z:: the database's lock is the folder's, whatever its drive letter, so
// each entry is there once. The other folders' entries make each turn on the file long
// enough for the runs to meet.
TEST_F(OwnRun, DatabaseThroughTwoSpellingsOfOneFolderLosesNoEntry) {
  const char *prefix = std::getenv("WINEPREFIX"), *wine = std::getenv("VEXA_E2E_LAUNCHER");
  if (!windows_driver() || !prefix || !wine) GTEST_SKIP() << "a second drive letter under Wine";
  const fs::path drive = fs::path(prefix) / "dosdevices" / "y:";
  fs::remove(drive);
  fs::create_directory_symlink(work(), drive);
  std::string others = "[";
  for (int i = 0; i < 5000; ++i) others += "{\"file\": \"x.c\", \"directory\": \"/x\"},\n";
  write_file("compile_commands.json", others + "{}]");
  const std::string plain = wine, start = plain + " start /wait /b /d " + driver_path_of(work());
  std::vector<int> drivers;
  for (int i = 0; i < 16; ++i) {
    write_file("s" + std::to_string(i) + ".c", "");
    setenv("VEXA_E2E_LAUNCHER", (i % 2 == 0 ? plain : start + " /unix").c_str(), 1);
    drivers.push_back(start_driver({"-E", "-MJ", "s" + std::to_string(i) + ".c"}, {}));
  }
  setenv("VEXA_E2E_LAUNCHER", plain.c_str(), 1);
  for (int pid : drivers) EXPECT_EQ(wait_for_driver(pid).exit_code, 0);
  const std::string text = read_file("compile_commands.json");
  for (int i = 0; i < 16; ++i) {
    const std::string file = "\"file\": \"s" + std::to_string(i) + ".c\"";
    EXPECT_EQ(text.find(file), text.rfind(file)) << file;
    EXPECT_NE(text.find(file), std::string::npos) << file;
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), '{'), 5001 + 16);
}

// A program named by another spelling of an input (its absolute path, on Windows another
// drive letter for its folder) is refused like one named as the input is: the link would
// write over the source.
TEST_F(OwnRun, AProgramNamedAsAnInputThroughAnotherSpellingIsRefused) {
  const char *prefix = std::getenv("WINEPREFIX"), *wine = std::getenv("VEXA_E2E_LAUNCHER");
  Lines spellings = {driver_path_of(work() / "a.c")};
  if (windows_driver() && prefix && wine) {
    const fs::path drive = fs::path(prefix) / "dosdevices" / "y:";
    fs::remove(drive);
    fs::create_directory_symlink(work(), drive);
    spellings.push_back("y:\\a.c");
  }
  for (const std::string& output : spellings) {
    const RunResult result = run({"-e" + output, "a.c"});
    EXPECT_EQ(result.exit_code, 1) << output;
    EXPECT_EQ(result.err, "Output file '" + output + "' is one of the input files\n");
    EXPECT_EQ(read_file("a.c"), "int a;\n");
  }
  EXPECT_EQ(tool_names(), Lines{});
}

// make -j3 and one vexa --jobs=4: the driver runs on make's own slot and takes the tokens
// make has to give; never more than three tools at once, and every token back in make's hands
// at the end (make says so on standard error otherwise). Beside a recipe that holds a token
// until the first source's compile has begun, the third chain runs on that token once it
// comes back, while the others still run.
TEST_F(OwnRun, JobsShareMakesJobSlots) {
  if (windows_driver()) GTEST_SKIP() << "make's jobserver here is not a Windows semaphore";
  for (const char* name : {"c.c", "d.c", "e.s", "f.s"}) write_file(name, "");
  const std::string spans = (work().parent_path() / "spans").string();
  const struct {
    const char* makefile;
    int most;
  } rows[] = {
      {"all:\n\t+@$(VEXA) --jobs=4 -c a.c c.c d.c b.s e.s f.s\n", 3},
      {"all: chains holder\nchains:\n\t+@$(VEXA) --jobs=4 -c a.c c.c d.c\n"
       "holder:\n\t@while [ ! -f a.ps ]; do sleep 0.01; done\n",
       3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.makefile);
    write_file("Makefile", row.makefile);
    fs::remove(spans);
    RunResult result = run_make(
        {"-j3"},
        {{"VSTUB_SPANS", spans}, {"VSTUB_GCC33_SLEEP_MS", "300"}, {"VSTUB_PP33_SLEEP_MS", "300"}});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    int running = 0, most = 0;
    for (char mark : read_file(spans)) most = std::max(most, running += mark == '+' ? 1 : -1);
    EXPECT_EQ(most, row.most);
    EXPECT_EQ(running, 0);
  }
}

// Installed with only the driver named by its path, as a build system names its compiler:
// the tools beside it are found after the current folder and PATH, and -v shows their path.
TEST_F(OwnRun, FindsTheToolsBesideItselfAfterThePath) {
  if (windows_driver()) GTEST_SKIP() << "Wine takes the tools' folders from WINEPATH";
  const fs::path bin = work().parent_path() / "install" / "bin";
  use_driver_copy_in(bin);
  for (const char* tool : {"gcc33.exe", "ext33.exe", "as33.exe"})
    fs::copy_file(fs::path(tools_folder()) / tool, bin / tool);
  const Environment no_tools_on_path = {{"PATH", "/usr/bin:/bin"}};
  RunResult result = run({"-v", "-c", "a.c"}, no_tools_on_path);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.out.find("--------\n" + (bin / "ext33.exe").string() + " a.ps\n"),
            std::string::npos);
  // The tools on PATH come first, shown by name as before.
  result = run({"-v", "-c", "b.s"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.out.find("--------\next33.exe b.ps\n"), std::string::npos);
  EXPECT_EQ(files(), (Lines{"a.c", "a.o", "b.o", "b.s"}));
}

// A source tree nobody may write to, built into two build folders at the same time: each
// run's files lie in its own folder, the sources' folder stays as it was (which its listing
// shows where the user is root and may write anyway).
TEST_F(OwnRun, BuildsAReadOnlySourceTreeIntoTwoFoldersAtOnce) {
  if (windows_driver()) GTEST_SKIP() << "folder permissions are POSIX's";
  fs::create_directories("src/inc");
  write_file("src/m.c", "#include \"m.h\"\n#include \"../src/inc/i.h\"\n");
  write_file("src/m.h", "");
  write_file("src/inc/i.h", "");
  write_file("src/n.s", "; n\n");
  fs::create_directories("one");
  fs::create_directories("two");
  fs::permissions("src", fs::perms::owner_write, fs::perm_options::remove);
  const Environment slow = {{"VSTUB_GCC33_SLEEP_MS", "300"}, {"VSTUB_PP33_SLEEP_MS", "300"}};
  std::vector<int> pids;
  for (const char* folder : {"one", "two"}) {
    for (const char* source : {"m", "n"}) {
      const std::string object = std::string(folder) + "/" + source + ".o";
      const std::string name = std::string("src/") + source + (source[0] == 'm' ? ".c" : ".s");
      pids.push_back(start_driver({"-c", "-MD", name, "-o", object}, slow));
    }
  }
  for (int pid : pids) EXPECT_EQ(wait_for_driver(pid).exit_code, 0);
  fs::permissions("src", fs::perms::owner_write, fs::perm_options::add);
  for (const char* folder : {"one", "two"}) {
    Lines left;
    for (const auto& entry : fs::directory_iterator(folder))
      left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (Lines{"m.d", "m.o", "n.d", "n.o"}));
    EXPECT_EQ(read_file(std::string(folder) + "/m.d"),
              std::string(folder) + "/m.o: src/m.c src/m.h src/../src/inc/i.h\n");
  }
  Lines sources;
  for (const auto& entry : fs::recursive_directory_iterator("src"))
    sources.push_back(entry.path().string());
  std::sort(sources.begin(), sources.end());
  EXPECT_EQ(sources, (Lines{"src/inc", "src/inc/i.h", "src/m.c", "src/m.h", "src/n.s"}));
}

// A response file that can be read once (a pipe): the workers are handed their state and
// words, so the chains build exactly what the serial run builds; the tools get the words.
TEST_F(OwnRun, JobsBuildFromAResponseFileReadFromAPipe) {
  if (windows_driver()) GTEST_SKIP() << "/dev/stdin is a POSIX name";
  write_file("Makefile",
             "all:\n\t@printf -- '-DX=1 b.s a.c -c' | $(VEXA) --jobs=2 @/dev/stdin\n"
             "\t@printf -- 'b.s a.c -eprog.srf' | $(VEXA) --jobs=2 @/dev/stdin\n");
  RunResult result = run_make({}, {{"VEXA_INC", "inc"}});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(files(),
            (std::vector<std::string>{"Makefile", "a.c", "a.o", "b.o", "b.s", "prog.srf"}));
  std::vector<std::string> expected = {"pp33.exe b.s",          "ext33.exe b.ps",
                                       "as33.exe b.ms",         "gcc33.exe -S -x c -DX=1 -Iinc a.$",
                                       "ext33.exe a.ps",        "as33.exe a.ms",
                                       "pp33.exe b.s",          "ext33.exe b.ps",
                                       "as33.exe b.ms",         "gcc33.exe -S -x c -Iinc a.$",
                                       "ext33.exe a.ps",        "as33.exe a.ms",
                                       "lk33.exe -c __tmp__.cm"};
  std::vector<std::string> seen;
  for (const ToolRecord& tool : tools()) seen.push_back(tool.command_line());
  std::sort(seen.begin(), seen.end());
  std::sort(expected.begin(), expected.end());  // chains side by side run in any order
  EXPECT_EQ(seen, expected);
}

// vexa.cfg changed while the chains run (each tool appends to it here): a chain started after
// the change still gets the include directory the run began with.
TEST_F(OwnRun, JobsKeepTheConfigurationTheRunBeganWith) {
  write_file("vexa.cfg", "INC=sdk/inc");
  write_file("x.s", "");
  RunResult result = run({"--jobs=2", "-c", "b.s", "x.s", "a.c"}, {{"VSTUB_SPANS", "vexa.cfg"}});
  EXPECT_EQ(result.exit_code, 0);
  std::vector<std::string> compiles;
  for (const ToolRecord& tool : tools()) {
    if (tool.tool == "gcc33.exe") compiles.push_back(tool.command_line());
  }
  EXPECT_EQ(compiles, std::vector<std::string>{"gcc33.exe -S -x c -Isdk/inc a.$"});
}

// A worker carries one chain after another: six chains in two places start two workers, not
// six. A worker lost in the middle of a chain (killed) fails that chain with the status of its
// signal, as a tool killed would; the run does not wait for the tool it left running.
TEST_F(OwnRun, JobsRunTheirChainsInTwoWorkersAndALostWorkerFailsItsChain) {
  if (windows_driver()) GTEST_SKIP() << "a tool's parent is known on POSIX only";
  const std::string parents = (work().parent_path() / "parents").string();
  auto parent_of = [&parents] {
    std::map<std::string, std::string> workers;  // input to the worker that ran its tool
    std::istringstream lines(read_file(parents));
    for (std::string id, input; lines >> id >> input;) workers[input] = id;
    return workers;
  };
  Lines words = {"--jobs=2", "-c"};
  std::set<std::string> workers;
  for (int i = 1; i <= 6; ++i) write_file(words.emplace_back("s" + std::to_string(i) + ".s"), "");
  EXPECT_EQ(run(words, stub("AS33_PARENT_ID", parents)).exit_code, 0);
  for (const auto& [input, worker] : parent_of()) workers.insert(worker);
  EXPECT_EQ(workers.size(), 2u) << read_file(parents);

  fs::remove(parents);
  Environment slow = stub("PP33_PARENT_ID", parents);
  slow.push_back({"VSTUB_PP33_SLEEP_MS", "1500"});
  const int driver = start_driver({"--jobs=2", "-c", "s1.s", "s2.s"}, slow);
  const auto begin = std::chrono::steady_clock::now();
  while (parent_of().size() < 2 &&
         std::chrono::steady_clock::now() - begin < std::chrono::seconds(20))
    usleep(10000);
  ASSERT_EQ(parent_of().size(), 2u);
  kill(std::stoi(parent_of()["s1.s"]), SIGKILL);
  EXPECT_EQ(wait_for_driver(driver).exit_code, 128 + SIGKILL);
}

// The driver holds as many descriptors at the link after fifty chains as after four, serial
// or side by side: a chain leaves none behind, so a long build never runs out.
TEST_F(OwnRun, ChainsLeaveNoDescriptorOpen) {
  if (windows_driver()) GTEST_SKIP() << "descriptors are counted through /proc";
  for (const char* jobs : {"--jobs=1", "--jobs=4"}) {
    SCOPED_TRACE(jobs);
    const std::string counts = (work().parent_path() / jobs).string();
    for (int sources : {4, 50}) {
      Lines words = {jobs};
      for (int i = 1; i <= sources; ++i) {
        words.push_back("s" + std::to_string(i) + ".c");
        write_file(words.back(), "");
      }
      EXPECT_EQ(run(words, {{"VSTUB_LK33_PARENT_FDS", counts}}).exit_code, 0);
    }
    const std::string seen = read_file(counts);
    const std::size_t first_end = seen.find('\n');
    ASSERT_NE(first_end, std::string::npos);
    EXPECT_EQ(seen.substr(first_end + 1), seen.substr(0, first_end + 1)) << seen;
    EXPECT_NE(seen.substr(0, first_end), "unknown");
  }
}

// Output held for a later chain beyond what memory holds goes through a scratch file (in
// TMPDIR) and comes back as the serial run shows it; a scratch file that cannot be written
// fails the run with its name: none of it is lost without a word.
TEST_F(OwnRun, HeldOutputGoesThroughAScratchFileWholeOrFailsTheRun) {
  if (windows_driver()) GTEST_SKIP() << "a file size limit is a POSIX host's";
  const fs::path scratch = work().parent_path() / "scratch";
  fs::create_directory(scratch);
  const Environment slow_then_flood = {{"TMPDIR", scratch.string()},
                                       {"VSTUB_GCC33_SLEEP_MS", "1000"},
                                       {"VSTUB_PP33_FLOOD", "600000"}};
  const RunResult serial = run({"-c", "a.c", "b.s"}, slow_then_flood);
  const RunResult held = run({"--jobs=2", "-c", "a.c", "b.s"}, slow_then_flood);
  EXPECT_EQ(held.exit_code, 0);
  EXPECT_GT(serial.out.size(), 256u * 1024);  // beyond what is held in memory
  EXPECT_TRUE(held.out == serial.out) << held.out.size() << " bytes, not " << serial.out.size();
  RunResult result =
      run({"--jobs=2", "-c", "a.c", "b.s"}, slow_then_flood, {.file_size_limit = 64 * 1024});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(result.err.starts_with("Scratch file write error.'" + scratch.string() + "/vexa-"))
      << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
  EXPECT_TRUE(fs::is_empty(scratch));
}

// A "fifo:" jobserver that names a regular file is left alone, with a warning; --jobs=1 has
// no use for one and says nothing.
TEST_F(OwnRun, AJobserverPathThatIsNoFifoIsLeftAlone) {
  write_file("tokens", "x");
  const Environment make = {{"MAKEFLAGS", "-j2 --jobserver-auth=fifo:tokens"}};
  RunResult result = run({"--jobs=2", "-c", "a.c", "b.s"}, make);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, windows_driver() ? ""
                                         : "vexa: jobserver 'tokens' is not a FIFO and was "
                                           "left alone; the chains run one at a time\n");
  EXPECT_EQ(read_file("tokens"), "x");
  result = run({"--jobs=1", "-c", "a.c", "b.s"}, make);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
}
