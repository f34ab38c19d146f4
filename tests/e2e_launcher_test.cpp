// A launcher named by VEXA_LAUNCHER, started in front of every tool with the tool's full
// path: the stand-in's vstub-launch records its words, then runs the rest.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e_harness.h"

namespace fs = std::filesystem;
using LauncherRun = EndToEnd;

TEST_F(LauncherRun, StartsEveryToolShowsWhatRunsAndComesFromTheEnvironmentOnly) {
  // The tools' folder as the driver names it, its separator at the end.
  const std::string stub_bin = driver_path_of(fs::path(tools_folder()) / "");
  // The tools run since the last call, as one text: each command line followed by "|".
  auto take_tools = [this] {
    std::string text;
    for (const auto& record : tools()) text += record.command_line() + "|";
    fs::remove(work().parent_path() / "tools.log");
    return text;
  };
  write_file("a.c", "int a;\n");
  write_file("b.s", "; b\n");
  // What each tool gets without a launcher, which it must get through one too.
  const RunResult direct = run({"a.c", "b.s"});
  std::string every_tool;
  for (const auto& record : tools())
    every_tool +=
        "vstub-launch " + stub_bin + record.command_line() + "|" + record.command_line() + "|";
  take_tools();
  // Read in every row, and never started.
  write_file("vexa.cfg", "LAUNCHER=no-such-launcher\n");
  const std::string pp33 = stub_bin + "pp33.exe";
  // Quoted as a path with blanks would be; Windows adds ".exe" to a program name without one.
  const std::string quoted = "\"" + stub_bin + "vstub-launch\"";
  const struct {
    const char* name;
    Environment environment;
    std::vector<std::string> words;
    int exit_code;
    std::string out;
    std::string tools;
  } rows[] = {
      {.name = "every tool gets its own words, the launcher its path first",
       .environment = {{"VEXA_LAUNCHER", "vstub-launch"}},
       .words = {"a.c", "b.s"},
       .exit_code = direct.exit_code,
       .out = direct.out,
       .tools = every_tool},
      {.name = "a tool found nowhere starts no launcher",
       .environment = {{"VEXA_LAUNCHER", "vstub-launch"}, {"PATH", (work() / "none").string()}},
       .words = {"-E", "b.s"},
       .exit_code = windows_driver() ? 259 & 0xff : 255,
       .out = "Process create error 'pp33.exe b.s'\n",
       .tools = ""},
      {.name = "a launcher that cannot start",
       .environment = {{"VEXA_LAUNCHER", "no-such-launcher -x"}},
       .words = {"-E", "b.s"},
       .exit_code = windows_driver() ? 259 & 0xff : 255,
       .out = "Process create error 'no-such-launcher -x " + pp33 + " b.s'\n",
       .tools = ""},
      {.name = "a failing launcher's exit code is the run's",
       .environment = {{"VEXA_LAUNCHER", "vstub-launch"}, {"VSTUB_LAUNCH_EXIT", "7"}},
       .words = {"-E", "b.s"},
       .exit_code = 7,
       .out = "",
       .tools = "vstub-launch " + pp33 + " b.s|"},
      {.name = "-v shows the launcher's text and the tool's path",
       .environment = {{"VEXA_LAUNCHER", quoted}},
       .words = {"-v", "-E", "b.s"},
       .exit_code = 0,
       .out = "--------\n" + quoted + " " + pp33 + " b.s\nPre Processor Completed\nExitcode = 0\n",
       .tools = "vstub-launch " + pp33 + " b.s|pp33.exe b.s|"},
      {.name = "-### shows the same and starts nothing",
       .environment = {{"VEXA_LAUNCHER", "vstub-launch"}},
       .words = {"-###", "-E", "b.s"},
       .exit_code = 0,
       .out = "vstub-launch " + pp33 + " b.s\n",
       .tools = ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RunResult result = run(row.words, row.environment);
    EXPECT_EQ(result.exit_code, row.exit_code);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(take_tools(), row.tools);
  }
  const struct {
    const char* name;
    Environment environment;
  } no_launcher_rows[] = {
      {.name = "unset, with a LAUNCHER= line in vexa.cfg", .environment = {}},
      {.name = "empty", .environment = {{"VEXA_LAUNCHER", ""}}},
      {.name = "blanks alone", .environment = {{"VEXA_LAUNCHER", " \t "}}},
  };
  for (const auto& row : no_launcher_rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(run({"-E", "b.s"}, row.environment).exit_code, 0);
    EXPECT_EQ(take_tools(), "pp33.exe b.s|");
  }
}
