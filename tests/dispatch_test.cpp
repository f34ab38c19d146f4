#include <string>
#include <vector>

#include "driver/run_sequence.h"
#include "tests/driver_fixture.h"

using DispatchTest = DriverFixture;

namespace {

struct DispatchRow {
  const char* name;
  std::vector<std::string> words;
  int status;
  int file_count;
  std::string object_list;
  std::string library_list;
  std::string output_name;
  std::string out;
  std::string err;
};

}  // namespace

TEST_F(DispatchTest, SortsWordsByExtension) {
  const std::string command_file_mix = "cannot be linked together with";
  const DispatchRow rows[] = {
      {"object", {"a.o"}, 0, 1, "a.o\n", "", "a.srf", "", ""},
      {"first object names the output",
       {"sub/a.o", "b.o"},
       0,
       2,
       "sub/a.o\nb.o\n",
       "",
       "sub/a.srf",
       "",
       ""},
      {"-e before", {"-eout.srf", "a.o"}, 0, 1, "a.o\n", "", "out.srf", "", ""},
      {"-e after", {"a.o", "-eout.srf"}, 0, 1, "a.o\n", "", "out.srf", "", ""},
      {"-e alone lets the next object name it",
       {"a.o", "-e", "b.o"},
       0,
       2,
       "a.o\nb.o\n",
       "",
       "b.srf",
       "",
       ""},
      {"library does not count", {"lib/m.lib"}, 0, 0, "", "lib/m.lib\n", "", "", ""},
      {"upper-case extension", {"main.C"}, 1, 0, "", "", "", "Unkown File main.C\n", ""},
      {"unknown extension", {"main.cpp"}, 1, 0, "", "", "", "Unkown File main.cpp\n", ""},
      {"no extension", {"README"}, 1, 0, "", "", "", "Unkown File README\n", ""},
      {"command file", {"app.cm"}, 0, 1, "app.cm", "", "", "", ""},
      {"object after command file",
       {"app.cm", "a.o"},
       1,
       1,
       "app.cm",
       "",
       "",
       "",
       "File 'a.o' " + command_file_mix + " a command file\n"},
      {"source after command file",
       {"app.cm", "a.s"},
       1,
       1,
       "app.cm",
       "",
       "",
       "",
       "File 'a.s' " + command_file_mix + " a command file\n"},
      {"command file after object",
       {"a.o", "app.cm"},
       1,
       1,
       "a.o\n",
       "",
       "a.srf",
       "",
       "Command file 'app.cm' " + command_file_mix + " object files\n"},
      {"second command file",
       {"a.cm", "b.cm"},
       1,
       1,
       "a.cm",
       "",
       "",
       "",
       "Command file 'b.cm' follows another command file\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    state = DriverState{};
    take_out();
    take_err();
    for (const auto& word : row.words) {
      if (state.status == 0) handle_argument(word.c_str());
    }
    EXPECT_EQ(take_out(), row.out);
    EXPECT_EQ(take_err(), row.err);
    EXPECT_EQ(state.status, row.status);
    EXPECT_EQ(state.file_count, row.file_count);
    EXPECT_EQ(state.object_list, row.object_list);
    EXPECT_EQ(state.library_list, row.library_list);
    EXPECT_EQ(state.slots[output_slot].text, row.output_name);
  }
  EXPECT_TRUE(fake_runs().empty());
}

TEST_F(DispatchTest, RefusesANameTooLongForItsDerivedNames) {
  std::string longest = std::string(313, 'n') + ".o";
  handle_argument(longest.c_str());
  EXPECT_EQ(state.status, 0);
  EXPECT_EQ(state.slots[output_slot].text, std::string(313, 'n') + ".srf");

  std::string too_long = std::string(314, 'n') + ".o";
  handle_argument(too_long.c_str());
  EXPECT_EQ(state.status, 1);
  EXPECT_EQ(state.file_count, 1);
  EXPECT_NE(err().find("'" + too_long + "'"), std::string::npos);
}

TEST_F(DispatchTest, RefusesAnObjectThatOverflowsTheListAndKeepsTheList) {
  std::string name = std::string(100, 'o') + ".o";
  int accepted = 0;
  while (state.status == 0) {
    handle_argument(name.c_str());
    if (state.status == 0) ++accepted;
  }
  EXPECT_EQ(accepted, 1023 / 103);
  EXPECT_EQ(state.file_count, accepted);
  EXPECT_EQ(std::string(state.object_list).size(), static_cast<size_t>(accepted * 103));
  EXPECT_NE(err().find(name), std::string::npos);
}
