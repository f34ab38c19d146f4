#include "pipeline/link.h"

#include <string>
#include <vector>

#include "driver/run_sequence.h"
#include "tests/driver_fixture.h"

namespace {

class LinkTest : public DriverFixture {
 protected:
  void prepare(const std::vector<std::string>& words) {
    fresh_start();
    copy_text(state.lib_dir, "/sdk/lib");
    copy_text(state.default_libraries, "/sdk/lib/lib.lib\n");
    for (const auto& word : words) {
      if (state.status == 0) handle_argument(word.c_str());
    }
  }

  static std::string command_file_text() {
    static char text[command_file_size];
    make_command_file_text(text);
    return text;
  }

  // Keeps what the linker found in its command file, and writes the program it names.
  static FakeTool linker(std::string* seen, const std::string& output = "", int exit_code = 0) {
    return {.output = output, .exit_code = exit_code, .action = [seen](const std::string&) {
              *seen = read_file("__tmp__.cm");
              write_file("a.srf", "program");
            }};
  }
};

const std::string head = "-v3\n-objsym\n-addr 0x100000 {DEFAULT_CODE DEFAULT_DATA DEFAULT_BSS}\n";

}  // namespace

TEST_F(LinkTest, WritesTheCommandFileBlocksInOrder) {
  const struct {
    const char* name;
    std::vector<std::string> words;
    std::string text;
  } rows[] = {
      {"defaults",
       {"a.o", "lib/m.lib"},
       head + "-l /sdk/lib\n-o a.srf\n/sdk/lib/cstart.o\na.o\nlib/m.lib\n/sdk/lib/lib.lib\n"},
      {"no start address",
       {"-a", "a.o"},
       "-v3\n-objsym\n-l /sdk/lib\n-o a.srf\n/sdk/lib/cstart.o\na.o\n/sdk/lib/lib.lib\n"},
      {"own start address",
       {"-a=0x80000", "a.o"},
       "-v3\n-objsym\n-addr 0x80000 {DEFAULT_CODE DEFAULT_DATA DEFAULT_BSS}\n"
       "-l /sdk/lib\n-o a.srf\n/sdk/lib/cstart.o\na.o\n/sdk/lib/lib.lib\n"},
      {"no startup, no default libraries",
       {"-nodefsup", "-nodeflib", "a.o", "m.lib"},
       head + "-l /sdk/lib\n-o a.srf\na.o\nm.lib\n"},
      {"plus options after the driver's own lines",
       {"+o", "out.srf", "+cref", "a.o", "b.o"},
       head + "-l /sdk/lib\n-o a.srf\n-o out.srf\n-cref\n/sdk/lib/cstart.o\na.o\nb.o\n"
              "/sdk/lib/lib.lib\n"},
      {"pending plus option runs into the next block",
       {"-nodefsup", "a.o", "+defsym"},
       head + "-l /sdk/lib\n-o a.srf\n-defsym a.o\n/sdk/lib/lib.lib\n"},
      {"-e names the output",
       {"a.o", "-eout/prog.srf"},
       head + "-l /sdk/lib\n-o out/prog.srf\n/sdk/lib/cstart.o\na.o\n/sdk/lib/lib.lib\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    prepare(row.words);
    EXPECT_EQ(command_file_text(), row.text);
  }
}

TEST_F(LinkTest, WithoutALibraryDirectoryTheStartupObjectStandsAtTheRoot) {
  prepare({"a.o"});
  state.lib_dir[0] = '\0';
  EXPECT_EQ(command_file_text(), head + "-o a.srf\n/cstart.o\na.o\n/sdk/lib/lib.lib\n");
}

TEST_F(LinkTest, RunsTheLinkerOnTheGeneratedFileAndDeletesIt) {
  std::string seen;
  prepare({"-g", "-lXYZ", "a.o"});
  fake_tool("lk33.exe", linker(&seen));
  link_generated();
  EXPECT_EQ(state.status, 0);
  ASSERT_EQ(fake_runs().size(), 1u);
  EXPECT_EQ(fake_runs()[0].arguments, "-g -XYZ -c __tmp__.cm");
  EXPECT_EQ(seen, command_file_text());
  EXPECT_EQ(files(), std::vector<std::string>{"a.srf"});
}

TEST_F(LinkTest, WarningsFailTheLinkAndLoseItsOutput) {
  const struct {
    const char* name;
    std::vector<std::string> words;
    int status;
    std::vector<std::string> files_left;
  } rows[] = {
      {"default", {"a.o"}, 2, {}},
      {"-normwarn", {"-normwarn", "a.o"}, 0, {"a.srf"}},
      {"-b keeps both", {"-b", "a.o"}, 2, {"__tmp__.cm", "a.srf"}},
      {"-v still counts them", {"-v", "a.o"}, 2, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string seen;
    prepare(row.words);
    fake_tool("lk33.exe", linker(&seen, "a.o: Warning: one\nb.o: Warning: two\n"));
    link_generated();
    EXPECT_EQ(state.status, row.status);
    EXPECT_EQ(files(), row.files_left);
  }
}

TEST_F(LinkTest, AFailedLinkLosesItsOutput) {
  std::string seen;
  prepare({"a.o"});
  fake_tool("lk33.exe", linker(&seen, "", 5));
  link_generated();
  EXPECT_EQ(state.status, 5);
  EXPECT_TRUE(files().empty());
}

TEST_F(LinkTest, AUserCommandFileIsPassedAndNeverDeleted) {
  prepare({"-lmap", "app.cm"});
  write_file("app.cm", "-o app.srf\n");
  fake_tool("lk33.exe", {.output = "x: Warning: w\n"});
  link_user_command_file();
  ASSERT_EQ(fake_runs().size(), 1u);
  EXPECT_EQ(fake_runs()[0].arguments, "-map -c app.cm");
  EXPECT_EQ(state.status, 1);
  EXPECT_EQ(files(), std::vector<std::string>{"app.cm"});
}

TEST_F(LinkTest, ACommandFileThatCannotBeWrittenFailsTheRun) {
  prepare({"a.o"});
  std::filesystem::create_directory("__tmp__.cm");
  link_generated();
  EXPECT_EQ(state.status, 1);
  EXPECT_TRUE(fake_runs().empty());
  EXPECT_EQ(err(), "Command file write error.'__tmp__.cm'\n");
}
