#include "driver/run_sequence.h"

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "driver/usage.h"
#include "tests/driver_fixture.h"

namespace {

class RunSequenceTest : public DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    unsetenv("VEXA_INC");
    unsetenv("VEXA_LIB");
    write_file("a.c", "int a;\n");
    write_file("b.c", "int b;\n");
  }

  int run(const std::vector<std::string>& words) {
    std::vector<const char*> pointers;
    for (const auto& word : words) pointers.push_back(word.c_str());
    return run_driver(static_cast<int>(pointers.size()), pointers.data());
  }

  static std::vector<std::string> tools_run() {
    std::vector<std::string> tools;
    for (const auto& run : fake_runs()) tools.push_back(run.tool);
    return tools;
  }
};

std::string warnings(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) lines += "x.o: Warning: w\n";
  return lines;
}

struct RunRow {
  const char* name;
  std::vector<std::string> words;
  std::map<std::string, FakeTool> tools;
  int exit_code;
  std::string out;
  std::vector<std::string> tools_run;
};

}  // namespace

TEST_F(RunSequenceTest, EndsWithTheExitCodeOfTheFirstFailure) {
  const std::string usage = std::string(usage_text) + "\n";
  const std::vector<std::string> c_chain = {"gcc33.exe", "ext33.exe", "as33.exe"};
  const std::vector<std::string> c_chain_and_link = {"gcc33.exe", "ext33.exe", "as33.exe",
                                                     "lk33.exe"};
  const RunRow rows[] = {
      {"no words", {}, {}, 1, usage, {}},
      {"an option alone", {"-v"}, {}, 1, usage, {}},
      {"a library alone", {"m.lib"}, {}, 1, usage, {}},
      {"unknown option before any file", {"-x", "a.o"}, {}, 1, "Unkown Option -x\n" + usage, {}},
      {"unknown option after a file", {"a.o", "-x", "b.o"}, {}, 1, "Unkown Option -x\n", {}},
      {"compile only", {"-c", "a.c"}, {}, 0, "", c_chain},
      {"-c after the file still stops the link", {"a.c", "-c"}, {}, 0, "", c_chain},
      {"full build", {"a.c"}, {}, 0, "", c_chain_and_link},
      {"compiler fails", {"a.c", "b.c"}, {{"gcc33.exe", {.exit_code = 2}}}, 2, "", {"gcc33.exe"}},
      {"assembler fails", {"a.c", "b.c"}, {{"as33.exe", {.exit_code = 7}}}, 7, "", c_chain},
      {"tool cannot start",
       {"a.o"},
       {{"lk33.exe", {.start_result = 259}}},
       255,
       "Process create error 'lk33.exe -c __tmp__.cm'\n",
       {}},
      {"linker warnings",
       {"a.o"},
       {{"lk33.exe", {.output = warnings(3)}}},
       3,
       warnings(3),
       {"lk33.exe"}},
      {"256 warnings never exit 0",
       {"a.o"},
       {{"lk33.exe", {.output = warnings(256)}}},
       255,
       warnings(256),
       {"lk33.exe"}},
      {"warnings under -normwarn",
       {"-normwarn", "a.o"},
       {{"lk33.exe", {.output = warnings(2)}}},
       0,
       warnings(2),
       {"lk33.exe"}},
      {"linker failure wins over warnings",
       {"a.o"},
       {{"lk33.exe", {.output = warnings(2), .exit_code = 4}}},
       4,
       warnings(2),
       {"lk33.exe"}},
      {"pending plus option takes an option word", {"+l", "-x"}, {}, 1, usage, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    state = DriverState{};
    fake_platform_reset();
    for (const auto& [tool, script] : row.tools) fake_tool(tool, script);
    take_out();
    EXPECT_EQ(run(row.words), row.exit_code);
    EXPECT_EQ(take_out(), row.out);
    EXPECT_EQ(tools_run(), row.tools_run);
  }
}

TEST_F(RunSequenceTest, AnInterruptionBetweenToolsFailsTheRunWithTheSignal) {
  fake_tool("gcc33.exe", {.action = [](const std::string&) { fake_interrupt(2); }});
  EXPECT_EQ(run({"a.c", "b.c"}), 130);
  EXPECT_EQ(tools_run(), std::vector<std::string>{"gcc33.exe"});
}

TEST(ExitCode, NeverTurnsAFailureIntoSuccess) {
  const struct {
    int status;
    int exit_code;
  } rows[] = {{0, 0},     {1, 1},     {130, 130}, {255, 255},
              {256, 255}, {259, 255}, {512, 255}, {-1, 255}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.status);
    EXPECT_EQ(exit_code_from_status(row.status), row.exit_code);
  }
}
