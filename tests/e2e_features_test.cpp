// The words users bring from other compiler drivers: --help, --version, the dry run -###
// and @file response files.
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "driver/usage.h"
#include "tests/e2e_harness.h"

namespace {

using Names = std::vector<std::string>;

const std::string usage = std::string(usage_text) + "\n";
const std::string banner = usage.substr(0, usage.find('\n') + 1);
const Environment directories = {{"VEXA_INC", "inc"}, {"VEXA_LIB", "lib"}};

class FeatureRun : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    write_file("a.c", "int a;\n");
    write_file("b.s", "; b\n");
  }

  void forget_tool_runs() const { std::filesystem::remove(work().parent_path() / "tools.log"); }

  // What a real run passed to the tools, as a dry run would show it: each command line,
  // and under the linker's the lines of the command file the driver wrote, indented.
  Names recorded_as_dry_run() const {
    Names lines;
    for (const auto& record : tools()) {
      lines.push_back(record.command_line());
      if (record.words.back() != "__tmp__.cm") continue;
      for (const auto& line : record.command_file) lines.push_back("  " + line);
    }
    return lines;
  }
};

Names lines_of(const std::string& text) {
  Names lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

}  // namespace

TEST_F(FeatureRun, HelpAndVersionAnswerWhereverTheyStandAndNothingElseRuns) {
  write_file("help.rsp", "a.c --help");
  const std::string version = "VERSION";
  const struct {
    const char* name;
    Names words;
    std::string out;
  } rows[] = {
      {"help alone", {"--help"}, usage},
      {"help after files", {"a.c", "b.s", "--help"}, usage},
      {"help after an unknown option", {"-x", "--help"}, usage},
      {"help owed to a plus option", {"+l", "--help", "a.c"}, usage},
      {"help in a response file", {"@help.rsp"}, usage},
      {"help after an unreadable response file", {"a.c", "@none.rsp", "--help"}, usage},
      {"version alone", {"--version"}, version},
      {"version after a file", {"b.s", "--version"}, version},
      {"help first wins", {"--help", "--version"}, usage},
      {"version first wins", {"--version", "-###", "--help"}, version},
  };
  const std::regex version_line("vexa [0-9]+\\.[0-9]+\\.[0-9]+ for [A-Za-z]+ [A-Za-z0-9_]+\n");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RunResult result = run(row.words);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    if (row.out == version) {
      EXPECT_EQ(result.out.substr(0, banner.size()), banner);
      EXPECT_TRUE(std::regex_match(result.out.substr(banner.size()), version_line)) << result.out;
    } else {
      EXPECT_EQ(result.out, row.out);
    }
  }
  EXPECT_TRUE(tools().empty());
  EXPECT_EQ(files(), (Names{"a.c", "b.s", "help.rsp"}));
}

// Every row runs twice: first with "-###" in front, which must start no tool and leave
// the folder as it was, then for real; the dry run must have shown what the tools got.
TEST_F(FeatureRun, DryRunShowsTheCommandLinesARealRunPasses) {
  write_file("app.cm", "-o app.srf\nx.o\n");
  const struct {
    const char* name;
    Names words;
    int exit_code;
  } rows[] = {
      {"every kind of input", {"a.c", "b.s", "lib/m.lib", "e.o"}, 0},
      {"options before and after sources",
       {"-g", "-O2", "a.c", "-DX=1", "-gp=8", "-J0", "c.c", "-lmap", "-a=0x80000", "-eprog.srf"},
       0},
      {"plus options, one left open",
       {"-nodefsup", "+codeblock", "CODE1", "{x.o", "y.o}", "b.s", "+cref", "-nodeflib", "+l"},
       0},
      {"compile only", {"-c", "a.c", "b.s"}, 0},
      {"user command file", {"-g", "app.cm"}, 0},
      {"verbose, without temporaries", {"-v", "-b", "b.s"}, 0},
      {"refused option", {"a.c", "-x", "b.s"}, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    write_file("c.c", "int c;\n");
    const Names before = files();
    Names words = row.words;
    words.insert(words.begin(), "-###");
    RunResult dry = run(words, directories);
    EXPECT_EQ(dry.exit_code, row.exit_code);
    EXPECT_TRUE(tools().empty());
    EXPECT_EQ(files(), before);

    RunResult real = run(row.words, directories);
    EXPECT_EQ(real.exit_code, row.exit_code);
    Names shown = lines_of(dry.out);
    if (row.exit_code != 0) shown.pop_back();  // the refusal's own message
    EXPECT_EQ(shown, recorded_as_dry_run());
    forget_tool_runs();
    for (const auto& name : files()) {
      if (std::find(before.begin(), before.end(), name) == before.end()) {
        std::filesystem::remove_all(name);
      }
    }
  }
}

TEST_F(FeatureRun, DryRunStillRefusesAndShowsSourcesThatAreMissing) {
  const std::vector<ExpectedRun> rows = {
      {"missing source",
       {"-###", "-c", "missing.c"},
       0,
       "gcc33.exe -S -x c -Iinc missing.$\next33.exe missing.ps\nas33.exe missing.ms\n",
       ""},
      {"unknown option before any file",
       {"-###", "-x", "a.c"},
       1,
       "Unkown Option -x\n" + usage,
       ""},
      {"nothing to build", {"-###"}, 1, usage, ""},
      {"after files, unknown plus option",
       {"-c", "b.s", "+X", "-###"},
       1,
       "pp33.exe b.s\next33.exe b.ps\nas33.exe b.ms\n",
       "err options '+X'\n"},
      {"dry run asked for by a response file",
       {"-c", "b.s", "@dry.rsp"},
       0,
       "pp33.exe b.s\next33.exe b.ps\nas33.exe b.ms\n",
       ""},
  };
  write_file("dry.rsp", "-###\n");
  expect_runs(rows, directories);
  EXPECT_TRUE(tools().empty());
  EXPECT_EQ(files(), (Names{"a.c", "b.s", "dry.rsp"}));
}

TEST_F(FeatureRun, ResponseFilesStandForTheirWords) {
  write_file("quoted.rsp", "-O2 '-DA=x y' \"-DB=it's\" -DC=back\\\\slash -DD=\\\"q\\\" a.c\n");
  write_file("outer.rsp", "-O1 @inner.rsp\r\na.c\r\n");
  write_file("inner.rsp", "-O2\r\n-O3\r\n");
  write_file("empty.rsp", "");
  write_file("self.rsp", "-O1 @self.rsp");
  write_file("utf8.rsp", "\xEF\xBB\xBF-O2 a.c\n");
  write_file("utf16.rsp", "\xFF\xFE-\x00");
  std::filesystem::create_directory("folder.rsp");
  const std::vector<ExpectedRun> rows = {
      {"quotes and backslashes",
       {"-###", "-E", "@quoted.rsp"},
       0,
       "gcc33.exe -S -x c -O2 -DA=x y -DB=it's -DC=back\\slash -DD=\"q\" -Iinc a.$\n",
       ""},
      {"nested, CR LF line ends",
       {"-###", "-E", "@outer.rsp"},
       0,
       "gcc33.exe -S -x c -O1 -O2 -O3 -Iinc a.$\n",
       ""},
      {"empty", {"-###", "-E", "@empty.rsp", "b.s", "@empty.rsp"}, 0, "pp33.exe b.s\n", ""},
      {"missing, first",
       {"@missing.rsp", "b.s"},
       1,
       usage,
       "Response file read error.'missing.rsp'\n"},
      {"a folder",
       {"-###", "-E", "b.s", "@folder.rsp"},
       1,
       "pp33.exe b.s\n",
       "Response file read error.'folder.rsp'\n"},
      {"names itself",
       {"-###", "-E", "@self.rsp"},
       1,
       usage,
       "Response file nested too deeply.'self.rsp'\n"},
      {"UTF-8 mark", {"-###", "-E", "@utf8.rsp"}, 0, "gcc33.exe -S -x c -O2 -Iinc a.$\n", ""},
      {"UTF-16 mark",
       {"-###", "-E", "@utf16.rsp"},
       1,
       usage,
       "Response file 'utf16.rsp' is saved as UTF-16; save it as ANSI or UTF-8\n"},
  };
  expect_runs(rows, directories);
  EXPECT_TRUE(tools().empty());
}

TEST_F(FeatureRun, WordsBeforeAnUnreadableResponseFileAreHandled) {
  RunResult result = run({"-c", "b.s", "@missing.rsp", "a.c"}, directories);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Response file read error.'missing.rsp'\n");
  EXPECT_EQ(tool_names(), (Names{"pp33.exe", "ext33.exe", "as33.exe"}));
  EXPECT_EQ(files(), (Names{"a.c", "b.o", "b.s"}));
}
