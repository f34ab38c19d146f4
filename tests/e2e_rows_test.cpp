// The driver as a user meets it, one row a run: its refusals and answers, where each option
// takes effect, which tools run with which words, what the command file says and which files
// are left; and the faults a build script must be able to trust it through: tools that fail,
// die or cannot run, what they print, response files, names and lists at their limits,
// inputs that cannot be read, outputs that cannot be written, a full disk, interruption.
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "driver/usage.h"
#include "tests/e2e_harness.h"

namespace {

const std::string usage = std::string(usage_text) + "\n";
const Files sources = {{"a.c", "int a;\n"}, {"b.s", "; b\n"}};
const std::string address = "-addr 0x100000 {DEFAULT_CODE DEFAULT_DATA DEFAULT_BSS}";
const Lines a_chain = {"gcc33.exe -S -x c -Iinc a.$", "ext33.exe a.ps", "as33.exe a.ms"};
const Files configured = {
    {"vexa.cfg",
     "\xEF\xBB\xBFINC=sdk/inc\n; board\nLIB=sdk/lib\nsdk/lib/libc.lib\nsdk/lib/libm.LIB\n"}};

std::string repeated(const std::string& text, int count) {
  std::string texts;
  for (int i = 0; i < count; ++i) texts += text;
  return texts;
}

// What -v shows of assembling STEM.ms, which is the user's own and stays.
std::string assembled(const std::string& stem) {
  return "--------\nas33.exe " + stem + ".ms\nAssembly Completed\nExitcode = 0\n";
}

std::string warnings(int count) {
  std::string lines;
  for (int i = 1; i <= count; ++i)
    lines += "__tmp__.cm: Warning: stand-in warning " + std::to_string(i) + "\n";
  return lines;
}

// clang-format off
// Refusals and answers: no input, unknown words, help.
std::vector<Row> refusal_rows() {
  std::vector<Row> rows = {
      {.name = "no words", .exit_code = 1, .out = usage},
      {.name = "options, libraries and a plus option's value are no input",
       .words = {"-g", "-###", "m.lib", "+l", "-x"}, .exit_code = 1, .out = usage},
      {.name = "an unknown option before any file, in a dry run", .words = {"-x", "-###", "a.o"},
       .exit_code = 1, .out = "Unkown Option -x\n" + usage},
      {.name = "an unknown option after a file", .words = {"a.c", "-x", "b.s"}, .files = sources,
       .exit_code = 1, .out = "Unkown Option -x\n", .left = {"a.o"}, .tools = a_chain,
       .dry_run_too = true},
      {.name = "an unknown option after two chains", .words = {"-c", "a.c", "b.s", "-x"},
       .files = sources, .exit_code = 1, .out = "Unkown Option -x\n", .left = {"a.o", "b.o"}},
      {.name = "an unknown file type", .words = {"main.C"}, .exit_code = 1,
       .out = "Unkown File main.C\n" + usage},
      {.name = "a name whose only dot comes first", .words = {"a.o", ".c"}, .exit_code = 1,
       .out = "Unkown File .c\n"},
      {.name = "an unknown plus option after a file, in a dry run",
       .words = {"-c", "b.s", "+Cref", "-###"}, .files = sources, .exit_code = 1,
       .out = "pp33.exe b.s\next33.exe b.ps\nas33.exe b.ms\n", .err = "err options '+Cref'\n"},
      {.name = "help after a refused and an owed word, before version",
       .words = {"-x", "+l", "w", "--help", "--version", "a.c"}, .out = usage},
      {.name = "help from a response file", .words = {"a.c", "@help.rsp"},
       .files = {{"help.rsp", "b.s --help"}}, .out = usage},
      {.name = "help after an unreadable response file", .words = {"a.c", "@none.rsp", "--help"},
       .out = usage},
  };
  for (const std::string word :
       {"-", "-gx", "-gp", "-nearer", "--jobs=0", "--jobs=257", "--jobs=x"}) {
    rows.push_back({.name = "the unknown option " + word,
                    .words = {word, "a.o"},
                    .exit_code = 1,
                    .out = "Unkown Option " + word + "\n" + usage});
  }
  return rows;
}

// Where each option takes effect, which tools run with which words.
std::vector<Row> option_rows() {
  const std::string start = EndToEnd::windows_driver() ? "lib\\cstart.o" : "lib/cstart.o";
  return {
      // A name with a blank goes to a tool in quotes, to the command file as it is.
      {.name = "every kind of input",
       .words = {"sub/e.o", "a.c", "b.v1.s", "c.ps", "d d.ms", "lib/m.lib"},
       .files = {{"sub/e.o", "e\n"}, {"a.c", "a\n"}, {"b.v1.s", "b\n"}, {"c.ps", "c\n"},
                 {"d d.ms", "d\n"}}, .left = {"a.o", "b.v1.o", "c.o", "d d.o"},
       .tools = Lines{"gcc33.exe -S -x c -Iinc a.$", "ext33.exe a.ps", "as33.exe a.ms",
                      "pp33.exe b.v1.s", "ext33.exe b.v1.ps", "as33.exe b.v1.ms", "ext33.exe c.ps",
                      "as33.exe c.ms", "as33.exe \"d d.ms\"", "lk33.exe -c __tmp__.cm"},
       .command_file = Lines{"-v3", "-objsym", address, "-l lib", "-o sub/e.srf", start, "sub/e.o",
                             "a.o", "b.v1.o", "c.o", "d d.o", "lib/m.lib"}, .dry_run_too = true},
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
       .words = {"-b", "-c", "-J", "a.c", "-J0", "-J", "-Jx", "b.c"},
       .files = {{"a.c", "\x81\x5C\n"}, {"b.c", "\x81\x5C\n"}},
       .left = {"a.$", "a.ms", "a.o", "a.ps", "b.ms", "b.o", "b.ps"},
       .contents = {{"a.$", "\x81\x5C\x5C \n"}},
       .tools = Lines{"gcc33.exe -S -x c -Iinc a.$", "ext33.exe a.ps", "as33.exe a.ms",
                      "gcc33.exe -S -x c -Iinc b.c", "ext33.exe b.ps", "as33.exe b.ms"}},
      {.name = "-J takes its digits modulo 256",
       .words = {"-###", "-E", "-J256", "a.c", "-J257", "b.c", "-J0", "-J12x", "c.c"},
       .out = "gcc33.exe -S -x c -Iinc a.c\ngcc33.exe -S -x c -Iinc b.$\n"
              "gcc33.exe -S -x c -Iinc c.$\n"},
  };
}

// -o: the file a stage makes, or the program; every file of a chain in the output's folder.
std::vector<Row> output_rows() {
  const std::string start = EndToEnd::windows_driver() ? "lib\\cstart.o" : "lib/cstart.o";
  const Files in_src = {{"src/a.c", "#include \"a.h\"\n"}, {"src/a.h", ""}, {"src/b.s", "; b\n"}};
  Files in_src_and_out = in_src;
  in_src_and_out.emplace_back("out/", "");
  const std::string many = "Cannot specify '-o' with '-c', '-S' or '-E' with multiple files\n";
  return {
      {.name = "-o after the source names the object of -c, made in its folder",
       .words = {"-c", "-MD", "src/a.c", "-o", "x.c.o"}, .files = in_src,
       .left = {"x.c.d", "x.c.o"}, .contents = {{"x.c.d", "x.c.o: src/a.c src/a.h\n"}},
       .tools = Lines{"gcc33.exe -S -x c -Isrc/ -Iinc x.c.$", "ext33.exe x.c.ps",
                      "as33.exe x.c.ms"}},
      {.name = "-oFILE under -S copies a source under -J0", .words = {"-S", "-oout.ms", "-J0",
       "src/a.c"}, .files = in_src, .left = {"out.ms"},
       .tools = Lines{"gcc33.exe -S -x c -Isrc/ -Iinc out.$", "ext33.exe out.ps"}},
      {.name = "-o under -E names what an assembler source's copy made",
       .words = {"-E", "src/b.s", "-o", "b.i"}, .files = in_src, .left = {"b.i"},
       .tools = Lines{"pp33.exe b.s"}},
      {.name = "with -o, -c acts wherever it stands", .words = {"-E", "a.c", "-c", "-o", "a.o"},
       .files = sources, .left = {"a.o"}, .tools = a_chain},
      {.name = "-o names the program, -e after it wins", .words = {"-ox.srf", "a.o", "-ey.srf"},
       .files = {{"a.o", ""}}, .left = {"y.srf"},
       .command_file = Lines{"-v3", "-objsym", address, "-l lib", "-o y.srf", start, "a.o"}},
      {.name = "a link with -o makes each source's files in the output's folder",
       .words = {"src/a.c", "src/b.s", "-o", "out/app.srf"}, .files = in_src_and_out,
       .tools = Lines{"gcc33.exe -S -x c -Isrc/ -Iinc out/a.$", "ext33.exe out/a.ps",
                      "as33.exe out/a.ms", "pp33.exe out/b.s", "ext33.exe out/b.ps",
                      "as33.exe out/b.ms", "lk33.exe -c __tmp__.cm"},
       .command_file = Lines{"-v3", "-objsym", address, "-l lib", "-o out/app.srf", start,
                             "out/a.o", "out/b.o"}},
      {.name = "the compiler's messages name the source as given",
       .words = {"-c", "src/a.c", "-o", "o.o"}, .environment = stub("GCC33_PRINT", "o.$:3: e\\n"),
       .files = in_src, .out = "src/a.c:3: e\n", .left = {"o.o"}},
      {.name = "the compiler's last line without its line feed names the source too",
       .words = {"-c", "src/a.c", "-o", "o.o"},
       .environment = {{"VSTUB_GCC33_PRINT", "o.$:3: e"}, {"VSTUB_GCC33_QUIET", "1"}},
       .files = in_src, .out = "src/a.c:3: e", .left = {"o.o"}},
      {.name = "-e naming the command file links nothing under -c, so nothing is refused",
       .words = {"-c", "-e__tmp__.cm", "a.c"}, .files = sources, .left = {"a.o"},
       .tools = a_chain},
      {.name = "-o with -c and two sources", .words = {"-c", "a.c", "b.s", "-o", "x.o"},
       .files = sources, .exit_code = 1, .err = many, .tools = Lines{}, .dry_run_too = true},
      {.name = "-o without its file", .words = {"a.c", "-o"}, .files = sources, .exit_code = 1,
       .err = "Missing file name after '-o'\n", .tools = Lines{}},
      {.name = "-o naming an input", .words = {"-c", "a.c", "-o./a.c"}, .files = sources,
       .exit_code = 1, .err = "Output file './a.c' is one of the input files\n", .tools = Lines{}},
      {.name = "-o with a source that cannot be copied", .words = {"-c", "no.s", "-o", "x/n.o"},
       .exit_code = 1, .err = "Input file open error.'no.s'\n", .tools = Lines{}},
      {.name = "-o beside a command file", .words = {"app.cm", "-o", "x.srf"}, .exit_code = 1,
       .err = "Option '-o' cannot be linked together with a command file\n", .tools = Lines{}},
      {.name = "a link with -o of two sources of one name",
       .words = {"a.c", "src/A.s", "-o", "x.srf"}, .files = sources, .exit_code = 1,
       .err = "Source 'src/A.s' would make the same files as another source in the output's "
              "folder\n", .tools = Lines{}},
  };
}

// A user's command file, and the output's name.
std::vector<Row> command_file_rows() {
  std::vector<Row> rows = {
      {.name = "a user's command file is linked as it is and kept, its name quoted",
       .words = {"-g", "-lmap", "my app.cm"}, .environment = stub("LK33_WARNINGS", "1"),
       .files = {{"my app.cm", "-o app.srf\nx.o\n"}}, .exit_code = 1,
       .out = "my app.cm: Warning: stand-in warning 1\n", .left = {"app.srf"},
       .tools = Lines{"lk33.exe -g -map -c \"my app.cm\""}},
      {.name = "an object after a command file", .words = {"app.cm", "a.o"}, .exit_code = 1,
       .err = "File 'a.o' cannot be linked together with a command file\n"},
      {.name = "a source after a command file", .words = {"app.cm", "b.s"}, .files = sources,
       .exit_code = 1, .err = "File 'b.s' cannot be linked together with a command file\n"},
      {.name = "a command file after an object", .words = {"a.o", "app.cm"}, .exit_code = 1,
       .err = "Command file 'app.cm' cannot be linked together with object files\n"},
      {.name = "a second command file", .words = {"a.cm", "b.cm"}, .exit_code = 1,
       .err = "Command file 'b.cm' follows another command file\n"},
      {.name = "an output that is an input, by another spelling", .words = {"-e./b.s", "a.c", "b.s"},
       .environment = stub("LK33_EXIT", "1"), .files = sources, .exit_code = 1,
       .err = "Output file './b.s' is one of the input files\n", .tools = Lines{}},
      {.name = "-e before the objects names the output", .words = {"-eout.srf", "a.o", "b.o"},
       .left = {"out.srf"}},
      {.name = "-e alone lets the next object name the output", .words = {"a.o", "-e", "b.o"},
       .left = {"b.srf"}},
  };
  // Refused before any tool runs, naming the words; the files stay as they were.
  const Files x = {{"x.c", "x\n"}, {"x.ps", "hand-written\n"}};
  for (const auto& [words, files, message] : std::vector<std::tuple<Lines, Files, std::string>>{
           {{"+o", "a.o", "a.o"}, {{"a.o", "a\n"}}, "Output file 'a.o' is one of the input files"},
           {{"-e__tmp__.cm", "b.o"}, {}, "Output file '__tmp__.cm' is the linker's command file"},
           {{"+o", "./__tmp__.cm", "b.o"}, {}, "Output file './__tmp__.cm' is the linker's command file"},
           {{"a.c", "app.cm"}, sources, "Command file 'app.cm' cannot be linked together with object files"},
           {{"-c", "x.ps", "x.c"}, x, "Input file 'x.ps' is one of the files 'x.c' makes"},
           {{"x.c", "-b", "x.ps"}, x, "Input file 'x.ps' is one of the files 'x.c' makes"},
           {{"-S", "b.s", "./b.ms"}, {sources[1], {"b.ms", "\n"}},
            "Input file './b.ms' is one of the files 'b.s' makes"},
           {{"a.c", "a.o"}, {sources[0], {"a.o", "o\n"}}, "Input file 'a.o' is one of the files 'a.c' makes"},
           {{"a.c", "-I", "b.s"}, sources, "Option '-I' without a value"},
           {{"-D", "a.c"}, sources, "Option '-D' without a value"},
           {{"a.c", "n\nl.c"}, sources, "Name holding a line break 'n\nl.c'"},
           {{"+l", "a\rb", "a.o"}, {}, "Name holding a line break 'a\rb'"}}) {
    rows.push_back({.name = "refused before any tool runs: " + words[0] + " " + words[1],
                    .words = words, .files = files, .exit_code = 1, .err = message + "\n",
                    .tools = Lines{}});
  }
  for (const std::string word :
       {"board.lib", "+cref", "+v3", "-eother.srf", "-a=0x0", "-a", "-nodefsup", "-nodeflib"}) {
    rows.push_back({.name = word + " beside a command file",
                    .words = {word, "my.cm"},
                    .exit_code = 1,
                    .err = (word[0] == 'b' ? "File '" : "Option '") + word +
                           "' cannot be linked together with a command file\n",
                    .tools = Lines{}});
  }
  return rows;
}

// What the link gets, and the code its warnings make.
std::vector<Row> link_rows() {
  const std::string start = EndToEnd::windows_driver() ? "lib\\cstart.o" : "lib/cstart.o";
  return {
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
      {.name = "a plus option still owed a word at the end builds nothing",
       .words = {"a.c", "+l", "x", "+codeblock", "C"}, .files = sources, .exit_code = 1,
       .err = "err options '+codeblock'\n", .tools = Lines{}, .dry_run_too = true},
      {.name = "a plus option's word is its text, never --help, -### or --jobs",
       .words = {"+l", "--help", "+defaddr", "-###", "+defsym", "--jobs=2", "a.o", "b.o"},
       .left = {"a.srf"}, .tools = Lines{"lk33.exe -c __tmp__.cm"},
       .command_file = Lines{"-v3", "-objsym", address, "-l lib", "-o a.srf", "-l --help",
                             "-defaddr -###", "-defsym --jobs=2", start, "a.o", "b.o"}},
      {.name = "-v shows every tool run whole and still counts warnings", .words = {"-v", "b.s"},
       .environment = stub("LK33_WARNINGS", "2"), .files = sources, .exit_code = 2,
       .out = "--------\npp33.exe b.s\nPre Processor Completed\nExitcode = 0\n--------\n"
              "ext33.exe b.ps\nExtend Completed\nExitcode = 0\nDelete 'b.ps'\n--------\n"
              "as33.exe b.ms\nAssembly Completed\nExitcode = 0\nDelete 'b.ms'\n--------\n"
              "lk33.exe -c __tmp__.cm\n" + warnings(2) + "Link Completed\nExitcode = 0\n"
              "Delete '__tmp__.cm'\nDelete 'b.srf'\n", .left = {"b.o"}},
      {.name = "256 warnings never make success", .words = {"b.o"},
       .environment = stub("LK33_WARNINGS", "256"),
       .exit_code = EndToEnd::windows_driver() ? EndToEnd::seen_exit_code(256) : 255,
       .out = warnings(256)},
      {.name = "+o names the program that a link with warnings leaves out",
       .words = {"-eout.srf", "+o", "prog.srf", "b.o"}, .environment = stub("LK33_WARNINGS", "1"),
       .exit_code = 1, .out = warnings(1)},
      {.name = "-b keeps the program +o names", .words = {"+o", "prog.srf", "-b", "b.o"},
       .environment = stub("LK33_EXIT", "2"), .exit_code = 2, .left = {"__tmp__.cm", "prog.srf"}},
      {.name = "-b keeps a failed link's output and command file", .words = {"-b", "b.s"},
       .environment = stub("LK33_WARNINGS", "3"), .files = sources, .exit_code = 3,
       .out = warnings(3), .left = {"__tmp__.cm", "b.ms", "b.o", "b.ps", "b.srf"}},
      // Run again with --jobs=4, the second chain's pp33 would change a.ps under the first.
      {.name = "sources that share their files' names", .words = {"a.c", "a.s", "a.c"},
       .environment = stub("GCC33_SLEEP_MS", "300"), .files = {{"a.c", ""}, {"a.s", ""}},
       .left = {"a.o", "a.srf"}},
      {.name = "a failing linker's code wins over its warnings", .words = {"b.o"},
       .environment = {{"VSTUB_LK33_WARNINGS", "2"}, {"VSTUB_LK33_EXIT", "4"}}, .exit_code = 4,
       .out = warnings(2)},
  };
}

const std::string too_long = "Name or value too long '";
const std::string list_full = "Too many options or files, list full at '";

// Tools that fail, die or cannot run.
std::vector<Row> tool_failure_rows() {
  const bool windows = EndToEnd::windows_driver();
  // The code a caller sees for a status the driver cannot hand on whole: 255 on POSIX.
  const int unfit = windows ? EndToEnd::seen_exit_code(259) : 255;
  return {
      {.name = "a failing compiler stops the run with its code", .words = {"a.c", "b.s"},
       .environment = stub("GCC33_EXIT", "2"), .files = sources, .exit_code = 2,
       .tools = Lines{"gcc33.exe -S -x c -Iinc a.$"}},
      {.name = "a failing extender loses its output, not its input", .words = {"a.c", "b.s"},
       .environment = stub("EXT33_EXIT", "3"), .files = sources, .exit_code = 3, .left = {"a.ps"}},
      {.name = "a failing assembler", .words = {"a.c", "b.s"},
       .environment = stub("AS33_EXIT", "4"), .files = sources, .exit_code = 4, .left = {"a.ms"}},
      {.name = "a failing linker", .words = {"a.c", "b.s"}, .environment = stub("LK33_EXIT", "255"),
       .files = sources, .exit_code = 255, .left = {"a.o", "b.o"}},
      {.name = "-b keeps a failed step's output", .words = {"-b", "b.s"},
       .environment = stub("EXT33_EXIT", "1"), .files = sources, .exit_code = 1,
       .left = {"b.ms", "b.ps"}},
      {.name = "a tool killed by a signal", .words = {"b.s"},
       .environment = stub("AS33_SIGNAL", "9"), .files = sources, .exit_code = 137,
       .err = "vexa: as33.exe: killed by signal 9 (Killed)\n", .left = {"b.ms"},
       .posix_only = true},
      {.name = "a tool killed by a signal under -v", .words = {"-v", "-c", "b.s"},
       .environment = {{"VSTUB_PP33_SIGNAL", "15"}, {"VSTUB_PP33_QUIET", "1"}}, .files = sources,
       .exit_code = 143, .out = "--------\npp33.exe b.s\nExitcode = 143\nDelete 'b.ps'\n",
       .err = "vexa: pp33.exe: killed by signal 15 (Terminated)\n", .posix_only = true},
      // POSIX passes by a file that cannot be run, as a shell's search does.
      {.name = "a tool in the current directory that is no program", .words = {"a.c"},
       .files = {{"a.c", "int a;\n"}, {"gcc33.exe", "not a program\n"}},
       .exit_code = windows ? unfit : 0,
       .out = windows ? "Process create error 'gcc33.exe -S -x c -Iinc a.$'\n" : "",
       .err = windows ? "vexa: CreateProcess: Bad EXE format for .\\gcc33.exe\n" : "",
       .left = windows ? Lines{} : Lines{"a.o", "a.srf"}},
      {.name = "a tool that may be run but is no program", .words = {"-c", "a.c"},
       .files = {{"a.c", "int a;\n"}, {"gcc33.exe*", "not a program\n"}}, .exit_code = unfit,
       .out = "Process create error 'gcc33.exe -S -x c -Iinc a.$'\n",
       .err = "vexa: posix_spawn: Exec format error\n", .posix_only = true},
      {.name = "a folder of a tool's name is passed by", .words = {"-c", "a.c"},
       .files = {{"a.c", "int a;\n"}, {"gcc33.exe/", ""}}, .left = {"a.o"}},
      // POSIX says why; Windows' own search calls nothing that could give a reason.
      {.name = "a linker that is not found", .words = {"a.o"},
       .environment = {{"PATH", "/nonexistent"}}, .exit_code = unfit,
       .out = "Process create error 'lk33.exe -c __tmp__.cm'\n",
       .err = windows ? "" : "vexa: lk33.exe: No such file or directory\n"},
      {.name = "--jobs=256 within a small limit on open files",
       .words = {"--jobs=256", "-c", "a.s", "b.s", "c.s", "d.s", "e.s", "f.s", "g.s", "h.s"},
       .files = {{"a.s", ""}, {"b.s", ""}, {"c.s", ""}, {"d.s", ""}, {"e.s", ""}, {"f.s", ""},
                 {"g.s", ""}, {"h.s", ""}},
       .left = {"a.o", "b.o", "c.o", "d.o", "e.o", "f.o", "g.o", "h.o"}, .posix_only = true,
       .launch = {.open_files_limit = 10}},
      // Under --jobs the last chain fails first, while the second still runs: what the second
      // shows after that failure is still the serial run's.
      {.name = "a later chain's failure keeps the output of an earlier one",
       .words = {"-c", "a.s", "b.s", "c.c"},
       .environment = {{"VSTUB_PP33_SLEEP_MS", "300"}, {"VSTUB_EXT33_WARNINGS", "1"},
                       {"VSTUB_GCC33_EXIT", "1"}},
       .files = {{"a.s", ""}, {"b.s", ""}, {"c.c", "int c;\n"}}, .exit_code = 1,
       .out = "a.ps: Warning: stand-in warning 1\nb.ps: Warning: stand-in warning 1\n",
       .left = {"a.o", "b.o"}},
      // A chain is two processes, its worker and the worker's tool, beside the driver and the
      // worker it starts ahead.
      {.name = "--jobs=8 within a limit of 6 processes, shown under -v",
       .words = {"--jobs=8", "-v", "-c", "a.ms", "b.ms", "c.ms"},
       .files = {{"a.ms", ""}, {"b.ms", ""}, {"c.ms", ""}},
       .out = "--jobs=8 lowered to 2 chains at once by the limit on processes\n" +
              assembled("a") + assembled("b") + assembled("c"),
       .left = {"a.o", "b.o", "c.o"}, .posix_only = true, .launch = {.processes_limit = 6}},
      // One wait on Windows takes 64 handles, three a chain.
      {.name = "--jobs=25 -v, beyond what one wait on Windows takes",
       .words = {"--jobs=25", "-v", "-c", "a.ms", "b.ms"}, .files = {{"a.ms", ""}, {"b.ms", ""}},
       .out = std::string(windows ? "--jobs=25 lowered to 20 chains at once by the limit on "
                                    "handles one wait takes\n"
                                  : "") +
              assembled("a") + assembled("b"),
       .left = {"a.o", "b.o"}},
      {.name = "--jobs alone on one processor runs one tool at a time",
       .words = {"--jobs", "-c", "a.s", "b.s", "c.s"},
       .environment = {{"VSTUB_SPANS", "spans"}, {"VSTUB_PP33_SLEEP_MS", "100"}},
       .files = {{"a.s", ""}, {"b.s", ""}, {"c.s", ""}},
       .left = {"a.o", "b.o", "c.o", "spans"}, .contents = {{"spans", "+-+-+-+-+-+-+-+-+-"}},
       .launch = {.processors = 1}},
      {.name = "a tool's pipe beyond the limit on open files", .words = {"-c", "b.ms"},
       .files = {{"b.ms", "; b\n"}}, .exit_code = 1, .err = "vexa: pipe: Too many open files\n",
       .posix_only = true, .launch = {.open_files_limit = 4}},
      {.name = "an exit code that marks a running process on Windows", .words = {"b.o"},
       .environment = stub("LK33_EXIT", "259"), .exit_code = 3},
      {.name = "an exit code of -1", .words = {"b.o"}, .environment = stub("LK33_EXIT", "-1"),
       .exit_code = 255},
      // A POSIX tool hands on only the low 8 bits, so 256 reaches the driver as success.
      {.name = "an exit code of 256", .words = {"b.o"}, .environment = stub("LK33_EXIT", "256"),
       .exit_code = windows ? EndToEnd::seen_exit_code(256) : 0,
       .left = windows ? Lines{} : Lines{"b.srf"}},
  };
}

// What the tools print and the words they get.
std::vector<Row> tool_output_rows() {
  const Environment linker_lines = stub("LK33_PRINT", " Link Completed\\nCompile Completed\\n"
      "a.o: Warning: undefined x\\na.o: Warning: b.o: Warning: c\\na.o: warning: x\\nWarning: x\\n"
      "a.o: Warning:x\\nLink Completed: Warning: x\\nx: Warning: ");
  const std::string shown_by_linker = " Link Completed\nCompile Completed\n"
      "a.o: Warning: undefined x\na.o: Warning: b.o: Warning: c\na.o: warning: x\nWarning: x\n"
      "a.o: Warning:x\nx: Warning: Link Completed\n";
  const Environment printing = {
      {"VSTUB_GCC33_PRINT", "GNU C Compiler for EOC33\\n   gcc33 -S\\nExtend Completed\\n"
       "Link Completed\\na.$:12: error\\nIn file a.$: bad\\na.$ 12: error\\nsee a.$\\n"
       "a.$ and a.$:3\\na.$:1 a.$:2\\na.c: Warning: x\\n"},
      {"VSTUB_PP33_PRINT", "Extend Completed\\r\\nAssembly Completed, 0 errors\\n"
       "Assembly Complete\\n Extend Completed\\nextend completed\\nCompile Completed\\n"
       "Link Completed\\nb.s: Warning: x\\n\\nAssembly Completed"},
      {"VSTUB_AS33_STDERR", "as33 says\\n"}};
  return {
      {.name = "a line holding a zero byte is shown whole", .words = {"-c", "b.s"},
       .environment = stub("PP33_PRINT", "x\\0y\\nnext\\n"), .files = sources,
       .out = std::string("x\0y\nnext\n", 9), .left = {"b.o"}},
      {.name = "a line holding a zero byte is shown whole under -v", .words = {"-v", "-c", "b.s"},
       .environment = {{"VSTUB_PP33_PRINT", "x\\0y\\n"}, {"VSTUB_PP33_QUIET", "1"},
                       {"VSTUB_EXT33_QUIET", "1"}, {"VSTUB_AS33_QUIET", "1"}}, .files = sources,
       .out = std::string("--------\npp33.exe b.s\nx\0y\nExitcode = 0\n", 39) +
              "--------\next33.exe b.ps\nExitcode = 0\nDelete 'b.ps'\n--------\n"
              "as33.exe b.ms\nExitcode = 0\nDelete 'b.ms'\n", .left = {"b.o"}},
      // The step ends with its tool: what the process it left writes later is not waited for.
      {.name = "a tool that leaves a process holding its output", .words = {"-c", "b.s"},
       .environment = stub("PP33_LINGER", "late\\n"), .files = sources, .left = {"b.o"}},
      {.name = "tools that print nothing", .words = {"-c", "b.s"},
       .environment = {{"VSTUB_PP33_QUIET", "1"}, {"VSTUB_EXT33_QUIET", "1"},
                       {"VSTUB_AS33_QUIET", "1"}}, .files = sources, .left = {"b.o"}},
      {.name = "banners are hidden by their own tool's filter and a.$: is shown as a.c:",
       .words = {"a.c", "b.s"}, .environment = printing, .files = sources,
       .out = "GNU C Compiler for EOC33\n   gcc33 -S\nExtend Completed\nLink Completed\n"
              "a.c:12: error\nIn file a.c: bad\na.$ 12: error\nsee a.$\na.$ and a.$:3\n"
              "a.c:1 a.$:2\na.c: Warning: x\nAssembly Complete\n Extend Completed\n"
              "extend completed\nCompile Completed\nLink Completed\nb.s: Warning: x\n\n",
       .err = "as33 says\nas33 says\n", .left = {"a.o", "a.srf", "b.o"}},
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
      {.name = "a name holding a double quote reaches the tools whole", .words = {"-c", "q\"x.c"},
       .files = {{"q\"x.c", ""}}, .left = {"q\"x.o"},
       .tools = Lines{"gcc33.exe -S -x c -Iinc q\"x.$", "ext33.exe q\"x.ps", "as33.exe q\"x.ms"},
       .posix_only = true},
  };
}

// The text files a user writes: response files and the configuration.
std::vector<Row> text_file_rows() {
  return {
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
       .files = {{"b.s", "; b\n"}, {"folder.rsp/", ""}}, .exit_code = 1,
       .err = "Response file read error.'folder.rsp'\n", .left = {"b.o"},
       .tools = Lines{"pp33.exe b.s", "ext33.exe b.ps", "as33.exe b.ms"}},
      {.name = "an unreadable response file after two chains",
       .words = {"-c", "a.c", "b.s", "@folder.rsp"},
       .files = {sources[0], sources[1], {"folder.rsp/", ""}}, .exit_code = 1,
       .err = "Response file read error.'folder.rsp'\n", .left = {"a.o", "b.o"}},
      {.name = "a response file that names itself", .words = {"-###", "-E", "@self.rsp"},
       .files = {{"self.rsp", "-O1 @self.rsp"}}, .exit_code = 1, .out = usage,
       .err = "Response file nested too deeply.'self.rsp'\n"},
      {.name = "as many response files as are read", .words = {"-###", "-E", "@1024.rsp"},
       .files = {{"1024.rsp", repeated("@empty.rsp ", 1023) + "a.c"}, {"empty.rsp", ""}},
       .out = "gcc33.exe -S -x c -Iinc a.$\n"},
      {.name = "one response file more", .words = {"-###", "-E", "@1025.rsp"},
       .files = {{"1025.rsp", repeated("@empty.rsp ", 1024) + "a.c"}, {"empty.rsp", ""}},
       .exit_code = 1, .out = usage, .err = "Too many response files.'empty.rsp'\n"},
      {.name = "a UTF-16 response file", .words = {"-###", "-E", "@utf16.rsp"},
       .files = {{"utf16.rsp", "\xFF\xFE-"}}, .exit_code = 1, .out = usage,
       .err = "Response file 'utf16.rsp' is saved as UTF-16; save it as ANSI or UTF-8\n"},
      {.name = "a configuration line too long", .words = {"a.c"},
       .files = {{"vexa.cfg", "INC=" + std::string(1100, 'i') + "\nx.lib\n"}}, .exit_code = 1,
       .out = usage, .err = "vexa: configuration file 'vexa.cfg' has a line too long, beginning "
                            "'INC=" + std::string(36, 'i') + "'\n"},
      {.name = "a folder named vexa.cfg", .words = {"-E", "b.s"},
       .files = {sources[1], {"vexa.cfg/", ""}}, .err = "vexa: configuration file 'vexa.cfg' "
       "cannot be read and was left out\n", .left = {"b.ps"}},
      {.name = "a UTF-16 vexa.cfg", .words = {"-###", "-E", "a.c"},
       .files = {{"a.c", ""}, {"vexa.cfg", "\xFF\xFEINC=x\n"}},
       .out = "gcc33.exe -S -x c -Iinc a.$\n", .err = "vexa: configuration file 'vexa.cfg' is "
       "saved as UTF-16 and was not read; save it as ANSI or UTF-8\n"},
  };
}

// Names and lists at their limits.
// The longest argument text a tool of the driver under test can be started with.
std::size_t command_line_limit() {
  return EndToEnd::windows_driver() ? 32767 : static_cast<std::size_t>(sysconf(_SC_ARG_MAX));
}

// A one-command build of 300 sources: objects and command file lines far past 1024 bytes.
// Under Wine, where each tool start costs a good part of a second, 40 sources with long names
// go past 1024 bytes as well.
Row three_hundred_sources() {
  const bool wine = EndToEnd::windows_driver();
  const std::string start = wine ? "lib\\cstart.o" : "lib/cstart.o";
  const std::string prefix = wine ? "s" + std::string(30, 'x') : "s";
  Row row = {.name = "300 sources link in one command"};
  row.command_file = Lines{"-v3", "-objsym", address, "-l lib", "-o " + prefix + "100.srf", start};
  for (int i = 100; i < (wine ? 140 : 400); ++i) {
    const std::string stem = prefix + std::to_string(i);
    row.words.push_back(stem + ".s");
    row.files.emplace_back(stem + ".s", "");
    row.left.push_back(stem + ".o");
    row.command_file->push_back(stem + ".o");
  }
  row.left.push_back(prefix + "100.srf");
  return row;
}

std::vector<Row> limit_rows() {
  const std::string name_315 = std::string(313, 'n') + ".o", name_316 = "n" + name_315;
  const std::string address_11 = "-a=" + std::string(11, '1');
  const std::string output_319 = "-e" + std::string(319, 'e');
  // Through a response file: a word this long would not start the driver itself on POSIX.
  const std::size_t limit = command_line_limit();
  const std::string define_longest = "-D" + std::string(limit - 4, 'd');  // a blank, a zero
  // With "-Iinc " after it the list still fits; "-S -x c " + list + "a.$" does not.
  const std::string define_unfit = "-D" + std::string(limit - 12, 'd');
  return {
      {.name = "names and lists at their longest",
       .words = {"-c", "@define.rsp", address_11, output_319, "+l", std::string(4000, 'v'),
                 name_315}, .files = {{"define.rsp", define_longest}}, .tools = Lines{}},
      {.name = "a name of 316 characters", .words = {"-c", "a.o", name_316}, .exit_code = 1,
       .err = too_long + name_316 + "'\n"},
      {.name = "a -D list past the host's command line", .words = {"-c", "a.o", "@define.rsp"},
       .files = {{"define.rsp", define_longest + "d"}}, .exit_code = 1,
       .err = list_full + define_longest + "d'\n"},
      {.name = "a start address of 12 characters", .words = {"a.o", address_11 + "2"},
       .exit_code = 1, .err = too_long + address_11 + "2'\n"},
      {.name = "an output name of 320 characters", .words = {"a.o", output_319 + "e"},
       .exit_code = 1, .err = too_long + output_319 + "e'\n"},
      three_hundred_sources(),
      {.name = "an argument text that does not fit runs no tool", .words = {"@define.rsp", "a.c"},
       .files = {{"a.c", ""}, {"define.rsp", define_unfit}}, .exit_code = 1,
       .err = too_long + "a.$'\n", .tools = Lines{}},
  };
}

// Inputs that cannot be read, outputs that cannot be written, a full disk.
std::vector<Row> file_fault_rows() {
  const bool windows = EndToEnd::windows_driver();
  Lines objects(20, "object_with_a_long_name.o"), kept_objects = objects;
  kept_objects.push_back("-b");
  const Files big_c = {{"big.c", std::string(300 * 1024, 'x')}};
  std::string big_database = "[";
  for (int i = 0; i < 1000; ++i)
    big_database += "{\"directory\": \"/x\", \"file\": \"f" + std::to_string(i) +
                    ".c\", \"arguments\": [\"x\"], \"output\": \"f.o\"},\n";
  big_database.replace(big_database.size() - 2, 2, "]");
  return {
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
       .err = "Command file write error.'__tmp__.cm': " +
              std::string(windows ? "Permission denied\n" : "Is a directory\n"),
       .tools = Lines{}},
      {.name = "a link at the escaped copy's name is not written through", .words = {"-b", "a.c"},
       .files = {{"a.c", "int a;\n"}, {"t", "a file\n"}, {"a.$@", "t"}}, .exit_code = 1,
       .err = "Output file open error.'a.$'", .tools = Lines{}, .posix_only = true},
      {.name = "a dangling link at the command file's name", .words = {"x.o"},
       .files = {{"__tmp__.cm@", "t"}}, .exit_code = 1,
       .err = "Command file write error.'__tmp__.cm': Too many levels of symbolic links\n",
       .tools = Lines{}, .posix_only = true},
      {.name = "a full disk under the escaped copy", .words = {"big.c"}, .files = big_c,
       .exit_code = 1, .err = "Output file write error.'big.$'", .tools = Lines{},
       .posix_only = true, .launch = {.file_size_limit = 64 * 1024}},
      {.name = "a full disk under the escaped copy kept with -b", .words = {"-b", "big.c"},
       .files = big_c, .exit_code = 1, .err = "Output file write error.'big.$'", .left = {"big.$"},
       .posix_only = true, .launch = {.file_size_limit = 64 * 1024}},
      {.name = "a full disk under the command file", .words = objects, .exit_code = 1,
       .err = "Command file write error.'__tmp__.cm': File too large\n", .tools = Lines{},
       .posix_only = true,
       .launch = {.file_size_limit = 512}},
      {.name = "a full disk under the command file kept with -b", .words = kept_objects,
       .exit_code = 1, .err = "Command file write error.'__tmp__.cm': File too large\n",
       .left = {"__tmp__.cm"},
       .posix_only = true, .launch = {.file_size_limit = 512}},
      {.name = "a file size limit under the compilation database", .words = {"-c", "-MJ", "a.c"},
       .files = {{"a.c", "int a;\n"}, {"compile_commands.json", big_database}},
       .exit_code = 1, .err = "Compilation database write error.'compile_commands.json': File too large\n",
       .posix_only = true, .launch = {.file_size_limit = 64 * 1024}},
      // The tool inherits the signal's default action from the driver's start, and dies of it.
      {.name = "a file size limit under a tool's output", .words = {"big.s"},
       .files = {{"big.s", std::string(100 * 1024, 'x')}}, .exit_code = 128 + SIGXFSZ,
       .err = "vexa: pp33.exe: killed by signal " + std::to_string(SIGXFSZ) +
              " (File size limit exceeded)\n", .tools = Lines{"pp33.exe big.s"},
       .posix_only = true, .launch = {.file_size_limit = 64 * 1024}},
  };
}

// A signal that reaches the driver while `tool` sleeps, once the file `after` is there; the
// inputs are the sources and a user's extender input.
Row interrupted(const std::string& name, const Lines& words, const std::string& tool, int signal,
                const std::string& after, const Lines& left) {
  return {.name = name, .words = words, .environment = stub(tool + "_SLEEP_MS", "8000"),
          .files = {sources[0], sources[1], {"c.ps", "; c\n"}}, .exit_code = 128 + signal, .left = left, .posix_only = true,
          .signal = signal, .signal_after = after};
}

// Interruption.
std::vector<Row> interruption_rows() {
  std::vector<Row> rows = {
      interrupted("SIGTERM in the compiler", {"a.c"}, "GCC33", SIGTERM, "a.ps", {}),
      interrupted("SIGINT in the compiler with -b", {"-b", "a.c"}, "GCC33", SIGINT, "a.ps", {"a.$", "a.ps"}),
      interrupted("SIGTERM in the extender of a user's file", {"c.ps"}, "EXT33", SIGTERM, "c.ms", {}),
      interrupted("SIGHUP in the assembler", {"b.s"}, "AS33", SIGHUP, "b.o", {"b.ms"}),
      interrupted("SIGQUIT in the compiler", {"a.c"}, "GCC33", SIGQUIT, "a.ps", {}),
      interrupted("SIGTERM in the linker", {"b.s"}, "LK33", SIGTERM, "b.srf", {"b.o"}),
      interrupted("SIGINT in the linker with -b", {"-b", "b.s"}, "LK33", SIGINT, "b.srf",
                  {"__tmp__.cm", "b.ms", "b.o", "b.ps", "b.srf"}),
      // SIGINT reaches a Windows driver under Wine as Ctrl-C.
      {.name = "an interruption starts no further tool", .words = {"b.s"},
       .environment = stub("EXT33_SLEEP_MS", "1500"), .files = sources, .exit_code = 130,
       .left = {"b.ps"}, .tools = Lines{"pp33.exe b.s", "ext33.exe b.ps"}, .signal = SIGINT,
       .signal_after = "b.ms"},
  };
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    rows.push_back({.name = "signal " + std::to_string(signal) + " ignored from the start",
                    .words = {"a.c"}, .environment = stub("GCC33_SLEEP_MS", "500"),
                    .files = sources, .left = {"a.o", "a.srf"}, .posix_only = true,
                    .launch = {.interrupts_ignored = true}, .signal = signal,
                    .signal_after = "a.ps"});
  }
  return rows;
}

// A standard output whose reader is gone or whose device is full.
std::vector<Row> console_rows() {
  const Launch gone = {.output = Launch::closed_pipe}, full = {.output = Launch::full_device};
  const std::string console_error = "Console write error.'standard output'\n";
  return {
      {.name = "a reader gone while the compiler runs", .words = {"-c", "-MD", "a.c"},
       .environment = {{"VSTUB_GCC33_PRINT", "x\\n"}, {"VSTUB_GCC33_SLEEP_MS", "8000"}},
       .files = {sources[0], {"a.d", "old\n"}}, .exit_code = 141, .posix_only = true,
       .launch = gone},
      {.name = "a reader gone while the linker runs", .words = {"b.o"},
       .environment = {{"VSTUB_LK33_PRINT", "x\\n"}, {"VSTUB_LK33_SLEEP_MS", "8000"}},
       .exit_code = 141, .posix_only = true, .launch = gone},
      {.name = "a reader gone before the first tool", .words = {"-v", "b.s"}, .files = sources,
       .exit_code = 141, .tools = Lines{}, .posix_only = true, .launch = gone},
      {.name = "a reader gone during the last output", .words = {"-###", "a.c"}, .files = sources,
       .exit_code = 141, .posix_only = true, .launch = gone},
      {.name = "help to a full device", .words = {"--help"}, .exit_code = 1, .err = console_error,
       .posix_only = true, .launch = full},
      {.name = "-### to a full device", .words = {"-###", "a.c"}, .files = sources, .exit_code = 1,
       .err = console_error, .posix_only = true, .launch = full},
      {.name = "-v to a full device", .words = {"-v", "a.c"}, .files = sources, .exit_code = 1,
       .err = console_error, .left = {"a.o", "a.srf"}, .posix_only = true, .launch = full},
      // Run again with --jobs=4, the chains' output reaches the device past the console.
      {.name = "the output of two chains to a full device", .words = {"-c", "a.c", "b.s"},
       .environment = {{"VSTUB_GCC33_PRINT", "x\\n"}, {"VSTUB_PP33_PRINT", "y\\n"}},
       .files = sources, .exit_code = 1, .err = console_error, .left = {"a.o", "b.o"},
       .posix_only = true, .launch = full},
      {.name = "a failed run to a full device keeps its code", .words = {"-v", "b.s"},
       .environment = stub("AS33_EXIT", "4"), .files = sources, .exit_code = 4,
       .left = {"b.ms"}, .posix_only = true, .launch = full},
  };
}

// clang-format on

// VEXA_LAUNCHER: the stand-in's vstub-launch records its words, then runs the rest.
std::vector<Row> launcher_rows() {
  const std::string bin =
      EndToEnd::driver_path_of(std::filesystem::path(EndToEnd::tools_folder()) / "");
  // A Windows launcher's command line has the tool's path in quotes, and -### shows it so.
  const std::string pp33 = bin + "pp33.exe b.s", quoted = "\"" + bin + "vstub-launch\"",
                    pp33_cmd = EndToEnd::windows_driver() ? "\"" + bin + "pp33.exe\" b.s" : pp33;
  const Environment launcher = {{"VEXA_LAUNCHER", "vstub-launch"}};
  const int unfit = EndToEnd::windows_driver() ? EndToEnd::seen_exit_code(259) : 255;
  Lines every_tool;
  for (const std::string tool :
       {"gcc33.exe -S -x c -Iinc a.$", "ext33.exe a.ps", "as33.exe a.ms", "pp33.exe b.s",
        "ext33.exe b.ps", "as33.exe b.ms", "lk33.exe -c __tmp__.cm"})
    every_tool.insert(every_tool.end(), {"vstub-launch " + bin + tool, tool});
  // clang-format off
  std::vector<Row> rows = {
      {.name = "a launcher gets each tool's path, each tool its own words", .words = {"a.c", "b.s"},
       .environment = launcher, .files = sources, .left = {"a.o", "a.srf", "b.o"},
       .tools = every_tool},
      {.name = "a tool found nowhere starts no launcher", .words = {"-E", "b.s"},
       .environment = {launcher[0], {"PATH", "/nonexistent"}}, .files = sources,
       .exit_code = unfit, .out = "Process create error 'pp33.exe b.s'\n", .tools = Lines{}},
      {.name = "a launcher that cannot start", .words = {"-E", "b.s"},
       .environment = {{"VEXA_LAUNCHER", "no-such-launcher -x"}}, .files = sources,
       .exit_code = unfit, .out = "Process create error 'no-such-launcher -x " + pp33_cmd + "'\n",
       .err = EndToEnd::windows_driver() ? "" : "vexa: no-such-launcher: No such file or directory\n",
       .tools = Lines{}},
      {.name = "a failing launcher's code is the run's", .words = {"-E", "b.s"},
       .environment = {launcher[0], {"VSTUB_LAUNCH_EXIT", "7"}}, .files = sources, .exit_code = 7,
       .tools = Lines{"vstub-launch " + pp33}},
      {.name = "-v shows the launcher's text and the tool's path", .words = {"-v", "-E", "b.s"},
       .environment = {{"VEXA_LAUNCHER", quoted}}, .files = sources,
       .out = "--------\n" + quoted + " " + pp33_cmd + "\nPre Processor Completed\nExitcode = 0\n",
       .left = {"b.ps"}, .tools = Lines{"vstub-launch " + pp33, "pp33.exe b.s"}},
      {.name = "-### shows the launcher and starts nothing", .words = {"-###", "-E", "b.s"},
       .environment = launcher, .files = sources, .out = "vstub-launch " + pp33_cmd + "\n",
       .tools = Lines{}},
      // Under Wine the one PATH entry is in quotes, as Windows' own command search reads one.
      {.name = "a launcher named without a folder is looked for on PATH only, quoted or not",
       .words = {"-E", "b.s"}, .environment = {launcher[0], {"WINEPATH", "\"" + bin + "\""}},
       .files = {{"b.s", "; b\n"}, {"vstub-launch", "no program\n"}, {"vstub-launch.exe", "no\n"}},
       .left = {"b.ps"}, .tools = Lines{"vstub-launch " + pp33, "pp33.exe b.s"}},
  };
  for (const Environment& none : {Environment{}, Environment{{"VEXA_LAUNCHER", ""}},
                                  Environment{{"VEXA_LAUNCHER", " \t "}}}) {
    rows.push_back({.name = "no launcher: " + (none.empty() ? "a LAUNCHER= line in vexa.cfg"
                                                             : "\"" + none[0].second + "\""),
                    .words = {"-E", "b.s"}, .environment = none,
                    .files = {{"b.s", "; b\n"}, {"vexa.cfg", "LAUNCHER=vstub-launch\n"}},
                    .left = {"b.ps"}, .tools = Lines{"pp33.exe b.s"}});
  }
  // clang-format on
  return rows;
}

// -MD, -MMD, -MP; INC= (the configured include folder) is "sys" in every row.
std::vector<Row> dependency_rows() {
  // Under Wine the names are in code page 932, where these characters end in 0x5C.
  const bool windows = EndToEnd::windows_driver();
  const std::string sep = windows ? "\\" : "/", hyo = windows ? "\x95\x5C" : "表",
                    so_char = windows ? "\x83\x5C" : "ソ", so = so_char + sep;
  const Environment sys = {{"VEXA_INC", "sys"}};
  Files long_headers = {{"a.c", "#include \"h.h\"\n"}, {"h.h", ""}};
  for (char c : {'x', 'y', 'z'}) {
    long_headers.push_back({std::string(200, c) + ".h", ""});
    long_headers[1].second += "#include \"" + long_headers.back().first + "\"\n";
  }
  Files nested = {{"a.c", "#include \"h0.h\"\n"}};
  std::string listed = "a.o: a.c";
  for (int i = 0; i < 20000; ++i) {
    const std::string name = "h" + std::to_string(i) + ".h";
    nested.push_back({name, "#include \"h" + std::to_string(i + 1) + ".h\"\n"});
    listed += " " + name;
  }
  // clang-format off
  return {
      {.name = "20,000 nested headers", .words = {"-c", "-MD", "a.c"}, .environment = sys,
       .files = nested, .left = {"a.d", "a.o"}, .contents = {{"a.d", listed + "\n"}}},
      {.name = "comments before the name, a backslash in it",
       .words = {"-c", "-MD", "a.c"}, .environment = sys,
       .files = {{"a.c", "#include /* board */ \"b.h\" // b\n#/**/include/**/<s.h>\n"
                         "#include \"sub\\x.h\"\n#include /* \"c.h\"\n#include // \"c.h\"\n"},
                 {"b.h", ""}, {"sys/s.h", ""}, {"sub/x.h", ""}, {"c.h", ""}},
       .left = {"a.d", "a.o"},
       .contents = {{"a.d", "a.o: a.c b.h sys" + sep + "s.h sub" + sep + "x.h\n"}}},
      {.name = "':' and '%' as make reads them", .words = {"-c", "-MD", "-MP", "a.c"},
       .environment = sys, .files = {{"a.c", "#include \"co:lon.h\"\n#include \"pe%rc.h\""},
                 {"co:lon.h", ""}, {"pe%rc.h", ""}}, .left = {"a.d", "a.o"},
       .contents = {{"a.d", "a.o: a.c co\\:lon.h pe%rc.h\nco\\:lon.h:\npe\\%rc.h:\n"}},
       .posix_only = true},
      {.name = "names with blanks reach the tools as one word each, and make",
       .words = {"-c", "-MD", "d d/a b.c"},
       .environment = {{"VEXA_INC", "i i"}, {"VSTUB_GCC33_PRINT", "d d/a b.$:1: x\\n"}},
       .files = {{"d d/a b.c", "#include <h.h>\n"}, {"i i/h.h", ""}}, .out = "d d/a b.c:1: x\n",
       .contents = {{"d d/a b.d", "d\\ d/a\\ b.o: d\\ d/a\\ b.c i\\ i" + sep + "h.h\n"}},
       .tools = Lines{"gcc33.exe -S -x c \"-Ii i\" \"d d/a b.$\"", "ext33.exe \"d d/a b.ps\"",
                      "as33.exe \"d d/a b.ms\""}},
      {.name = "code page 932: a second byte 0x5C is no separator, in names and response files",
       .words = {"-c", "-MD", "@j.rsp", "ソ" + sep + "x.c"},
       .environment = {sys[0], {"LC_ALL", "ja_JP.UTF-8"}},
       .files = {{"j.rsp", hyo + ".c"}, {"表.c", "#include \"h.h\"\n"}, {"h.h", ""},
                 {"ソ/x.c", "#include \"y.h\"\n"}, {"ソ/y.h", ""}}, .left = {"表.d", "表.o"},
       .contents = {{"表.d", hyo + ".o: " + hyo + ".c h.h\n"},
                    {"ソ/x.d", so + "x.o: " + so + "x.c " + so + "y.h\n"}}},
      {.name = "headers beside the includer, then the -I folders in order, INC= where it stands",
       .words = {"-c", "-MD", "-Ione", "a.c", "-Itwo", "sub/a.c"}, .environment = sys,
       .files = {{"sub/a.c", "#include \"x.h\"\n # include <x.h>\n#include \"w.h\"\n#include<s.h>"},
                 {"sub/x.h", "#include \"z.h\""}, {"sub/z.h", ""}, {"one/x.h", ""}, {"two/x.h", ""},
                 {"two/w.h", ""}, {"w.h", ""}, {"sys/s.h", "#include \"t.h\""}, {"sys/t.h", ""},
                 {"two/s.h", ""}, {"a.c", ""}}, .left = {"a.d", "a.o"},
       .contents = {{"sub/a.d", "sub/a.o: sub/a.c sub/x.h sub/z.h one" + sep + "x.h two" + sep +
                                "w.h sys" + sep + "s.h sys" + sep + "t.h\n"}, {"a.d", "a.o: a.c\n"}}},
      {.name = "-MMD leaves out the configured include folder", .words = {"-c", "-MMD", "a.c"},
       .environment = sys, .files = {{"a.c", "#include <s.h>\n#include \"u.h\"\n"},
                 {"sys/s.h", "#include \"t.h\"\n"}, {"sys/t.h", ""}, {"u.h", ""}},
       .left = {"a.d", "a.o"}, .contents = {{"a.d", "a.o: a.c u.h\n"}}},
      {.name = "#include after a comment, continued on the next line, and #include_next",
       .words = {"-c", "-MD", "a.c"}, .environment = sys,
       .files = {{"a.c", " /* c */ #include \"c1.h\"\n#include \\\n  \"c2.h\"\n#inc\\\r\nlude "
                         "\"c3.h\"\r\n#include_next <s.h>\n// \x95\x5C\n#include \"c4.h\"\n"
                         "#include \\\nHEADER\n// \x81\xFC\x81\x5C\n#include \"c5.h\"\n"
                         "#if 0\n#include9 \"c9.h\"\n#endif\n#include \"unended\n#include \"c6.h\"\n"},
                 {"c1.h", ""}, {"c2.h", ""}, {"c3.h", ""}, {"sys/s.h", ""}, {"c4.h", ""},
                 {"c5.h", ""}, {"c6.h", ""}, {"c9.h", ""}},
       .err = "a.c:9: warning: #include of a macro cannot be followed; the dependency file may "
              "miss what it names\n", .left = {"a.d", "a.o"},
       .contents = {{"a.d", "a.o: a.c c1.h c2.h c3.h sys" + sep + "s.h c4.h c5.h c6.h\n"}}},
      {.name = "blanks at the ends of the include folder stay outside its quotes",
       .words = {"-c", "-MMD", "a.c", "b.c"}, .environment = {{"VEXA_INC", " sys "}},
       .files = {{"a.c", "#include <s.h>\n#include \"u.h\"\n"}, {"b.c", "#include <s.h>\n"},
                 {"sys/s.h", ""}, {"u.h", ""}}, .left = {"a.d", "a.o", "b.d", "b.o"},
       .contents = {{"a.d", "a.o: a.c u.h\n"}, {"b.d", "b.o: b.c\n"}},
       .tools = Lines{"gcc33.exe -S -x c -I sys a.$", "ext33.exe a.ps", "as33.exe a.ms",
                      "gcc33.exe -S -x c -I sys b.$", "ext33.exe b.ps", "as33.exe b.ms"}},
      {.name = "a blank inside the include folder, and one at its start",
       .words = {"-c", "-MD", "a.c"}, .environment = {{"VEXA_INC", "\t i i"}},
       .files = {{"a.c", "#include <h.h>\n"}, {"i i/h.h", ""}}, .left = {"a.d", "a.o"},
       .contents = {{"a.d", "a.o: a.c i\\ i" + sep + "h.h\n"}},
       .tools = Lines{"gcc33.exe -S -x c -I \"i i\" a.$", "ext33.exe a.ps", "as33.exe a.ms"}},
      {.name = "a backslash before an escaped character is doubled, as make halves it",
       .words = {"-c", "-MD", "-MP", "a.c"}, .environment = sys,
       .files = {{"a.c", "#include \"p\\#q.h\"\n#include \"e\\ f|[g]*?.h\""},
                 {"p\\#q.h", ""}, {"e\\ f|[g]*?.h", ""}}, .left = {"a.d", "a.o"},
       .contents = {{"a.d", "a.o: a.c p\\\\\\#q.h e\\\\\\\\\\ f\\|\\[g]\\*\\?.h\n"
                            "p\\\\\\#q.h:\ne\\\\\\\\\\ f|\\[g]\\*\\?.h:\n"}},
       .posix_only = true},
      {.name = "code page 932: a second byte 0x5C before an escaped blank is one for make",
       .words = {"-c", "-MD", "a.c"}, .environment = {sys[0], {"LC_ALL", "ja_JP.UTF-8"}},
       .files = {{"a.c", "#include \"" + so_char + " 1.h\"\n"}, {"ソ 1.h", ""}},
       .left = {"a.d", "a.o"},
       .contents = {{"a.d", "a.o: a.c " + so_char + (windows ? "\\" : "") + "\\ 1.h\n"}}},
      {.name = "-MP, and names escaped for make", .words = {"-c", "-MD", "-MP", "a.c"},
       .environment = sys, .files = {{"a.c", "#include \"my x.h\"\n#include \"p$#.h\""},
                 {"my x.h", ""}, {"p$#.h", ""}}, .left = {"a.d", "a.o"},
       .contents = {{"a.d", "a.o: a.c my\\ x.h p$$\\#.h\nmy\\ x.h:\np$$\\#.h:\n"}}},
      {.name = "a cycle, also through ../, from an assembler source", .words = {"-c", "-MD", "a.s"},
       .environment = sys, .files = {{"a.s", "#include \"y.h\"\n#include <s.h>"},
                 {"y.h", "#include \"x.h\""}, {"x.h", "#include \"../work/y.h\"\n#include \"a.s\""},
                 {"sys/s.h", ""}}, .left = {"a.d", "a.o"},
       .contents = {{"a.d", "a.o: a.s y.h x.h sys" + sep + "s.h\n"}}},
      {.name = "a missing header left out, a macro warned about, <x.h> not looked for beside",
       .words = {"-c", "-MMD", "a.c"}, .environment = sys,
       .files = {{"a.c", "#include \"gone.h\"\n#include HEADER\n#include <x.h>\n"}, {"x.h", ""}},
       .err = "a.c:2: warning: #include of a macro cannot be followed; the dependency file may "
              "miss what it names\n", .left = {"a.d", "a.o"}, .contents = {{"a.d", "a.o: a.c\n"}}},
      {.name = "a .ps lists only itself; -MDx is no option", .words = {"-MD", "x.ps", "-MDx"},
       .environment = sys, .files = {{"x.ps", "#include \"x.h\"\n"}, {"x.h", ""}}, .exit_code = 1,
       .out = "Unkown Option -MDx\n", .left = {"x.d", "x.o"}, .contents = {{"x.d", "x.o: x.ps\n"}}},
      {.name = "a failed chain leaves the older file", .words = {"-c", "-MD", "a.c"},
       .environment = {sys[0], {"VSTUB_AS33_EXIT", "1"}},
       .files = {{"a.c", "#include \"x.h\"\n"}, {"x.h", ""}, {"a.d", "old\n"}}, .exit_code = 1,
       .left = {"a.ms"}},
      {.name = "an interrupted run leaves the older file", .words = {"-c", "-MD", "a.c"},
       .environment = {sys[0], {"VSTUB_AS33_SLEEP_MS", "8000"}}, .files = {{"a.c", ""},
       {"a.d", "old\n"}}, .exit_code = 128 + SIGTERM, .left = {"a.ms"}, .posix_only = true,
       .signal = SIGTERM, .signal_after = "a.o"},
      {.name = "a name make cannot read back: no dependency file, and the object goes",
       .words = {"-c", "-MD", "a.c"}, .environment = sys,
       .files = {{"a.c", "#include \"x;y.h\"\n"}, {"x;y.h", ""}, {"a.d", "old\n"}},
       .exit_code = 1, .err = "Dependency file 'a.d' not written: make cannot read back the name "
                              "'x;y.h'\n"},
      {.name = "an archive member's name is one make cannot read back",
       .words = {"-c", "-MD", "a.c"}, .environment = sys,
       .files = {{"a.c", "#include \"m(n)\"\n"}, {"m(n)", ""}}, .exit_code = 1,
       .err = "Dependency file 'a.d' not written: make cannot read back the name 'm(n)'\n",
       .posix_only = true},
      {.name = "a tab in a header's name under -MP: make reads one in a target as a blank",
       .words = {"-b", "-c", "-MD", "-MP", "a.c"}, .environment = sys,
       .files = {{"a.c", "#include \"t\tb.h\"\n"}, {"t\tb.h", ""}},
       .exit_code = 1, .err = "Dependency file 'a.d' not written: make cannot read back the "
                              "name 't\tb.h'\n",
       .left = {"a.$", "a.ps", "a.ms", "a.o"}, .posix_only = true},
      {.name = "a dependency file not written, and the object goes", .words = {"-c", "-MD", "a.c"},
       .environment = sys, .files = {{"a.c", ""}, {"a.d/x", ""}}, .exit_code = 1,
       .err = "Dependency file write error.'a.d': " +
              std::string(windows ? "Permission denied\n" : "Is a directory\n")},
      {.name = "a full disk under the dependency file", .words = {"-c", "-MD", "a.c"},
       .environment = sys, .files = long_headers, .exit_code = 1,
       .err = "Dependency file write error.'a.d': File too large\n", .posix_only = true,
       .launch = {.file_size_limit = 512}},
      {.name = "no dependency file under -E", .words = {"-E", "-MD", "a.c"}, .environment = sys,
       .files = {{"a.c", ""}}, .left = {"a.ps"}},
      {.name = "no dependency file under -S", .words = {"-S", "-MD", "a.c"}, .environment = sys,
       .files = {{"a.c", ""}}, .left = {"a.ms"}},
      {.name = "-MF, -MT and -MQ as separate words", .words = {"-c", "-MMD", "-MF", "a.dep",
       "-MT", "all", "-MQ", "$o x", "a.c"}, .environment = sys, .files = {{"a.c",
       "#include \"x.h\""}, {"x.h", ""}}, .left = {"a.dep", "a.o"},
       .contents = {{"a.dep", "all $$o\\ x: a.c x.h\n"}}},
      {.name = "-MF, -MT and -MQ joined, the last -MF wins", .words = {"-MFc.d", "-MD", "-c",
       "-MTt$", "-MQq$", "-MFb.d", "a.c"}, .environment = sys, .files = {{"a.c", ""}},
       .left = {"a.o", "b.d"}, .contents = {{"b.d", "t$ q$$: a.c\n"}}},
      {.name = "-MD with -o obj/x.o writes obj/x.d naming obj/x.o",
       .words = {"-MD", "-c", "a.c", "-o", "obj/x.o"}, .environment = sys,
       .files = {{"a.c", "#include \"a.h\""}, {"a.h", ""}, {"obj/", ""}},
       .contents = {{"obj/x.d", "obj/x.o: a.c a.h\n"}},
       .tools = Lines{"gcc33.exe -S -x c -I. -Isys obj/x.$", "ext33.exe obj/x.ps",
                      "as33.exe obj/x.ms"}},
      {.name = "-MF without its file", .words = {"-MD", "a.c", "-MF"}, .files = {{"a.c", ""}},
       .exit_code = 1, .err = "Missing file name after '-MF'\n", .tools = Lines{}},
      {.name = "-MQ without its target", .words = {"a.o", "-MQ"}, .exit_code = 1,
       .err = "Missing target after '-MQ'\n"},
      {.name = "-### shows where the dependency file goes", .words = {"-###", "-c", "-MD", "a.c"},
       .environment = sys, .files = {{"a.c", ""}},
       .out = "gcc33.exe -S -x c -Isys a.$\next33.exe a.ps\nas33.exe a.ms\nDependency file 'a.d'\n"},
  };
  // clang-format on
}

// -MJ, the compilation database; INC= is "sys" in every row.
std::vector<Row> database_rows() {
  const Environment sys = {{"VEXA_INC", "sys"}};
  // A compilation database's entry for `file` (as JSON writes it) compiled with `options`
  // into a chain that ends in `output`'s extension.
  auto entry = [](const std::string& file, const std::string& options,
                  const std::string& output = "o") {
    return "{\"directory\": \"@DIR@\", \"file\": \"" + file +
           "\", \"arguments\": [\"gcc33.exe\", \"-S\", \"-x\", \"c\", " + options + "\"" + file +
           "\"], \"output\": \"" + file.substr(0, file.size() - 1) + output + "\"}";
  };
  std::string bulky = "[{}";
  for (int i = 0; i < 40; ++i) bulky += ", {\"file\": \"x.c\"}";
  bulky += "]";
  const std::string db = "compile_commands.json", db_error = "Compilation database ";
  // clang-format off
  return {
      {.name = "-MJ enters the C sources compiled with the compiler's words",
       .words = {"-c", "-Ione", "-MJ", "a.c", "-J0", "-DQ=\\\"x\\\"", "sub/b.c", "c.s"},
       .environment = sys, .files = {{"a.c", ""}, {"sub/b.c", ""}, {"c.s", ""}},
       .left = {"a.o", "c.o", db}, .contents = {{db, "[\n" + entry("a.c", "\"-Ione\", \"-Isys\", ")
           + ",\n" + entry("sub/b.c", "\"-Ione\", \"-Isys\", \"-DQ=\\\"x\\\"\", ") + "\n]\n"}},
       .tools = Lines{"gcc33.exe -S -x c -Ione -Isys a.$", "ext33.exe a.ps", "as33.exe a.ms",
                      "gcc33.exe -S -x c -Ione -Isys -DQ=\"x\" sub/b.c", "ext33.exe sub/b.ps",
                      "as33.exe sub/b.ms", "pp33.exe c.s", "ext33.exe c.ps", "as33.exe c.ms"},
       .timing = true},  // with --jobs, new entries come in the order the compiles end
      {.name = "-MJ<file>, and a name with a blank, a quote and a backslash",
       .words = {"-E", "-MJdb.json", "my \"q\\a.c"},
       .environment = {sys[0], {"VSTUB_GCC33_NO_OUTPUT", "1"}}, .files = {{"my \"q\\a.c", ""}},
       .left = {"db.json"},
       .contents = {{"db.json", "[\n" + entry("my \\\"q\\\\a.c", "\"-Isys\", ", "ps") + "\n]\n"}},
       .posix_only = true},
      {.name = "a link to the database is followed, and stays a link", .words = {"-E", "-MJ", "a.c"},
       .environment = sys, .files = {{"a.c", ""}, {"b/" + db, "[]"}, {db + "@", "b/" + db}},
       .left = {"a.ps"}, .contents = {{"b/" + db, "[\n" + entry("a.c", "\"-Isys\", ", "ps") + "\n]\n"}},
       .posix_only = true},
      {.name = "with -o the entry's output is the file -o names", .words = {"-c", "-MJ", "a.c", "-o", "out/x.o"},
       .environment = sys, .files = {{"a.c", ""}, {"out/", ""}}, .left = {db},
       .contents = {{db, "[\n{\"directory\": \"@DIR@\", \"file\": \"a.c\", \"arguments\": [\"gcc33.exe\", "
           "\"-S\", \"-x\", \"c\", \"-I.\", \"-Isys\", \"a.c\"], \"output\": \"out/x.o\"}\n]\n"}},
       .posix_only = true},
      {.name = "with -o naming the program the entry's output is the object beside it",
       .words = {"-MJ", "a.c", "-o", "out/p.srf"}, .environment = sys,
       .files = {{"a.c", ""}, {"out/", ""}}, .left = {db},
       .contents = {{db, "[\n{\"directory\": \"@DIR@\", \"file\": \"a.c\", \"arguments\": [\"gcc33.exe\", "
           "\"-S\", \"-x\", \"c\", \"-I.\", \"-Isys\", \"a.c\"], \"output\": \"out/a.o\"}\n]\n"}},
       .posix_only = true},
      {.name = "a byte-order mark is read past and not written back", .words = {"-S", "-MJ", "a.c"},
       .environment = sys, .files = {{"a.c", ""}, {db, "\xEF\xBB\xBF[{\"file\": \"x.c\"}]"}},
       .left = {"a.ms"}, .contents = {{db, "[\n{\"file\": \"x.c\"},\n" +
           entry("a.c", "\"-Isys\", ", "ms") + "\n]\n"}}},
      {.name = "a name that is not UTF-8 gets no entry, and the compile succeeds",
       .words = {"-E", "-MJ", "b\xFF.c"}, .environment = sys, .files = {{"b\xFF.c", ""}},
       .err = db_error + "'" + db + "' leaves out 'b\xFF.c': 'b\xFF.c' is not UTF-8\n",
       .left = {"b\xFF.ps"}, .posix_only = true},
      {.name = "a member that does not parse: the database is kept, and the output goes",
       .words = {"-E", "-MJ", "a.c"}, .environment = sys,
       .files = {{"a.c", ""}, {db, "[{\"file\": \"a.c\", \"x\": }]"}}, .exit_code = 1,
       .err = db_error + "'" + db + "' is not a JSON array of objects; it is left as it is\n"},
      {.name = "a full disk under the database leaves it as it was", .words = {"-E", "-MJ", "a.c"},
       .environment = sys, .files = {{"a.c", ""}, {db, bulky}}, .exit_code = 1,
       .err = db_error + "write error.'" + db + "': File too large\n", .posix_only = true,
       .launch = {.file_size_limit = 512}},
      {.name = "a failed compile leaves the database as it was", .words = {"-MJ", "a.c"},
       .environment = {sys[0], {"VSTUB_GCC33_EXIT", "2"}},
       .files = {{"a.c", ""}, {db, "[{\"file\": \"a.c\"}]"}}, .exit_code = 2},
      {.name = "an interrupted compile leaves the database as it was", .words = {"-MJ", "a.c"},
       .environment = {sys[0], {"VSTUB_GCC33_SLEEP_MS", "8000"}},
       .files = {{"a.c", ""}, {db, "[]"}}, .exit_code = 128 + SIGTERM, .posix_only = true,
       .signal = SIGTERM, .signal_after = "a.ps"},
      {.name = "a database that is no array of objects is kept, and the output goes",
       .words = {"-E", "-MJ", "a.c"}, .environment = sys,
       .files = {{"a.c", ""}, {db, "[{}, 1]"}}, .exit_code = 1,
       .err = db_error + "'" + db + "' is not a JSON array of objects; it is left as it is\n"},
      {.name = "a folder as the database", .words = {"-E", "-MJdb", "a.c"}, .environment = sys,
       .files = {{"a.c", ""}, {"db/", ""}}, .exit_code = 1, .err = db_error + "read error.'db'\n"},
      {.name = "a link to nowhere as the database makes the file it names",
       .words = {"-E", "-MJ", "a.c"}, .environment = sys,
       .files = {{"a.c", ""}, {db + "@", "nowhere"}}, .left = {"a.ps", "nowhere"},
       .posix_only = true},
      {.name = "a database that cannot be written", .words = {"-b", "-E", "-MJno/db", "a.c"},
       .environment = sys, .files = {{"a.c", ""}}, .exit_code = 1,
       .err = db_error + "write error.'no/db': No such file or directory\n",
       .left = {"a.$", "a.ps"}},
      {.name = "-### shows the database after the compiler's line",
       .words = {"-###", "-E", "-MJ", "a.c", "b.s"}, .environment = sys,
       .out = "gcc33.exe -S -x c -Isys a.$\n" + db_error + "'" + db + "'\npp33.exe b.s\n"},
  };
  // clang-format on
}

// --jobs shows what the serial run shows, whenever the chains end.
std::vector<Row> jobs_rows() {
  const Files four = {{"a.s", ""}, {"b.c", ""}, {"c.s", ""}, {"d.s", ""}};
  // clang-format off
  return {
      {.name = "chains that end out of word order are shown in word order",
       .words = {"--jobs=4", "a.c", "b.s"}, .environment = {{"VSTUB_GCC33_SLEEP_MS", "400"},
       {"VSTUB_GCC33_PRINT", "a says\\n"}, {"VSTUB_GCC33_STDERR", "a warns\\n"},
       {"VSTUB_PP33_PRINT", "b says\\n"}, {"VSTUB_PP33_STDERR", "b warns\\n"}}, .files = sources,
       .out = "a says\nb says\n", .err = "a warns\nb warns\n", .left = {"a.o", "a.srf", "b.o"},
       .timing = true},
      {.name = "a failure shows the chains before it, not those beside it, and starts none after",
       .words = {"--jobs=3", "a.s", "b.c", "c.s", "d.s"}, .environment = {{"VSTUB_GCC33_EXIT", "2"},
       {"VSTUB_PP33_SLEEP_MS", "400"}, {"VSTUB_PP33_PRINT", "pp\\n"}, {"VSTUB_GCC33_PRINT", "gcc\\n"}},
       .files = four, .exit_code = 2, .out = "pp\ngcc\n", .left = {"a.o", "c.o"}, .timing = true},
      {.name = "a slow earlier chain that fails decides", .words = {"--jobs=2", "a.c", "b.s"},
       .environment = {{"VSTUB_GCC33_SLEEP_MS", "400"}, {"VSTUB_GCC33_EXIT", "3"},
       {"VSTUB_PP33_EXIT", "4"}}, .files = sources, .exit_code = 3, .timing = true},
      {.name = "an interruption stops every running chain", .words = {"--jobs=4", "a.s", "b.c", "c.s"},
       .environment = {{"VSTUB_GCC33_SLEEP_MS", "8000"}, {"VSTUB_PP33_SLEEP_MS", "8000"}},
       .files = four, .exit_code = 143, .posix_only = true, .timing = true, .signal = SIGTERM,
       .signal_after = "c.ps"},
  };
  // clang-format on
}

std::vector<Row> joined(std::initializer_list<std::vector<Row>> tables) {
  std::vector<Row> rows;
  for (const auto& table : tables) rows.insert(rows.end(), table.begin(), table.end());
  return rows;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Jobs, Rows, ::testing::ValuesIn(jobs_rows()), row_name);
INSTANTIATE_TEST_SUITE_P(Driver, Rows,
                         ::testing::ValuesIn(joined({refusal_rows(), option_rows(), output_rows(),
                                                     command_file_rows(), link_rows()})),
                         row_name);
INSTANTIATE_TEST_SUITE_P(Faults, Rows,
                         ::testing::ValuesIn(joined({tool_failure_rows(), tool_output_rows(),
                                                     text_file_rows(), limit_rows(),
                                                     file_fault_rows(), interruption_rows(),
                                                     console_rows()})),
                         row_name);
INSTANTIATE_TEST_SUITE_P(Dependencies, Rows,
                         ::testing::ValuesIn(joined({dependency_rows(), database_rows()})),
                         row_name);
INSTANTIATE_TEST_SUITE_P(Launcher, Rows, ::testing::ValuesIn(launcher_rows()), row_name);
