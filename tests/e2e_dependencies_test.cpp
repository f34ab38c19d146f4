// Dependency files (-MD, -MMD, -MP): what they list, how they are written, and a makefile
// that rebuilds exactly the objects a header change touches.
#include <chrono>
#include <cstdlib>
#include <sstream>

#include "tests/e2e_harness.h"

namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, std::string>>;

bool on_path(const std::string& program) {
  std::istringstream path(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "");
  for (std::string folder; std::getline(path, folder, ':');)
    if (fs::exists(fs::path(folder) / program)) return true;
  return false;
}

class DependencyRun : public EndToEnd {};

}  // namespace

// Every run has INC=sys, the configured include folder. In `holds`, '|' stands for the
// separator the driver joins an -I folder and a name with.
TEST_F(DependencyRun, TheFileListsTheHeadersFoundByTheIncludeLines) {
  // A row reads best with its fields packed.
  // clang-format off
  const struct {
    const char* name;
    Files files;
    std::vector<std::string> words;
    Environment environment;
    int exit_code;
    std::string out, err, file, holds;  // holds "": no such file
  } rows[] = {
      {.name = "beside the includer, then the -I folders in order, INC= where it stands",
       .files = {{"sub/a.c", "#include \"x.h\"\n # include <x.h>\n#include \"w.h\"\n#include<s.h>"},
                 {"sub/x.h", "#include \"z.h\""}, {"sub/z.h", ""}, {"one/x.h", ""}, {"two/x.h", ""},
                 {"two/w.h", ""}, {"w.h", ""}, {"sys/s.h", "#include \"t.h\""}, {"sys/t.h", ""},
                 {"two/s.h", ""}, {"a.c", ""}},
       .words = {"-c", "-MD", "-Ione", "a.c", "-Itwo", "sub/a.c"}, .environment = {},
       .exit_code = 0, .out = "", .err = "", .file = "sub/a.d",
       .holds = "sub/a.o: sub/a.c sub/x.h sub/z.h one|x.h two|w.h sys|s.h sys|t.h\n"},
      {.name = "-MMD leaves out the configured include folder",
       .files = {{"a.c", "#include <s.h>\n#include \"u.h\"\n"}, {"sys/s.h", "#include \"t.h\"\n"},
                 {"sys/t.h", ""}, {"u.h", ""}},
       .words = {"-c", "-MMD", "a.c"}, .environment = {}, .exit_code = 0, .out = "", .err = "",
       .file = "a.d", .holds = "a.o: a.c u.h\n"},
      {.name = "-MP, and names escaped for make",
       .files = {{"a.c", "#include \"my x.h\"\n#include \"p$#.h\""}, {"my x.h", ""}, {"p$#.h", ""}},
       .words = {"-c", "-MD", "-MP", "a.c"}, .environment = {}, .exit_code = 0, .out = "",
       .err = "", .file = "a.d", .holds = "a.o: a.c my\\ x.h p$$\\#.h\nmy\\ x.h:\np$$\\#.h:\n"},
      {.name = "a cycle, also through ../, from an assembler source",
       .files = {{"a.s", "#include \"y.h\"\n#include <s.h>"}, {"y.h", "#include \"x.h\""},
                 {"x.h", "#include \"../work/y.h\"\n#include \"a.s\""}, {"sys/s.h", ""}},
       .words = {"-c", "-MD", "a.s"}, .environment = {}, .exit_code = 0, .out = "", .err = "",
       .file = "a.d", .holds = "a.o: a.s y.h x.h sys|s.h\n"},
      {.name = "a missing header left out, a macro warned about, <x.h> not looked for beside",
       .files = {{"a.c", "#include \"gone.h\"\n#include HEADER\n#include <x.h>\n"}, {"x.h", ""}},
       .words = {"-c", "-MMD", "a.c"}, .environment = {}, .exit_code = 0, .out = "",
       .err = "a.c:2: warning: #include of a macro cannot be followed; the dependency file may "
              "miss what it names\n", .file = "a.d", .holds = "a.o: a.c\n"},
      {.name = "a .ps lists only itself; -MDx is no option",
       .files = {{"x.ps", "#include \"x.h\"\n"}, {"x.h", ""}}, .words = {"-MD", "x.ps", "-MDx"},
       .environment = {}, .exit_code = 1, .out = "Unkown Option -MDx\n", .err = "",
       .file = "x.d", .holds = "x.o: x.ps\n"},
      {.name = "a failed chain leaves the older file",
       .files = {{"a.c", "#include \"x.h\"\n"}, {"x.h", ""}, {"a.d", "old\n"}},
       .words = {"-c", "-MD", "a.c"}, .environment = {{"VSTUB_AS33_EXIT", "1"}}, .exit_code = 1,
       .out = "", .err = "", .file = "a.d", .holds = "old\n"},
      {.name = "not written, and the object goes", .files = {{"a.c", ""}, {"a.d/x", ""}},
       .words = {"-c", "-MD", "a.c"}, .environment = {}, .exit_code = 1, .out = "",
       .err = "Dependency file write error.'a.d'\n", .file = "a.o", .holds = ""},
      {.name = "-E", .files = {{"a.c", ""}}, .words = {"-E", "-MD", "a.c"}, .environment = {},
       .exit_code = 0, .out = "", .err = "", .file = "a.d", .holds = ""},
      {.name = "-S", .files = {{"a.c", ""}}, .words = {"-S", "-MD", "a.c"}, .environment = {},
       .exit_code = 0, .out = "", .err = "", .file = "a.d", .holds = ""},
      {.name = "-###", .files = {{"a.c", ""}}, .words = {"-###", "-c", "-MD", "a.c"},
       .environment = {}, .exit_code = 0,
       .out = "gcc33.exe -S -x c -Isys a.$\next33.exe a.ps\nas33.exe a.ms\nDependency file 'a.d'\n",
       .err = "", .file = "a.d", .holds = ""},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const auto& entry : fs::directory_iterator(work())) fs::remove_all(entry);
    for (const auto& [name, bytes] : row.files) {
      if (fs::path(name).has_parent_path()) fs::create_directories(fs::path(name).parent_path());
      write_file(name, bytes);
    }
    write_file("vexa.cfg", "INC=sys\n");
    RunResult result = run(row.words, row.environment);
    EXPECT_EQ(result.exit_code, row.exit_code);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, row.err);
    std::string holds = row.holds;
    for (char& c : holds) c = c == '|' ? (windows_driver() ? '\\' : '/') : c;
    EXPECT_EQ(fs::is_regular_file(row.file) ? read_file(row.file) : "", holds);
    for (const auto& entry : fs::recursive_directory_iterator(work()))
      EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
}

// After each make, the last three tools run tell which one source was built again.
TEST_F(DependencyRun, MakeRebuildsExactlyTheObjectsAHeaderChangeTouches) {
  if (!on_path("make")) GTEST_SKIP() << "make is not on PATH";
  write_file("Makefile", "all: a.o b.o c.o\n%.o: %.c\n\t$(VEXA) -c -MMD -MP $<\n-include *.d\n");
  write_file("a.c", "#include \"x.h\"\n");
  write_file("b.c", "#include \"y.h\"\n");
  for (const char* name : {"c.c", "x.h", "y.h"}) write_file(name, "");
  RunResult result = run_make({});
  ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_EQ(tools().size(), 9u);
  const auto now = fs::file_time_type::clock::now();
  for (const std::string& name : files()) fs::last_write_time(name, now - std::chrono::hours(1));
  fs::last_write_time("x.h", now);
  EXPECT_EQ(run_make({}).exit_code, 0);
  EXPECT_EQ(tools().size(), 12u);
  EXPECT_EQ(tools().back().command_line(), "as33.exe a.ms");
  // The header goes and so does its include: the -MP rule keeps make from stopping at it.
  fs::remove("y.h");
  write_file("b.c", "int b;\n");
  EXPECT_EQ(run_make({}).exit_code, 0);
  EXPECT_EQ(tools().size(), 15u);
  EXPECT_EQ(tools().back().command_line(), "as33.exe b.ms");
}

// Four links at once in one folder, each linker slow to read its command file.
TEST_F(DependencyRun, LinksUnderMakeDashJEachLinkTheirOwnObjects) {
  if (!on_path("make")) GTEST_SKIP() << "make is not on PATH";
  write_file("Makefile", "all: 1.srf 2.srf 3.srf 4.srf\n%.srf: a%.o b%.o\n\t$(VEXA) -e$@ $^\n");
  const std::string numbers = "1234";
  for (char n : numbers) {
    write_file(std::string("a") + n + ".o", "");
    write_file(std::string("b") + n + ".o", "");
  }
  EXPECT_EQ(run_make({"-j4"}, {{"VSTUB_LK33_START_MS", "200"}}).exit_code, 0);
  for (char n : numbers) {
    const std::string program = read_file(std::string(1, n) + ".srf");
    for (char other : numbers) {
      const bool own = other == n;
      EXPECT_EQ(program.find(std::string("a") + other + ".o") != std::string::npos, own) << n;
      EXPECT_EQ(program.find(std::string("b") + other + ".o") != std::string::npos, own) << n;
    }
  }
  EXPECT_FALSE(fs::exists("__tmp__.cm"));
}
