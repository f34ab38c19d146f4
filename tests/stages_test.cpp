#include <string>
#include <vector>

#include "driver/run_sequence.h"
#include "tests/driver_fixture.h"

namespace {

class StagesTest : public DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    prepare();
  }

  void prepare() {
    fresh_start();
    copy_text(state.include_dir, "/sdk/include");
    fake_tool("gcc33.exe", {.action = writes_output(".ps")});
    fake_tool("pp33.exe", {.action = writes_output(".ps")});
    fake_tool("ext33.exe", {.action = writes_output(".ms")});
    fake_tool("as33.exe", {.action = writes_output(".o")});
    for (const char* source : {"a.c", "b.c", "p.s", "q.ps", "r.ms"}) write_file(source, "src\n");
  }

  static void handle(const std::vector<std::string>& words) {
    for (const auto& word : words) {
      if (state.status == 0) handle_argument(word.c_str());
    }
  }

  // Each tool run as "tool arguments".
  static std::vector<std::string> commands() {
    std::vector<std::string> lines;
    for (const auto& run : fake_runs()) lines.push_back(run.tool + " " + run.arguments);
    return lines;
  }

  void fail(const std::string& tool, int code, const std::string& extension) {
    fake_tool(tool, {.exit_code = code, .action = writes_output(extension)});
  }
};

const std::vector<std::string> sources = {"a.c", "b.c", "p.s", "q.ps", "r.ms"};

std::vector<std::string> with_sources(std::vector<std::string> names) {
  names.insert(names.end(), sources.begin(), sources.end());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST_F(StagesTest, CarriesACSourceThroughItsEscapedCopy) {
  handle({"-O2", "a.c"});
  EXPECT_EQ(commands(), (std::vector<std::string>{"gcc33.exe -S -x c -O2 -I/sdk/include a.$",
                                                  "ext33.exe a.ps", "as33.exe a.ms"}));
  EXPECT_EQ(files(), with_sources({"a.o"}));
  EXPECT_STREQ(state.object_list, "a.o\n");
  EXPECT_EQ(state.file_count, 1);
}

TEST_F(StagesTest, MovesTheIncludeDirectoryIntoTheOptionsAtTheFirstCompile) {
  handle({"-O2", "a.c", "-DX", "b.c"});
  EXPECT_EQ(commands()[0], "gcc33.exe -S -x c -O2 -I/sdk/include a.$");
  EXPECT_EQ(commands()[3], "gcc33.exe -S -x c -O2 -I/sdk/include -DX b.$");
  EXPECT_STREQ(state.include_dir, "");
}

TEST_F(StagesTest, RunsEachChainWithItsArgumentTexts) {
  const struct {
    const char* name;
    std::vector<std::string> words;
    std::vector<std::string> commands;
    std::vector<std::string> files_made;
  } rows[] = {
      {"no escaping",
       {"-J0", "a.c"},
       {"gcc33.exe -S -x c -I/sdk/include a.c", "ext33.exe a.ps", "as33.exe a.ms"},
       {"a.o"}},
      {"debug",
       {"-g", "-gp=8", "p.s"},
       {"pp33.exe -g p.s", "ext33.exe -gp 8 p.ps", "as33.exe -g p.ms"},
       {"p.o"}},
      {"user .ps kept", {"q.ps"}, {"ext33.exe q.ps", "as33.exe q.ms"}, {"q.o"}},
      {"user .ms kept", {"r.ms"}, {"as33.exe r.ms"}, {"r.o"}},
      {"-E", {"-E", "a.c"}, {"gcc33.exe -S -x c -I/sdk/include a.$"}, {"a.ps"}},
      {"-S", {"-S", "a.c"}, {"gcc33.exe -S -x c -I/sdk/include a.$", "ext33.exe a.ps"}, {"a.ms"}},
      {"-b keeps everything",
       {"-b", "a.c"},
       {"gcc33.exe -S -x c -I/sdk/include a.$", "ext33.exe a.ps", "as33.exe a.ms"},
       {"a.$", "a.ms", "a.o", "a.ps"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    prepare();
    handle(row.words);
    EXPECT_EQ(state.status, 0);
    EXPECT_EQ(commands(), row.commands);
    EXPECT_EQ(files(), with_sources(row.files_made));
  }
}

TEST_F(StagesTest, AFailingStepLosesItsOutputButNeverItsInput) {
  const struct {
    const char* name;
    std::vector<std::string> words;
    const char* tool;
    const char* extension;
    std::vector<std::string> files_left;
  } rows[] = {
      {"compiler", {"a.c"}, "gcc33.exe", ".ps", {}},
      {"extender", {"a.c"}, "ext33.exe", ".ms", {"a.ps"}},
      {"assembler", {"a.c"}, "as33.exe", ".o", {"a.ms"}},
      {"preprocessor", {"p.s"}, "pp33.exe", ".ps", {}},
      {"extender on a user .ps", {"q.ps"}, "ext33.exe", ".ms", {}},
      {"assembler on a user .ms", {"r.ms"}, "as33.exe", ".o", {}},
      {"compiler under -b", {"-b", "a.c"}, "gcc33.exe", ".ps", {"a.$", "a.ps"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    prepare();
    fail(row.tool, 3, row.extension);
    handle(row.words);
    EXPECT_EQ(state.status, 3);
    EXPECT_EQ(commands().back().substr(0, commands().back().find(' ')), row.tool);
    EXPECT_EQ(files(), with_sources(row.files_left));
  }
}

TEST_F(StagesTest, AFailedEscapeSkipsTheCompileButStillDeletesTheCopy) {
  handle({"missing.c"});
  EXPECT_EQ(state.status, 1);
  EXPECT_TRUE(fake_runs().empty());
  EXPECT_EQ(files(), with_sources({}));
  EXPECT_STREQ(state.object_list, "missing.o\n");
}

TEST_F(StagesTest, VerboseAnnouncesEveryDeletion) {
  handle({"-v", "p.s"});
  std::string shown = out();
  EXPECT_NE(shown.find("Delete 'p.ps'\n"), std::string::npos);
  EXPECT_NE(shown.find("Delete 'p.ms'\n"), std::string::npos);
}

TEST_F(StagesTest, RefusesAnArgumentTextThatDoesNotFit) {
  std::string option = "-D" + std::string(1000, 'x');
  handle({option, "a.c"});
  EXPECT_EQ(state.status, 1);
  EXPECT_TRUE(fake_runs().empty());
  EXPECT_NE(err().find("'a.$'"), std::string::npos);
}
