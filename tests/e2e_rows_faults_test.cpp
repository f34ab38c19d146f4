// Faults a build script must be able to trust the driver through: tools that fail, die or
// cannot run, what they print, response files, names and lists at their limits, inputs
// that cannot be read, outputs that cannot be written and a full disk. A failed run says
// so and leaves no half-written file that could pass for a finished one.
#include <string>
#include <vector>

#include "driver/usage.h"
#include "tests/e2e_harness.h"

namespace {

const std::string usage = std::string(usage_text) + "\n";
const Files sources = {{"a.c", "int a;\n"}, {"b.s", "; b\n"}};
const std::string too_long = "Name or value too long '";
const std::string list_full = "Too many options or files, list full at '";

std::vector<Row> fault_rows() {
  const bool windows = EndToEnd::windows_driver();
  // The code a caller sees for a status the driver cannot hand on whole: 255 on POSIX.
  const int unfit = windows ? EndToEnd::seen_exit_code(259) : 255;
  const std::string name_315 = std::string(313, 'n') + ".o", name_316 = "n" + name_315;
  const std::string define_1023 = "-D" + std::string(1020, 'd');  // and a blank: 1023 bytes
  const std::string address_11 = "-a=" + std::string(11, '1');
  const std::string output_319 = "-e" + std::string(319, 'e');
  const std::string value_1019 = std::string(1019, 'v');        // "-l " + value + "\n": 1023 bytes
  const std::string object_102 = std::string(100, 'o') + ".o";  // 9 fit in the list
  // With "-Iinc " after it the list still fits; "-S -x c " + list + "a.$" is 1026 bytes.
  const std::string define_unfit = "-D" + std::string(1015 - 6 - 3, 'd');
  Lines objects = {"-b"};
  Files object_files;
  for (int i = 0; i < 20; ++i) {
    objects.push_back("object_with_a_long_name_" + std::to_string(i) + ".o");
    object_files.emplace_back(objects.back(), "o\n");
  }
  const Files big_c = {{"big.c", std::string(300 * 1024, 'x')}};
  const Files linked_to_t = {{"a.c", "int a;\n"}, {"t", "a file\n"}, {"a.$@", "t"}};
  const std::string shown_by_linker =
      " Link Completed\nCompile Completed\na.o: Warning: undefined x\na.o: Warning: b.o: Warning: "
      "c\na.o: warning: x\nWarning: x\na.o: Warning:x\nx: Warning: Link Completed\n";
  const Environment linker_lines = {
      {"VSTUB_LK33_PRINT",
       "Link Completed\\n Link Completed\\nCompile Completed\\na.o: Warning: undefined x\\na.o: "
       "Warning: b.o: Warning: c\\na.o: warning: x\\nWarning: x\\na.o: Warning:x\\nLink "
       "Completed: Warning: x\\nx: Warning: "}};
  const Environment printing = {
      {"VSTUB_GCC33_PRINT",
       "GNU C Compiler for E0C33 v1\\nGNU C Compiler for EOC33\\n    gcc33 -S -x c a.$:\\ngcc33 "
       "-S\\n"
       "   gcc33 -S\\nCompile Completed\\nExtend Completed\\nLink Completed\\na.$:12: error\\n"
       "In file a.$: bad\\na.$ 12: error\\nsee a.$\\na.$ and a.$:3\\na.$:1 a.$:2\\na.c: Warning: "
       "x\\n"},
      {"VSTUB_PP33_PRINT",
       "Pre Processor Completed\\nExtend Completed\\r\\nAssembly Completed, 0 errors\\n"
       "Assembly Complete\\n Extend Completed\\nextend completed\\nCompile Completed\\n"
       "Link Completed\\nb.s: Warning: x\\n\\nAssembly Completed"},
      {"VSTUB_AS33_STDERR", "as33 says\\n"}};
  // clang-format off
  return {
      {.name = "a failing compiler stops the run with its code", .words = {"a.c", "b.s"},
       .environment = {{"VSTUB_GCC33_EXIT", "2"}}, .files = sources, .exit_code = 2,
       .tools = Lines{"gcc33.exe -S -x c -Iinc a.$"}},
      {.name = "a failing extender loses its output, not its input", .words = {"a.c", "b.s"},
       .environment = {{"VSTUB_EXT33_EXIT", "3"}}, .files = sources, .exit_code = 3,
       .left = {"a.ps"}},
      {.name = "a failing assembler", .words = {"a.c", "b.s"},
       .environment = {{"VSTUB_AS33_EXIT", "4"}}, .files = sources, .exit_code = 4,
       .left = {"a.ms"}},
      {.name = "a failing linker", .words = {"a.c", "b.s"},
       .environment = {{"VSTUB_LK33_EXIT", "255"}}, .files = sources, .exit_code = 255,
       .left = {"a.o", "b.o"}},
      {.name = "-b keeps a failed step's output", .words = {"-b", "b.s"},
       .environment = {{"VSTUB_EXT33_EXIT", "1"}}, .files = sources, .exit_code = 1,
       .left = {"b.ms", "b.ps"}},
      {.name = "a tool killed by a signal", .words = {"b.s"},
       .environment = {{"VSTUB_AS33_SIGNAL", "9"}}, .files = sources, .exit_code = 137,
       .left = {"b.ms"}, .posix_only = true},
      {.name = "a tool in the current directory that is no program", .words = {"a.c"},
       .files = {{"a.c", "int a;\n"}, {"gcc33.exe", "not a program\n"}}, .exit_code = unfit,
       .out = "Process create error 'gcc33.exe -S -x c -Iinc a.$'\n"},
      {.name = "a linker that is not found", .words = {"a.o"},
       .environment = {{"PATH", "/nonexistent"}}, .exit_code = unfit,
       .out = "Process create error 'lk33.exe -c __tmp__.cm'\n"},
      {.name = "an exit code that marks a running process on Windows", .words = {"b.o"},
       .environment = {{"VSTUB_LK33_EXIT", "259"}}, .exit_code = 3},
      {.name = "an exit code of -1", .words = {"b.o"}, .environment = {{"VSTUB_LK33_EXIT", "-1"}},
       .exit_code = 255},
      // A POSIX tool hands on only the low 8 bits, so 256 reaches the driver as success.
      {.name = "an exit code of 256", .words = {"b.o"}, .environment = {{"VSTUB_LK33_EXIT", "256"}},
       .exit_code = windows ? EndToEnd::seen_exit_code(256) : 0,
       .left = windows ? Lines{} : Lines{"b.srf"}},
      {.name = "tools that print nothing", .words = {"-c", "b.s"},
       .environment = {{"VSTUB_PP33_QUIET", "1"}, {"VSTUB_EXT33_QUIET", "1"},
                       {"VSTUB_AS33_QUIET", "1"}}, .files = sources, .left = {"b.o"}},
      {.name = "banners are hidden by their own tool's filter and a.$: is shown as a.c:",
       .words = {"-c", "a.c", "b.s"},
       .environment = printing, .files = sources,
       .out = "GNU C Compiler for EOC33\ngcc33 -S\n   gcc33 -S\nExtend Completed\nLink Completed\n"
              "a.c:12: error\nIn file a.c: bad\na.$ 12: error\nsee a.$\na.$ and a.$:3\n"
              "a.c:1 a.$:2\na.c: Warning: x\nAssembly Complete\n Extend Completed\n"
              "extend completed\nCompile Completed\nLink Completed\nb.s: Warning: x\n\n",
       .err = "as33 says\nas33 says\n", .left = {"a.o", "b.o"}},
      {.name = "the linker's warning lines are counted once each", .words = {"a.o"},
       .environment = linker_lines, .exit_code = 3, .out = shown_by_linker},
      {.name = "-normwarn shows warnings and counts none", .words = {"-normwarn", "a.o"},
       .environment = linker_lines, .out = shown_by_linker, .left = {"a.srf"}},
      {.name = "a tool splits its argument text alike on every host",
       .words = {"-c", "-D\"NAME=a b\"", "-DQ=\\\"x\\\"", "-DP=dir\\sub\\", "-DW=\\\\\"x y\"",
                 "a.c"}, .files = sources, .left = {"a.o"},
       .tools = Lines{"gcc33.exe -S -x c \"-DNAME=a b\" -DQ=\"x\" -DP=dir\\sub\\ \"-DW=\\x y\" "
                      "-Iinc a.$", "ext33.exe a.ps", "as33.exe a.ms"}},
      // Wine's own runtime splits a doubled quote inside a run as the current one does.
      {.name = "a doubled quote inside quotes", .words = {"-c", "-DX=\"a\"\"b -DY=c\"\"", "a.c"},
       .files = sources, .left = {"a.o"},
       .tools = Lines{"gcc33.exe -S -x c -DX=a\"b -DY=c -Iinc a.$", "ext33.exe a.ps",
                      "as33.exe a.ms"}, .posix_only = true},
      {.name = "a dry run shows the commands for a missing source",
       .words = {"-###", "-c", "missing.c"},
       .out = "gcc33.exe -S -x c -Iinc missing.$\next33.exe missing.ps\nas33.exe missing.ms\n"},
      {.name = "a response file's quotes and backslashes, and -### in it",
       .words = {"-E", "@quoted.rsp"},
       .files = {{"quoted.rsp",
                  "-### -O2 '-DA=x y' \"-DB=it's\" -DC=back\\\\slash -DD=\\\"q\\\" a.c\n"}},
       .out = "gcc33.exe -S -x c -O2 -DA=x y -DB=it's -DC=back\\slash -DD=\"q\" -Iinc a.$\n"},
      {.name = "nested response files with CR LF, a UTF-8 mark and an empty one",
       .words = {"-###", "-E", "@outer.rsp", "b.s", "@empty.rsp"},
       .files = {{"outer.rsp", "-O1 @inner.rsp\r\na.c\r\n"},
                 {"inner.rsp", "\xEF\xBB\xBF-O2\r\n-O3\r\n"}, {"empty.rsp", ""}},
       .out = "gcc33.exe -S -x c -O1 -O2 -O3 -Iinc a.$\npp33.exe b.s\n"},
      {.name = "a missing response file first", .words = {"@missing.rsp", "b.s"}, .exit_code = 1,
       .out = usage, .err = "Response file read error.'missing.rsp'\n"},
      {.name = "the words before an unreadable response file are handled",
       .words = {"-c", "b.s", "@folder.rsp", "a.c"},
       .files = {{"a.c", "int a;\n"}, {"b.s", "; b\n"}, {"folder.rsp/", ""}}, .exit_code = 1,
       .err = "Response file read error.'folder.rsp'\n", .left = {"b.o"},
       .tools = Lines{"pp33.exe b.s", "ext33.exe b.ps", "as33.exe b.ms"}},
      {.name = "a response file that names itself", .words = {"-###", "-E", "@self.rsp"},
       .files = {{"self.rsp", "-O1 @self.rsp"}}, .exit_code = 1, .out = usage,
       .err = "Response file nested too deeply.'self.rsp'\n"},
      {.name = "a UTF-16 response file", .words = {"-###", "-E", "@utf16.rsp"},
       .files = {{"utf16.rsp", "\xFF\xFE-"}}, .exit_code = 1, .out = usage,
       .err = "Response file 'utf16.rsp' is saved as UTF-16; save it as ANSI or UTF-8\n"},
      {.name = "names and lists at their longest",
       .words = {"-c", define_1023, address_11, output_319, "+l", value_1019, name_315},
       .tools = Lines{}},
      {.name = "a name of 316 characters", .words = {"-c", "a.o", name_316}, .exit_code = 1,
       .err = too_long + name_316 + "'\n"},
      {.name = "a -D list of 1024 bytes", .words = {"-c", "a.o", define_1023 + "d"}, .exit_code = 1,
       .err = list_full + define_1023 + "d'\n"},
      {.name = "a start address of 12 characters", .words = {"a.o", address_11 + "2"},
       .exit_code = 1, .err = too_long + address_11 + "2'\n"},
      {.name = "an output name of 320 characters", .words = {"a.o", output_319 + "e"},
       .exit_code = 1, .err = too_long + output_319 + "e'\n"},
      {.name = "a plus option's value past the command file list",
       .words = {"+l", value_1019 + "v", "a.o"}, .exit_code = 1, .out = usage,
       .err = list_full + value_1019 + "v'\n"},
      {.name = "an object past the object list",
       .words = {"-c", object_102, object_102, object_102, object_102, object_102, object_102,
                 object_102, object_102, object_102, object_102}, .exit_code = 1,
       .err = list_full + object_102 + "'\n"},
      {.name = "an argument text that does not fit runs no tool", .words = {define_unfit, "a.c"},
       .files = sources, .exit_code = 1, .err = too_long + "a.$'\n", .tools = Lines{}},
      // A folder opens for reading on POSIX hosts, and fails at the first read.
      {.name = "a folder named like a source", .words = {"x.c"}, .files = {{"x.c/", ""}},
       .exit_code = 1,
       .err = windows ? "Input file open error.'x.c'" : "Input file read error.'x.c'"},
      {.name = "a path through a file", .words = {"f/x.c"}, .files = {{"f", "a file\n"}},
       .exit_code = 1, .err = "Input file open error.'f/x.c'"},
      {.name = "a folder named like the escaped copy", .words = {"a.c"},
       .files = {{"a.c", "int a;\n"}, {"a.$/", ""}}, .exit_code = 1,
       .err = "Output file open error.'a.$'"},
      {.name = "a folder named like the compiler's output is kept", .words = {"-J0", "a.c"},
       .files = {{"a.c", "int a;\n"}, {"a.ps/", ""}}, .exit_code = 1,
       .err = "gcc33: cannot create a.ps\n"},
      {.name = "a folder named like the command file", .words = {"a.o"},
       .files = {{"__tmp__.cm/", ""}}, .exit_code = 1,
       .err = "Command file write error.'__tmp__.cm'\n", .tools = Lines{}},
      {.name = "a link at the escaped copy's name is not written through", .words = {"-b", "a.c"},
       .files = linked_to_t, .exit_code = 1, .err = "Output file open error.'a.$'",
       .tools = Lines{}, .posix_only = true},
      {.name = "a dangling link at the command file's name", .words = {"x.o"},
       .files = {{"__tmp__.cm@", "t"}}, .exit_code = 1,
       .err = "Command file write error.'__tmp__.cm'\n", .tools = Lines{}, .posix_only = true},
      {.name = "a full disk under the escaped copy", .words = {"big.c"}, .files = big_c,
       .exit_code = 1, .err = "Output file write error.'big.$'", .tools = Lines{},
       .posix_only = true, .file_size_limit = 64 * 1024},
      {.name = "a full disk under the escaped copy kept with -b", .words = {"-b", "big.c"},
       .files = big_c, .exit_code = 1, .err = "Output file write error.'big.$'", .left = {"big.$"},
       .posix_only = true, .file_size_limit = 64 * 1024},
      {.name = "a full disk under the command file",
       .words = Lines(objects.begin() + 1, objects.end()), .files = object_files, .exit_code = 1,
       .err = "Command file write error.'__tmp__.cm'\n", .tools = Lines{}, .posix_only = true,
       .file_size_limit = 512},
      {.name = "a full disk under the command file kept with -b", .words = objects,
       .files = object_files, .exit_code = 1, .err = "Command file write error.'__tmp__.cm'\n",
       .left = {"__tmp__.cm"}, .posix_only = true, .file_size_limit = 512},
      {.name = "a full disk under a tool's output", .words = {"big.s"},
       .files = {{"big.s", std::string(100 * 1024, 'x')}}, .exit_code = 1,
       .err = "pp33: cannot create big.ps\n", .tools = Lines{"pp33.exe big.s"}, .posix_only = true,
       .file_size_limit = 64 * 1024},
  };
  // clang-format on
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Faults, Rows, ::testing::ValuesIn(fault_rows()), row_name);
