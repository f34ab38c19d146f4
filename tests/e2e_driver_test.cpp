// The driver as a user meets it: what it prints, its exit code, the tools it runs with
// which words, and the files it leaves.
#include <string>
#include <vector>

#include "driver/usage.h"
#include "tests/e2e_harness.h"

namespace {

using Names = std::vector<std::string>;

const std::string usage = std::string(usage_text) + "\n";

class DriverRun : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    write_file("a.c", "int a;\n");
    write_file("b.s", "; b\n");
  }
};

}  // namespace

TEST_F(DriverRun, RefusalsAndUsage) {
  const std::vector<ExpectedRun> rows = {
      {"no words", {}, 1, usage, ""},
      {"-v alone", {"-v"}, 1, usage, ""},
      {"unknown option first", {"-x", "a.o"}, 1, "Unkown Option -x\n" + usage, ""},
      {"unknown option after a file", {"a.o", "-x", "b.o"}, 1, "Unkown Option -x\n", ""},
      {"unknown file", {"main.cpp"}, 1, "Unkown File main.cpp\n" + usage, ""},
      {"unknown plus option", {"+Cref"}, 1, usage, "err options '+Cref'\n"},
      {"libraries only", {"m.lib"}, 1, usage, ""},
  };
  expect_runs(rows);
  EXPECT_TRUE(tools().empty());
  EXPECT_EQ(files(), (Names{"a.c", "b.s"}));
}

TEST_F(DriverRun, BuildsAProgramFromEveryKindOfInput) {
  write_file("c.ps", "; c\n");
  write_file("d.ms", "; d\n");
  write_file("e.o", "e\n");
  RunResult result = run({"a.c", "b.s", "c.ps", "d.ms", "e.o", "lib/m.lib"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  std::vector<std::string> lines;
  for (const auto& record : tools()) lines.push_back(record.command_line());
  const std::string include = "-I" + installation_dir("include");
  EXPECT_EQ(lines,
            (Names{"gcc33.exe -S -x c " + include + " a.$", "ext33.exe a.ps", "as33.exe a.ms",
                   "pp33.exe b.s", "ext33.exe b.ps", "as33.exe b.ms", "ext33.exe c.ps",
                   "as33.exe c.ms", "as33.exe d.ms", "lk33.exe -c __tmp__.cm"}));
  EXPECT_EQ(files(),
            (Names{"a.c", "a.o", "a.srf", "b.o", "b.s", "c.o", "c.ps", "d.ms", "d.o", "e.o"}));
  const auto command_file = tools().back().command_file;
  ASSERT_GE(command_file.size(), 5u);
  EXPECT_EQ(command_file[0], "-v3");
  EXPECT_EQ(command_file[4], "-o a.srf");
  EXPECT_EQ(Names(command_file.end() - 6, command_file.end()),
            (Names{"a.o", "b.o", "c.o", "d.o", "e.o", "lib/m.lib"}));
}

TEST_F(DriverRun, AFailingToolStopsTheRunWithItsExitCode) {
  const struct {
    const char* tool;
    std::string code;
    Names tools_run;
    Names files_left;
  } rows[] = {
      {"GCC33", "2", {"gcc33.exe"}, {"a.c", "b.s"}},
      {"EXT33", "3", {"gcc33.exe", "ext33.exe"}, {"a.c", "a.ps", "b.s"}},
      {"AS33", "4", {"gcc33.exe", "ext33.exe", "as33.exe"}, {"a.c", "a.ms", "b.s"}},
      {"LK33",
       "5",
       {"gcc33.exe", "ext33.exe", "as33.exe", "pp33.exe", "ext33.exe", "as33.exe", "lk33.exe"},
       {"a.c", "a.o", "b.o", "b.s"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.tool);
    std::filesystem::remove(work().parent_path() / "tools.log");
    for (const char* made : {"a.o", "b.o"}) std::filesystem::remove(made);
    RunResult result =
        run({"a.c", "b.s"}, {{std::string("VSTUB_") + row.tool + "_EXIT", row.code}});
    EXPECT_EQ(result.exit_code, std::stoi(row.code));
    EXPECT_EQ(tool_names(), row.tools_run);
    EXPECT_EQ(files(), row.files_left);
  }
}

TEST_F(DriverRun, ShowsToolMessagesButNotTheirBanners) {
  RunResult result =
      run({"-c", "a.c"}, {{"VSTUB_GCC33_PRINT", "a.$:1: parse error\\nnote a.$ here\\n"},
                          {"VSTUB_AS33_STDERR", "as33 says\\n"}});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "a.c:1: parse error\nnote a.$ here\n");
  EXPECT_EQ(result.err, "as33 says\n");
}

TEST_F(DriverRun, VerboseShowsEveryToolRunWholeAndStillCountsWarnings) {
  RunResult result = run({"-v", "b.s"}, {{"VSTUB_LK33_WARNINGS", "2"}});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_NE(result.out.find("--------\npp33.exe b.s\nPre Processor Completed\nExitcode = 0\n"),
            std::string::npos);
  EXPECT_NE(result.out.find("Delete 'b.ps'\n"), std::string::npos);
  EXPECT_NE(result.out.find("Link Completed\nExitcode = 0\nDelete '__tmp__.cm'\nDelete 'b.srf'\n"),
            std::string::npos);
}

TEST_F(DriverRun, LinkWarningsBecomeTheExitCodeAndNeverWrapToSuccess) {
  const struct {
    const char* count;
    std::vector<std::string> words;
    int exit_code;
    Names files_left;
  } rows[] = {
      {"1", {"b.s"}, 1, {"b.o", "b.s"}},
      {"256", {"b.s"}, windows_driver() ? seen_exit_code(256) : 255, {"b.o", "b.s"}},
      {"3", {"-normwarn", "b.s"}, 0, {"b.o", "b.s", "b.srf"}},
      {"3", {"-b", "b.s"}, 3, {"__tmp__.cm", "b.o", "b.ps", "b.ms", "b.s", "b.srf"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.count);
    for (const auto& name : files()) {
      if (name != "a.c" && name != "b.s") std::filesystem::remove(name);
    }
    RunResult result = run(row.words, {{"VSTUB_LK33_WARNINGS", row.count}});
    EXPECT_EQ(result.exit_code, row.exit_code);
    Names expected = row.files_left;
    expected.insert(expected.begin(), "a.c");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files(), expected);
  }
}

TEST_F(DriverRun, AToolThatCannotStartIsReported) {
  RunResult result = run({"b.s"}, {{"PATH", "/nonexistent"}});
  EXPECT_EQ(result.out, "Process create error 'pp33.exe b.s'\n");
  EXPECT_EQ(result.exit_code, windows_driver() ? 259 & 0xff : 255);
}

TEST_F(DriverRun, AToolKilledByASignalFailsTheRun) {
  if (windows_driver()) GTEST_SKIP() << "signals are POSIX";
  RunResult result = run({"b.s"}, {{"VSTUB_PP33_SIGNAL", "9"}});
  EXPECT_EQ(result.exit_code, 137);
  EXPECT_EQ(files(), (Names{"a.c", "b.s"}));
}

TEST_F(DriverRun, AUserCommandFileIsLinkedAsItIs) {
  write_file("app.cm", "-o app.srf\nx.o\n");
  RunResult result = run({"-g", "app.cm"});
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(tools().size(), 1u);
  EXPECT_EQ(tools()[0].command_line(), "lk33.exe -g -c app.cm");
  EXPECT_EQ(files(), (Names{"a.c", "app.cm", "app.srf", "b.s"}));
}
