// Runs of make: a makefile with dependency files rebuilds exactly the objects a header
// change touches, and links under make -j each link their own objects.
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
