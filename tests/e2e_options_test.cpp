// Options as a user places them: compiler and extender options reach only the sources
// named after them, link options act wherever they stand, and the generated command file
// carries what the options and the configuration gave, in its order.
#include <string>
#include <vector>

#include "tests/e2e_harness.h"

namespace {

using Names = std::vector<std::string>;

class OptionRun : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    for (const char* source : {"a.c", "b.c", "c.s"}) write_file(source, "x\n");
  }

  // The words of every run of `tool`, each joined into one line.
  Names lines_of(const std::string& tool) const {
    Names lines;
    for (const auto& record : tools()) {
      if (record.tool == tool) lines.push_back(record.command_line());
    }
    return lines;
  }
};

}  // namespace

TEST_F(OptionRun, SourceOptionsReachOnlyTheFilesAfterThem) {
  RunResult result = run({"-J0", "-O2", "a.c", "-g", "-DX=1", "-gp=8", "b.c", "c.s", "-near",
                          "-lmap", "-a=0x80000", "-eprog.srf"},
                         {{"VEXA_INC", "inc"}, {"VEXA_LIB", "lib"}});
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_EQ(lines_of("gcc33.exe"),
            (Names{"gcc33.exe -S -x c -O2 -Iinc a.c", "gcc33.exe -S -x c -g -O2 -Iinc -DX=1 b.c"}));
  EXPECT_EQ(lines_of("ext33.exe"),
            (Names{"ext33.exe a.ps", "ext33.exe -gp 8 b.ps", "ext33.exe -gp 8 c.ps"}));
  EXPECT_EQ(lines_of("as33.exe"), (Names{"as33.exe a.ms", "as33.exe -g b.ms", "as33.exe -g c.ms"}));
  EXPECT_EQ(lines_of("pp33.exe"), (Names{"pp33.exe -g c.s"}));
  EXPECT_EQ(lines_of("lk33.exe"), (Names{"lk33.exe -g -map -c __tmp__.cm"}));
  const std::string separator = windows_driver() ? "\\" : "/";
  EXPECT_EQ(tools().back().command_file,
            (Names{"-v3", "-objsym", "-addr 0x80000 {DEFAULT_CODE DEFAULT_DATA DEFAULT_BSS}",
                   "-l lib", "-o prog.srf", "lib" + separator + "cstart.o", "a.o", "b.o", "c.o"}));
  EXPECT_EQ(files(), (Names{"a.c", "a.o", "b.c", "b.o", "c.o", "c.s", "prog.srf"}));
}

TEST_F(OptionRun, TheCommandFileCarriesPlusOptionsAndTheConfiguredLibraries) {
  write_file("vexa.cfg", "; board\nINC=sdk/inc\nLIB=sdk/lib\nsdk/lib/libc.lib\nsdk/lib/libm.LIB\n");
  const struct {
    const char* name;
    Names words;
    Names command_file;
  } rows[] = {
      {"defaults and plus options",
       {"+codeblock", "CODE1", "{a.o", "b.o}", "c.s", "+l", "-x", "+cref", "m.lib"},
       {"-v3", "-objsym", "-addr 0x100000 {DEFAULT_CODE DEFAULT_DATA DEFAULT_BSS}", "-l sdk/lib",
        "-o c.srf", "-codeblock CODE1 {a.o b.o}", "-l -x", "-cref", "sdk/lib/cstart.o", "c.o",
        "m.lib", "sdk/lib/libc.lib", "sdk/lib/libm.LIB"}},
      {"no start address, startup object or default libraries",
       {"-a", "-nodefsup", "c.s", "-nodeflib", "m.lib"},
       {"-v3", "-objsym", "-l sdk/lib", "-o c.srf", "c.o", "m.lib"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(work().parent_path() / "tools.log");
    RunResult result = run(row.words, {{"VSTUB_LK33_NO_OUTPUT", "1"}});
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    Names expected = row.command_file;
    if (windows_driver()) {
      for (auto& line : expected) {
        if (line == "sdk/lib/cstart.o") line = "sdk/lib\\cstart.o";
      }
    }
    ASSERT_FALSE(tools().empty());
    EXPECT_EQ(tools().back().command_file, expected);
  }
}
