// The driver as a user meets it: its refusals and answers, where each option takes effect,
// which tools run with which words, what the command file says and which files are left.
#include <string>
#include <vector>

#include "driver/usage.h"
#include "tests/e2e_harness.h"

namespace {

const std::string usage = std::string(usage_text) + "\n";
const Files sources = {{"a.c", "int a;\n"}, {"b.s", "; b\n"}};
const std::string address = "-addr 0x100000 {DEFAULT_CODE DEFAULT_DATA DEFAULT_BSS}";
const Files configured = {
    {"vexa.cfg", "; board\nINC=sdk/inc\nLIB=sdk/lib\nsdk/lib/libc.lib\nsdk/lib/libm.LIB\n"}};

std::string warnings(int count) {
  std::string lines;
  for (int i = 1; i <= count; ++i)
    lines += "__tmp__.cm: Warning: stand-in warning " + std::to_string(i) + "\n";
  return lines;
}

std::vector<Row> driver_rows() {
  const std::string start = EndToEnd::windows_driver() ? "lib\\cstart.o" : "lib/cstart.o";
  const Lines a_chain = {"gcc33.exe -S -x c -Iinc a.$", "ext33.exe a.ps", "as33.exe a.ms"};
  const Files sjis = {{"a.c", "\x81\x5C\n"}, {"b.c", "\x81\x5C\n"}};
  // clang-format off
  std::vector<Row> rows = {
      {.name = "no words", .exit_code = 1, .out = usage},
      {.name = "options, libraries and a plus option's value are no input",
       .words = {"-g", "-###", "m.lib", "+l", "-x"}, .exit_code = 1, .out = usage},
      {.name = "an unknown option before any file, in a dry run", .words = {"-x", "-###", "a.o"},
       .exit_code = 1, .out = "Unkown Option -x\n" + usage},
      {.name = "an unknown option after a file", .words = {"a.c", "-x", "b.s"}, .files = sources,
       .exit_code = 1, .out = "Unkown Option -x\n", .left = {"a.o"}, .tools = a_chain,
       .dry_run_too = true},
      {.name = "an unknown file type", .words = {"main.C"}, .exit_code = 1,
       .out = "Unkown File main.C\n" + usage},
      {.name = "a name whose only dot comes first", .words = {"a.o", ".c"}, .exit_code = 1,
       .out = "Unkown File .c\n"},
      {.name = "an unknown plus option after a file, in a dry run",
       .words = {"-c", "b.s", "+Cref", "-###"}, .files = sources, .exit_code = 1,
       .out = "pp33.exe b.s\next33.exe b.ps\nas33.exe b.ms\n", .err = "err options '+Cref'\n"},
      {.name = "help", .words = {"--help"}, .out = usage},
      {.name = "help after a refused and an owed word", .words = {"-x", "+l", "--help", "a.c"},
       .out = usage},
      {.name = "help from a response file", .words = {"a.c", "@help.rsp"},
       .files = {{"help.rsp", "b.s --help"}}, .out = usage},
      {.name = "help after an unreadable response file", .words = {"a.c", "@none.rsp", "--help"},
       .out = usage},
      {.name = "help named before version", .words = {"--help", "--version"}, .out = usage},
      {.name = "every kind of input",
       .words = {"sub/e.o", "a.c", "b.v1.s", "c.ps", "d.ms", "lib/m.lib"},
       .files = {{"sub/e.o", "e\n"}, {"a.c", "a\n"}, {"b.v1.s", "b\n"}, {"c.ps", "c\n"},
                 {"d.ms", "d\n"}}, .left = {"a.o", "b.v1.o", "c.o", "d.o"},
       .tools = Lines{"gcc33.exe -S -x c -Iinc a.$", "ext33.exe a.ps", "as33.exe a.ms",
                      "pp33.exe b.v1.s", "ext33.exe b.v1.ps", "as33.exe b.v1.ms", "ext33.exe c.ps",
                      "as33.exe c.ms", "as33.exe d.ms", "lk33.exe -c __tmp__.cm"},
       .command_file = Lines{"-v3", "-objsym", address, "-l lib", "-o sub/e.srf", start, "sub/e.o",
                             "a.o", "b.v1.o", "c.o", "d.o", "lib/m.lib"}, .dry_run_too = true},
      {.name = "options reach the sources after them, link options act anywhere",
       .words = {"-O2", "a.c", "-g", "-DX=1", "-Wall", "-Ifoo", "-gp=8", "-lk=app", "-j=5", "-near",
                 "-J0", "b.c", "c.s", "-lmap", "-lk", "-l", "-a", "-a=0x80000", "-eprog.srf"},
       .files = {{"a.c", "a\n"}, {"b.c", "b\n"}, {"c.s", "c\n"}},
       .left = {"a.o", "b.o", "c.o", "prog.srf"},
       .tools = Lines{"gcc33.exe -S -x c -O2 -Iinc a.$", "ext33.exe a.ps", "as33.exe a.ms",
                      "gcc33.exe -S -x c -g -O2 -Iinc -DX=1 -Wall -Ifoo b.c",
                      "ext33.exe -gp 8 -lk app -j 5 -near b.ps", "as33.exe -g b.ms",
                      "pp33.exe -g c.s", "ext33.exe -gp 8 -lk app -j 5 -near c.ps",
                      "as33.exe -g c.ms", "lk33.exe -g -map -k - -c __tmp__.cm"},
       .command_file = Lines{"-v3", "-objsym",
                             "-addr 0x80000 {DEFAULT_CODE DEFAULT_DATA DEFAULT_BSS}", "-l lib",
                             "-o prog.srf", start, "a.o", "b.o", "c.o"}, .dry_run_too = true},
      {.name = "-E after -c stops after the compiler", .words = {"-c", "-E", "a.c"},
       .files = sources, .left = {"a.ps"}, .tools = Lines{"gcc33.exe -S -x c -Iinc a.$"}},
      {.name = "-S stops after the extender", .words = {"-S", "b.s"}, .files = sources,
       .left = {"b.ms"}, .tools = Lines{"pp33.exe b.s", "ext33.exe b.ps"}},
      {.name = "-c after the file still stops the link", .words = {"a.c", "-c"}, .files = sources,
       .left = {"a.o"}, .tools = a_chain},
      {.name = "-b keeps every intermediate and the command file", .words = {"-b", "a.c"},
       .files = sources, .left = {"__tmp__.cm", "a.$", "a.ms", "a.o", "a.ps", "a.srf"},
       .command_file = Lines{"-v3", "-objsym", address, "-l lib", "-o a.srf", start, "a.o"},
       .dry_run_too = true},
      {.name = "-J without a digit leaves escaping as it was",
       .words = {"-b", "-c", "-J", "a.c", "-J0", "-J", "-Jx", "b.c"}, .files = sjis,
       .left = {"a.$", "a.ms", "a.o", "a.ps", "b.ms", "b.o", "b.ps"},
       .contents = {{"a.$", "\x81\x5C\x5C \n"}},
       .tools = Lines{"gcc33.exe -S -x c -Iinc a.$", "ext33.exe a.ps", "as33.exe a.ms",
                      "gcc33.exe -S -x c -Iinc b.c", "ext33.exe b.ps", "as33.exe b.ms"}},
      {.name = "-J takes its digits modulo 256",
       .words = {"-###", "-E", "-J256", "a.c", "-J257", "b.c", "-J0", "-J12x", "c.c"},
       .out = "gcc33.exe -S -x c -Iinc a.c\ngcc33.exe -S -x c -Iinc b.$\n"
              "gcc33.exe -S -x c -Iinc c.$\n"},
      {.name = "a user's command file is linked as it is and kept",
       .words = {"-g", "-lmap", "app.cm"}, .environment = {{"VSTUB_LK33_WARNINGS", "1"}},
       .files = {{"app.cm", "-o app.srf\nx.o\n"}}, .exit_code = 1,
       .out = "app.cm: Warning: stand-in warning 1\n", .left = {"app.srf"},
       .tools = Lines{"lk33.exe -g -map -c app.cm"}},
      {.name = "an object after a command file", .words = {"app.cm", "a.o"}, .exit_code = 1,
       .err = "File 'a.o' cannot be linked together with a command file\n"},
      {.name = "a source after a command file", .words = {"app.cm", "b.s"}, .files = sources,
       .exit_code = 1, .err = "File 'b.s' cannot be linked together with a command file\n"},
      {.name = "a command file after an object", .words = {"a.o", "app.cm"}, .exit_code = 1,
       .err = "Command file 'app.cm' cannot be linked together with object files\n"},
      {.name = "a second command file", .words = {"a.cm", "b.cm"}, .exit_code = 1,
       .err = "Command file 'b.cm' follows another command file\n"},
      {.name = "-e before the objects names the output", .words = {"-eout.srf", "a.o", "b.o"},
       .left = {"out.srf"}},
      {.name = "-e alone lets the next object name the output", .words = {"a.o", "-e", "b.o"},
       .left = {"b.srf"}},
      {.name = "no start address, startup object or default libraries",
       .words = {"-a=0x80000", "-abc", "-nodefsup", "a.o", "-nodeflib", "m.lib"},
       .files = configured, .left = {"a.srf"},
       .command_file = Lines{"-v3", "-objsym", "-l lib", "-o a.srf", "a.o", "m.lib"}},
      {.name = "plus options and the configured libraries",
       .words = {"+v3", "+objsym", "+m", "+s", "+g", "+e", "+w", "+d", "+ld", "+inclink", "+o",
                 "o.srf", "+defsym", "s=1", "+align", "-x", "+defaddr", "+V3", "+l", "c.s",
                 "+codeblock", "CODE1", "{a.o", "b.o}", "+datablock", "D", "{", "-c", "}",
                 "+bssblock", "B}", "}x", "y}", "+ucodeblock", "U", "}", "+udatablock", "V", "{}",
                 "+ubssblock", "W", "z}", "+addr", "0x0", "{q}", "+cref", "c.s", "m.lib"},
       .files = {configured[0], {"c.s", "c\n"}}, .left = {"c.o", "o.srf"},
       .command_file = Lines{"-v3", "-objsym", address, "-l lib", "-o c.srf", "-m", "-s", "-g",
                             "-e", "-w", "-d", "-ld", "-inclink", "-o o.srf", "-defsym s=1",
                             "-align -x", "-defaddr +V3", "-l c.s", "-codeblock CODE1 {a.o b.o}",
                             "-datablock D { -c }", "-bssblock B} }x y}", "-ucodeblock U }",
                             "-udatablock V {}", "-ubssblock W z}", "-addr 0x0 {q}", "-cref", start,
                             "c.o", "m.lib", "sdk/lib/libc.lib", "sdk/lib/libm.LIB"},
       .dry_run_too = true},
      {.name = "a plus option left open takes the next block",
       .words = {"-nodefsup", "a.o", "+defsym"}, .left = {"a.srf"},
       .command_file = Lines{"-v3", "-objsym", address, "-l lib", "-o a.srf", "-defsym a.o"}},
      {.name = "-v shows every tool run whole and still counts warnings", .words = {"-v", "b.s"},
       .environment = {{"VSTUB_LK33_WARNINGS", "2"}}, .files = sources, .exit_code = 2,
       .out = "--------\npp33.exe b.s\nPre Processor Completed\nExitcode = 0\n--------\n"
              "ext33.exe b.ps\nExtend Completed\nExitcode = 0\nDelete 'b.ps'\n--------\n"
              "as33.exe b.ms\nAssembly Completed\nExitcode = 0\nDelete 'b.ms'\n--------\n"
              "lk33.exe -c __tmp__.cm\n" + warnings(2) + "Link Completed\nExitcode = 0\n"
              "Delete '__tmp__.cm'\nDelete 'b.srf'\n", .left = {"b.o"}},
      {.name = "256 warnings never make success", .words = {"b.o"},
       .environment = {{"VSTUB_LK33_WARNINGS", "256"}},
       .exit_code = EndToEnd::windows_driver() ? EndToEnd::seen_exit_code(256) : 255,
       .out = warnings(256)},
      {.name = "-b keeps a failed link's output and command file", .words = {"-b", "b.s"},
       .environment = {{"VSTUB_LK33_WARNINGS", "3"}}, .files = sources, .exit_code = 3,
       .out = warnings(3), .left = {"__tmp__.cm", "b.ms", "b.o", "b.ps", "b.srf"}},
      {.name = "a failing linker's code wins over its warnings", .words = {"b.o"},
       .environment = {{"VSTUB_LK33_WARNINGS", "2"}, {"VSTUB_LK33_EXIT", "4"}}, .exit_code = 4,
       .out = warnings(2)},
  };
  // clang-format on
  for (const std::string word : {"-", "-gx", "-gp", "-nearer"}) {
    rows.push_back({.name = "the unknown option " + word,
                    .words = {word, "a.o"},
                    .exit_code = 1,
                    .out = "Unkown Option " + word + "\n" + usage});
  }
  return rows;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Driver, Rows, ::testing::ValuesIn(driver_rows()), row_name);
