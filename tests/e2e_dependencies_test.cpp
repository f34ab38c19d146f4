// Runs of make: a makefile with dependency files rebuilds exactly the objects a header
// change touches, and links under make -j each link their own objects.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>

#include "tests/e2e_harness.h"

namespace {

namespace fs = std::filesystem;

bool on_path(const std::string& program) {
  std::istringstream path(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "");
  for (std::string folder; std::getline(path, folder, ':');)
    if (fs::exists(fs::path(folder) / program)) return true;
  return false;
}

class DependencyRun : public EndToEnd {};

}  // namespace

// After each make, the last three tools run tell which one source was built again. Each
// source names its header as users write them: after a comment, with a Windows backslash, or
// with a ':' in it. A Windows driver writes its names for make for Windows, which this make
// is not: it gets a '/' and a '%' instead.
TEST_F(DependencyRun, MakeRebuildsExactlyTheObjectsAHeaderChangeTouches) {
  if (!on_path("make")) GTEST_SKIP() << "make is not on PATH";
  const bool windows = windows_driver();
  const std::string odd = windows ? "pe%rc.h" : "co:lon.h";
  write_file("Makefile", "all: a.o b.o c.o\n%.o: %.c\n\t$(VEXA) -c -MMD -MP $<\n-include *.d\n");
  write_file("a.c", "#include /* board */ \"x.h\" // x\n");
  write_file("b.c", windows ? "#include \"sub/y.h\"\n" : "#include \"sub\\y.h\"\n");
  write_file("c.c", "#include \"" + odd + "\"\n");
  fs::create_directory("sub");
  for (const std::string name : {"x.h", "sub/y.h", odd.c_str()}) write_file(name, "");
  RunResult result = run_make({});
  ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_EQ(tools().size(), 9u);
  const auto now = fs::file_time_type::clock::now();
  for (const std::string& name : files()) fs::last_write_time(name, now - std::chrono::hours(1));
  fs::last_write_time("sub/y.h", now - std::chrono::hours(1));
  for (const auto& [header, object] :
       {std::pair{"x.h", "a"}, {"sub/y.h", "b"}, {odd.c_str(), "c"}}) {
    fs::last_write_time(header, now);
    EXPECT_EQ(run_make({}).exit_code, 0);
    EXPECT_EQ(tools().back().command_line(), std::string("as33.exe ") + object + ".ms");
  }
  EXPECT_EQ(tools().size(), 18u);
  // The header goes and so does its include: the -MP rule keeps make from stopping at it.
  fs::remove("sub/y.h");
  write_file("b.c", "int b;\n");
  EXPECT_EQ(run_make({}).exit_code, 0);
  EXPECT_EQ(tools().size(), 21u);
  EXPECT_EQ(tools().back().command_line(), "as33.exe b.ms");
}

// Make itself reads back every name of a dependency file, each holding what make reads
// specially: the object's and the source's, the headers' as prerequisites and, under -MP,
// as targets, whose rules keep make going once the headers are gone (a tab only as a
// prerequisite: make reads one in a target as a blank). Files the wildcards would match
// stand beside them. The object is make's first goal, which takes no '%'.
TEST_F(DependencyRun, MakeReadsBackEveryNameExactly) {
  if (!on_path("make") || windows_driver()) GTEST_SKIP() << "no make, or no such names";
  const std::string source = "o\\#|[1].c", object = "o\\#|[1].o", tab = "t\tb\\\\.h";
  const std::vector<std::string> headers = {"p\\#q.h", "e\\ f.h", "x y.h", "a|b.h",
                                            "w*.h",    "[g]?.h",  "d$.h",  "c:o.h",
                                            "pe%rc.h", "h#.h",    "r&s.h"};
  std::string includes, listed = source;
  for (const std::string& header : headers) {
    includes += "#include \"" + header + "\"\n";
    listed += " " + header;
    write_file(header, "");
  }
  for (const std::string& other : {tab, std::string("w1.h"), std::string("g1.h")})
    write_file(other, "");
  write_file(source, includes + "#include \"" + tab + "\"\n");
  write_file("Makefile", "-include *.d\n%.o: ; $(info [$@] [$^])\n");
  ASSERT_EQ(run({"-c", "-MD", source}).exit_code, 0);
  fs::last_write_time(object, fs::last_write_time(source) - std::chrono::hours(1));
  RunResult result = run_make({"-s", "-r"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "[" + object + "] [" + listed + " " + tab + "]\n");
  write_file(source, includes);
  ASSERT_EQ(run({"-c", "-MD", "-MP", source}).exit_code, 0);
  for (const std::string& header : headers) fs::remove(header);
  result = run_make({"-s", "-r"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
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
    for (char other : numbers)
      for (char side : {'a', 'b'})
        EXPECT_EQ(program.find({side, other, '.', 'o'}) != std::string::npos, other == n) << n;
  }
  EXPECT_FALSE(fs::exists("__tmp__.cm"));
}

// An entry is replaced where it stands; another tool's, as it was written, stays in its place.
TEST_F(DependencyRun, CompilationDatabaseKeepsOtherEntriesAndRewritesTheSameBytes) {
  const std::string db = "compile_commands.json", folder = folder_as_json();
  auto entry = [&folder](const std::string& file) {
    return "{\"directory\": \"" + folder + "\", \"file\": \"" + file +
           "\", \"arguments\": [\"gcc33.exe\", \"-S\", \"-x\", \"c\", \"-Isys\", \"" + file +
           "\"], \"output\": \"" + file.substr(0, 1) + ".ps\"}";
  };
  const std::string other =
      "{ \"file\" : \"a\\u002ec\", \"directory\":\"/e\", \"n\": [1, -2.5e3, "
      "{\"a\": null}], \"s\": \"\\ud83d\\ude00\\t\" }";
  write_file("a.c", "");
  write_file("b.c", "");
  write_file(db, " [{\"directory\": \"" + folder + "\", \"file\": \"b.c\"},\n  " + other + " ]\n");
  const Environment sys = {{"VEXA_INC", "sys"}};
  ASSERT_EQ(run({"-E", "-MJ", "a.c", "b.c"}, sys).exit_code, 0);
  const std::string first = read_file(db);
  EXPECT_EQ(first, "[\n" + entry("b.c") + ",\n" + other + ",\n" + entry("a.c") + "\n]\n");
  ASSERT_EQ(run({"-E", "-MJ", "b.c", "a.c"}, sys).exit_code, 0);
  EXPECT_EQ(read_file(db), first);
}

// Twenty compiles at once into one database: each entry once, in a file vexa reads again. The
// entries of other folders make each turn on the file long enough for the runs to meet.
TEST_F(DependencyRun, CompilationDatabaseUnderMakeDashJ8) {
  if (!on_path("make")) GTEST_SKIP() << "make is not on PATH";
  write_file("Makefile",
             "all: $(patsubst %.c,%.ps,$(wildcard *.c))\n%.ps: %.c\n\t$(VEXA) -E -MJ $<\n");
  for (int i = 0; i < 20; ++i) write_file("s" + std::to_string(i) + ".c", "");
  std::string others = "[";
  for (int i = 0; i < 20000; ++i) others += "{\"file\": \"x.c\", \"directory\": \"/x\"},\n";
  write_file("compile_commands.json", others + "{}]");
  ASSERT_EQ(run_make({"-j8"}, {{"VSTUB_GCC33_SLEEP_MS", "100"}}).exit_code, 0);
  write_file("t.c", "");
  ASSERT_EQ(run({"-E", "-MJ", "t.c"}).exit_code, 0);
  const std::string text = read_file("compile_commands.json");
  for (int i = 0; i < 21; ++i) {
    const std::string file = "\"file\": \"" + (i < 20 ? "s" + std::to_string(i) : "t") + ".c\"";
    EXPECT_EQ(text.find(file), text.rfind(file)) << file;
    EXPECT_NE(text.find(file), std::string::npos) << file;
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), '{'), 20001 + 21);
}

// An editor's C support finds a header of the configured include folder through the database.
TEST_F(DependencyRun, ClangdResolvesTheConfiguredIncludeFolderFromTheDatabase) {
  if (!on_path("clangd") || windows_driver()) GTEST_SKIP() << "no clangd for this driver";
  write_file("a.c", "#include <board.h>\nint main(void) { return BOARD; }\n");
  fs::create_directory("sys");
  write_file("sys/board.h", "#define BOARD 3\n");
  ASSERT_EQ(run({"-c", "-MJ", "a.c"}, {{"VEXA_INC", "sys"}}).exit_code, 0);
  const RunResult clangd = run_program({"clangd", "--check=a.c", "--compile-commands-dir=."});
  EXPECT_EQ(clangd.exit_code, 0);
  EXPECT_NE(clangd.err.find("All checks completed, 0 errors"), std::string::npos) << clangd.err;
}
