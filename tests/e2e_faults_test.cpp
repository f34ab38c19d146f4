// Faults a build script must be able to trust the driver through: tools that cannot run,
// die or fail; floods and odd output; sources that cannot be read and outputs that cannot
// be written; a full disk; names and lists at their limits; interruption. Each case checks
// the exit code, the messages and which files are left: a failed run says so and leaves
// no half-written file that could pass for a finished one.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "driver/usage.h"
#include "tests/e2e_harness.h"

namespace {

using Names = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string usage = std::string(usage_text) + "\n";

class FaultRun : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    write_file("a.c", "int a;\n");
    write_file("b.s", "; b\n");
  }

  // Back to the two sources, for the next row of a table.
  void start_over() {
    fs::remove(work().parent_path() / "tools.log");
    for (const auto& name : files()) {
      if (name != "a.c" && name != "b.s") fs::remove_all(name);
    }
  }

  static Names sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
  }

  // The code a caller sees for a code the driver could not hand on whole: 255 on POSIX.
  static int unfit_code(int windows_status) {
    return windows_driver() ? seen_exit_code(windows_status) : 255;
  }
};

// A folder holding copies of some of the stand-in tools only.
fs::path folder_with_tools(const fs::path& folder, const Names& tools) {
  fs::create_directories(folder);
  for (const auto& tool : tools) {
    fs::copy_file(fs::path(EndToEnd::tools_folder()) / tool, folder / tool,
                  fs::copy_options::overwrite_existing);
  }
  return folder;
}

}  // namespace

TEST_F(FaultRun, ToolsThatCannotRunDieOrFailFailTheRun) {
  const std::string gcc_words = "-S -x c -I" + installation_dir("include") + " a.$";
  const fs::path no_assembler =
      folder_with_tools(work().parent_path() / "no-as", {"pp33.exe", "ext33.exe"});
  const struct {
    const char* name;
    std::vector<std::string> words;
    Environment environment;
    int exit_code;
    std::string out;
    Names left;  // besides a.c and b.s
    bool posix_only = false;
    bool windows_only = false;
    std::string unrunnable_here;  // a file of this name in the current directory, without x bits
  } rows[] = {
      {"the assembler is missing",
       {"b.s"},
       {{"PATH", no_assembler.string()}},
       unfit_code(259),
       "Process create error 'as33.exe b.ms'\n",
       {"b.ms"}},
      // The current directory comes first, so this one is found, and cannot be run.
      {"the compiler is not executable",
       {"a.c"},
       {},
       unfit_code(259),
       "Process create error 'gcc33.exe " + gcc_words + "'\n",
       {"gcc33.exe"},
       false,
       false,
       "gcc33.exe"},
      {"the assembler is killed", {"b.s"}, {{"VSTUB_AS33_SIGNAL", "9"}}, 137, "", {"b.ms"}, true},
      {"the extender exits 1", {"b.s"}, {{"VSTUB_EXT33_EXIT", "1"}}, 1, "", {"b.ps"}},
      {"the linker exits 255", {"b.s"}, {{"VSTUB_LK33_EXIT", "255"}}, 255, "", {"b.o"}},
      {"the compiler exits 259", {"a.c"}, {{"VSTUB_GCC33_EXIT", "259"}}, 3, "", {}, false, true},
      {"-b keeps the failed output",
       {"-b", "b.s"},
       {{"VSTUB_EXT33_EXIT", "1"}},
       1,
       "",
       {"b.ms", "b.ps"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if ((row.posix_only && windows_driver()) || (row.windows_only && !windows_driver())) continue;
    start_over();
    if (!row.unrunnable_here.empty()) {
      write_file(row.unrunnable_here, "not a program\n");
      fs::permissions(row.unrunnable_here, fs::perms::owner_read | fs::perms::owner_write);
    }
    RunResult result = run(row.words, row.environment);
    EXPECT_EQ(result.exit_code, row.exit_code);
    EXPECT_EQ(result.out, row.out);
    Names left = row.left;
    left.insert(left.end(), {"a.c", "b.s"});
    EXPECT_EQ(files(), sorted(left));
  }
}

TEST_F(FaultRun, EveryLineOfAFloodIsDrainedAndTheExitCodeStillComesThrough) {
  // 1,250,000 lines of 80 bytes; every eighth begins with the extender's banner and is hidden.
  RunResult result =
      run({"-c", "b.s"}, {{"VSTUB_EXT33_FLOOD", "100000000"}, {"VSTUB_EXT33_EXIT", "3"}});
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(result.out.size(), 87500000u);
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1093750);
  EXPECT_EQ(result.out.find("Extend Completed"), std::string::npos);
  EXPECT_EQ(files(), (Names{"a.c", "b.ps", "b.s"}));
}

TEST_F(FaultRun, OddOutputIsShownAsItCameAndTheToolIsWaitedFor) {
  // A line of 1 MiB without a line feed reaches the filter in 511-byte pieces; only the
  // first begins with the banner.
  RunResult result = run({"-c", "b.s"}, {{"VSTUB_EXT33_FLOOD", "1048576"},
                                         {"VSTUB_EXT33_LINE", "2000000"},
                                         {"VSTUB_EXT33_QUIET", "1"}});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out.size(), 1048576u - 511u);
  EXPECT_EQ(result.out.find('\n'), std::string::npos);
  EXPECT_EQ(files(), (Names{"a.c", "b.o", "b.s"}));

  start_over();
  result = run({"-c", "b.s"},
               {{"VSTUB_PP33_QUIET", "1"}, {"VSTUB_EXT33_QUIET", "1"}, {"VSTUB_AS33_QUIET", "1"}});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(files(), (Names{"a.c", "b.o", "b.s"}));

  // The end of the output is not the end of the tool: its exit code, when it comes, counts.
  for (const char* code : {"0", "6"}) {
    SCOPED_TRACE(code);
    start_over();
    const auto begin = std::chrono::steady_clock::now();
    result = run({"-c", "b.s"}, {{"VSTUB_AS33_CLOSE_STDOUT", "1"},
                                 {"VSTUB_AS33_SLEEP_MS", "700"},
                                 {"VSTUB_AS33_EXIT", code}});
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(700));
    EXPECT_EQ(result.exit_code, std::stoi(code));
    EXPECT_EQ(files(), code == std::string("0") ? (Names{"a.c", "b.o", "b.s"})
                                                : (Names{"a.c", "b.ms", "b.s"}));
  }
}

TEST_F(FaultRun, UnreadableSourcesAndUncreatableOutputsAreReported) {
  const bool root = !windows_driver() && geteuid() == 0;
  const struct {
    const char* name;
    std::vector<std::string> words;
    std::string err;
    Names made;     // what the row makes before the run; it is all that is left
    Names removed;  // but these: links at a temporary's name, deleted as the file would be
  } rows[] = {
      // A directory opens for reading on POSIX hosts, and fails at the first read.
      {"a directory named like a source",
       {"x.c"},
       windows_driver() ? "Input file open error.'x.c'" : "Input file read error.'x.c'",
       {"x.c/"}},
      {"a path through a file", {"f/x.c"}, "Input file open error.'f/x.c'", {"f"}},
      {"a directory named like the escaped copy",
       {"a.c"},
       "Output file open error.'a.$'",
       {"a.$/"}},
      {"a directory named like the compiler's output",
       {"-J0", "a.c"},
       "gcc33: cannot create a.ps\n",
       {"a.ps/"}},
      // A name ending in '@' is a symbolic link to "t"; "t" is made first when listed.
      {"a link at the escaped copy's name",
       {"a.c"},
       "Output file open error.'a.$'",
       {"t", "a.$@"},
       {"a.$"}},
      {"a link at the escaped copy's name, with -b",
       {"-b", "a.c"},
       "Output file open error.'a.$'",
       {"t", "a.$@"}},
      {"a dangling link at the escaped copy's name",
       {"a.c"},
       "Output file open error.'a.$'",
       {"a.$@"},
       {"a.$"}},
      {"a link at the command file's name",
       {"x.o"},
       "Command file write error.'__tmp__.cm'\n",
       {"x.o", "t", "__tmp__.cm@"}},
      {"a link at the command file's name, with -b",
       {"-b", "x.o"},
       "Command file write error.'__tmp__.cm'\n",
       {"x.o", "t", "__tmp__.cm@"}},
      {"a dangling link at the command file's name",
       {"x.o"},
       "Command file write error.'__tmp__.cm'\n",
       {"x.o", "__tmp__.cm@"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const bool links = std::any_of(row.made.begin(), row.made.end(),
                                   [](const std::string& name) { return name.ends_with('@'); });
    if (links && windows_driver()) continue;  // symbolic links are made here through POSIX
    start_over();
    for (const auto& name : row.made) {
      if (name.ends_with('/')) {
        fs::create_directory(name);
      } else if (name.ends_with('@')) {
        fs::create_symlink("t", name.substr(0, name.size() - 1));
      } else {
        write_file(name, "a file\n");
      }
    }
    RunResult result = run(row.words);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err, row.err);
    if (links) {
      EXPECT_TRUE(tools().empty());  // nothing compiled, nothing linked
    }
    Names left = {"a.c", "b.s"};
    for (const auto& name : row.made) {
      std::string made = name.substr(0, name.find_first_of("/@"));
      if (std::find(row.removed.begin(), row.removed.end(), made) == row.removed.end()) {
        left.push_back(made);
      }
    }
    EXPECT_EQ(files(), sorted(left));
    if (links && fs::exists("t")) {
      EXPECT_EQ(read_file("t"), "a file\n");
    }
  }
  if (root || windows_driver()) return;  // permissions stop neither root nor this test on Windows
  start_over();
  write_file("y.c", "int y;\n");
  fs::permissions("y.c", fs::perms::none);
  RunResult result = run({"y.c"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Input file open error.'y.c'");
  fs::create_directory("ro");
  write_file("ro/z.c", "int z;\n");
  fs::permissions("ro", fs::perms::owner_read | fs::perms::owner_exec);
  result = run({"ro/z.c"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Output file open error.'ro/z.$'");
  fs::permissions("ro", fs::perms::owner_all);
  fs::permissions("y.c", fs::perms::owner_all);
}

TEST_F(FaultRun, AFullDiskLeavesNoHalfWrittenFileBehind) {
  if (windows_driver()) GTEST_SKIP() << "a file size limit is set through POSIX";
  write_file("big.c", std::string(300 * 1024, 'x'));
  write_file("big.s", std::string(100 * 1024, 'x'));
  Names objects;
  for (int i = 0; i < 20; ++i) {
    objects.push_back("object_with_a_long_name_" + std::to_string(i) + ".o");
    write_file(objects.back(), "o\n");
  }
  std::vector<std::string> objects_kept = objects;
  objects_kept.insert(objects_kept.begin(), "-b");
  const struct {
    const char* name;
    std::vector<std::string> words;
    long limit;
    std::string err;
    Names left;  // besides the inputs
    Names tools_run;
  } rows[] = {
      {"the escaped copy", {"big.c"}, 64 * 1024, "Output file write error.'big.$'", {}, {}},
      {"the escaped copy, kept with -b",
       {"-b", "big.c"},
       64 * 1024,
       "Output file write error.'big.$'",
       {"big.$"},
       {}},
      {"the command file", objects, 512, "Command file write error.'__tmp__.cm'\n", {}, {}},
      {"the command file, kept with -b",
       objects_kept,
       512,
       "Command file write error.'__tmp__.cm'\n",
       {"__tmp__.cm"},
       {}},
      {"a tool's output", {"big.s"}, 64 * 1024, "pp33: cannot create big.ps\n", {}, {"pp33.exe"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove(work().parent_path() / "tools.log");
    RunResult result = run(row.words, {}, {.file_size_limit = row.limit});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(tool_names(), row.tools_run);
    Names left = row.left;
    left.insert(left.end(), {"a.c", "b.s", "big.c", "big.s"});
    left.insert(left.end(), objects.begin(), objects.end());
    EXPECT_EQ(files(), sorted(left));
    if (!row.left.empty()) {
      EXPECT_EQ(fs::file_size(row.left[0]), static_cast<std::uintmax_t>(row.limit));
      fs::remove(row.left[0]);
    }
  }
}

TEST_F(FaultRun, NamesAndListsAtTheirLimits) {
  const std::string name_315 = std::string(313, 'n') + ".o";
  const std::string name_316 = "n" + name_315;
  const std::string define_1023 = "-D" + std::string(1020, 'd');  // and a blank: 1023 bytes
  const std::string define_1024 = define_1023 + "d";
  const std::string address_11 = "-a=" + std::string(11, '1');
  const std::string address_12 = address_11 + "2";
  const std::string output_319 = "-e" + std::string(319, 'e');
  const std::string output_320 = output_319 + "e";
  const std::string too_long = "Name or value too long '%'\n";
  const std::string list_full = "Too many options or files, list full at '%'\n";
  const struct {
    const char* name;
    std::vector<std::string> words;
    std::string refused;  // the message, with '%' for the word; empty when accepted
    std::string word;
  } rows[] = {
      {"a name of 315 characters", {"-c", name_315}, "", ""},
      {"a name of 316 characters", {"-c", "a.o", name_316}, too_long, name_316},
      {"a -D list of 1023 bytes", {"-c", define_1023, "a.o"}, "", ""},
      {"a -D list of 1024 bytes", {"-c", "a.o", define_1024}, list_full, define_1024},
      {"a start address of 11 characters", {"-c", address_11, "a.o"}, "", ""},
      {"a start address of 12 characters", {"a.o", address_12}, too_long, address_12},
      {"an output name of 319 characters", {"-c", output_319, "a.o"}, "", ""},
      {"an output name of 320 characters", {"a.o", output_320}, too_long, output_320},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    start_over();
    RunResult result = run(row.words);
    std::string err = row.refused;
    if (!err.empty()) err.replace(err.find('%'), 1, row.word);
    EXPECT_EQ(result.exit_code, row.refused.empty() ? 0 : 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, err);
    EXPECT_TRUE(tools().empty());
    EXPECT_EQ(files(), (Names{"a.c", "b.s"}));
  }
}

TEST_F(FaultRun, AnArgumentTextThatDoesNotFitRunsNoToolAndLeavesNothing) {
  // The list takes the include option at the first compile and still fits; the compiler's
  // whole argument text, "-S -x c " + list + "a.$", is 1026 bytes.
  const std::string include_option = "-I" + installation_dir("include") + " ";
  const std::string define = "-D" + std::string(1015 - include_option.size() - 3, 'd');
  RunResult result = run({define, "a.c"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Name or value too long 'a.$'\n");
  EXPECT_TRUE(tools().empty());
  EXPECT_EQ(files(), (Names{"a.c", "b.s"}));
}

TEST_F(FaultRun, AnInterruptionStopsTheToolAndDeletesWhatTheStepWouldOnFailure) {
  if (windows_driver()) GTEST_SKIP() << "signals are POSIX; Wine's Ctrl-C is tested elsewhere";
  const struct {
    const char* name;
    const char* tool;
    std::vector<std::string> words;
    const char* made;  // the tool's output: the signal comes once it is there
    int signal;
    Names left;  // besides a.c, b.s and c.ps
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
    const auto begin = std::chrono::steady_clock::now();
    const int pid = start_driver(row.words, {{sleep, "8000"}});
    for (int waited = 0; pid > 0 && waited < 20000 && !fs::exists(row.made); waited += 10) {
      usleep(10000);
    }
    if (pid > 0) kill(pid, row.signal);
    RunResult result = wait_for_driver(pid);
    // The tool got the signal too: the run did not wait out its sleep.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(6));
    EXPECT_EQ(result.exit_code, 128 + row.signal);
    EXPECT_EQ(tool_names().back(), row.tool + std::string(".exe"));
    Names left = row.left;
    left.insert(left.end(), {"a.c", "b.s", "c.ps"});
    EXPECT_EQ(files(), sorted(left));
    EXPECT_EQ(read_file("c.ps"), "; c\n");
  }
}

TEST_F(FaultRun, ASignalIgnoredAtTheStartStaysIgnored) {
  if (windows_driver()) GTEST_SKIP() << "signal dispositions are POSIX";
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    start_over();
    RunResult result = run_interrupted_in("gcc33.exe", {"a.c"}, {{"VSTUB_GCC33_SLEEP_MS", "500"}},
                                          signal, {.interrupts_ignored = true});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(tool_names().back(), "lk33.exe");
    EXPECT_EQ(files(), (Names{"a.c", "a.o", "a.srf", "b.s"}));
  }
}

TEST_F(FaultRun, LinksStartedTogetherInOneFolderTakeTurnsOnTheCommandFile) {
  constexpr int links = 4;
  std::vector<int> pids;
  for (int n = 1; n <= links; ++n) {
    const std::string number = std::to_string(n);
    write_file("a" + number + ".o", "a" + number + "\n");
    write_file("b" + number + ".o", "b" + number + "\n");
  }
  for (int n = 1; n <= links; ++n) {
    const std::string number = std::to_string(n);
    pids.push_back(start_driver({"-e" + number + ".srf", "a" + number + ".o", "b" + number + ".o"},
                                {{"VSTUB_LK33_START_MS", "100"}}));
  }
  for (int n = 1; n <= links; ++n) {
    SCOPED_TRACE(n);
    const std::string number = std::to_string(n);
    EXPECT_EQ(wait_for_driver(pids[n - 1]).exit_code, 0);
    const std::string program = read_file(number + ".srf");
    for (int other = 1; other <= links; ++other) {
      const std::string object = std::to_string(other) + ".o";
      const bool own = other == n;
      EXPECT_EQ(program.find("a" + object) != std::string::npos, own) << program;
      EXPECT_EQ(program.find("b" + object) != std::string::npos, own) << program;
    }
  }
  const Names left = files();
  EXPECT_EQ(std::count(left.begin(), left.end(), "__tmp__.cm"), 0);
}

TEST_F(FaultRun, ALinkWaitsForTheFolderAndAnInterruptionEndsTheWait) {
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
  EXPECT_EQ(tool_names(), (Names{"lk33.exe", "lk33.exe"}));
  EXPECT_EQ(read_file("1.srf").find("a2.o"), std::string::npos);
  EXPECT_NE(read_file("1.srf").find("a1.o\n"), std::string::npos);
  EXPECT_NE(read_file("2.srf").find("a2.o\n"), std::string::npos);
  EXPECT_EQ(files(), (Names{"1.srf", "2.srf", "a.c", "a1.o", "a2.o", "a3.o", "b.s"}));
}
