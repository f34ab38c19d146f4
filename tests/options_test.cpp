#include "driver/options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tests/driver_fixture.h"

namespace {

// Everything an option may change, so a row also proves that nothing else changed.
std::string describe(const DriverState& s) {
  std::ostringstream text;
  text << "debug_info=" << int{s.debug_info} << " delete_temps=" << int{s.delete_temps}
       << " stage_limit=" << int{s.stage_limit} << " verbose=" << s.verbose
       << " sjis_mode=" << int{s.sjis_mode} << " warnings_are_errors=" << int{s.warnings_are_errors}
       << " link_startup=" << int{s.link_startup}
       << " link_default_libs=" << int{s.link_default_libs} << " plus_state=" << int{s.plus_state}
       << " status=" << s.status << "\nstart_address=[" << s.start_address << "]\nslot3=["
       << s.slots[output_slot].text << "]\ncompiler=[" << s.compiler_options << "]\nextend=["
       << s.extend_options << "]\nlinker=[" << s.linker_options << "]\ncommand_file=["
       << s.command_file_options << "]\n";
  return text.str();
}

struct Row {
  std::vector<std::string> words;
  void (*expect)(DriverState&);  // turns a default state into the expected one
  std::string out;
  std::string err;
};

void unchanged(DriverState&) {}
void refused(DriverState& s) {
  s.status = 1;
}
void set(char* field, const char* text) {
  std::strcpy(field, text);
}

class OptionsTest : public DriverFixture {
 protected:
  void check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.words.empty() ? "" : row.words.front() + " ... " + row.words.back());
      state = DriverState{};
      DriverState expected{};
      row.expect(expected);
      for (const std::string& word : row.words) handle_option(word.c_str());
      EXPECT_EQ(describe(state), describe(expected));
      EXPECT_EQ(take_out(), row.out);
      EXPECT_EQ(take_err(), row.err);
    }
  }
};

TEST_F(OptionsTest, DashOptionsTakeTheFirstRowThatMatches) {
  check({
      {{"-g"}, [](DriverState& s) { s.debug_info = 1; }, "", ""},
      {{"-b"}, [](DriverState& s) { s.delete_temps = 0; }, "", ""},
      {{"-E"}, [](DriverState& s) { s.stage_limit = 0; }, "", ""},
      {{"-S"}, [](DriverState& s) { s.stage_limit = 1; }, "", ""},
      {{"-c"}, [](DriverState& s) { s.stage_limit = 2; }, "", ""},
      {{"-c", "-E"}, [](DriverState& s) { s.stage_limit = 0; }, "", ""},
      {{"-v"}, [](DriverState& s) { s.verbose = 1; }, "", ""},
      {{"-gp=12"}, [](DriverState& s) { set(s.extend_options, "-gp 12 "); }, "", ""},
      {{"-gp="}, [](DriverState& s) { set(s.extend_options, "-gp  "); }, "", ""},
      {{"-O2", "-Ifoo", "-Wall"},
       [](DriverState& s) { set(s.compiler_options, "-O2 -Ifoo -Wall "); },
       "",
       ""},
      {{"-DX=a b"}, [](DriverState& s) { set(s.compiler_options, "-DX=a b "); }, "", ""},
      {{"-D"}, [](DriverState& s) { set(s.compiler_options, "-D "); }, "", ""},
      {{"-lk=app"}, [](DriverState& s) { set(s.extend_options, "-lk app "); }, "", ""},
      {{"-j=5"}, [](DriverState& s) { set(s.extend_options, "-j 5 "); }, "", ""},
      {{"-near"}, [](DriverState& s) { set(s.extend_options, "-near "); }, "", ""},
      {{"-lkapp"}, [](DriverState& s) { set(s.linker_options, "-kapp "); }, "", ""},
      {{"-lk"}, [](DriverState& s) { set(s.linker_options, "-k "); }, "", ""},
      {{"-l"}, [](DriverState& s) { set(s.linker_options, "- "); }, "", ""},
      {{"-lXYZ"}, [](DriverState& s) { set(s.linker_options, "-XYZ "); }, "", ""},
      {{"-normwarn"}, [](DriverState& s) { s.warnings_are_errors = 0; }, "", ""},
      {{"-nodefsup"}, [](DriverState& s) { s.link_startup = 0; }, "", ""},
      {{"-nodeflib"}, [](DriverState& s) { s.link_default_libs = 0; }, "", ""},
  });
}

TEST_F(OptionsTest, WordsThatMatchNoRowAreRefused) {
  std::vector<Row> rows;
  for (const char* word :
       {"-gx", "-gp", "-verbose", "-o", "-j", "-nearer", "-", "-x", "-normwarnx", "-G", ""}) {
    rows.push_back({{word}, refused, "Unkown Option " + std::string(word) + "\n", ""});
  }
  check(rows);
}

TEST_F(OptionsTest, ShiftJisModeTakesTheDigitsModulo256) {
  check({
      {{"-J0"}, [](DriverState& s) { s.sjis_mode = 0; }, "", ""},
      {{"-J0", "-J1"}, unchanged, "", ""},
      {{"-J12x"}, [](DriverState& s) { s.sjis_mode = 12; }, "", ""},
      {{"-J256"}, [](DriverState& s) { s.sjis_mode = 0; }, "", ""},
      {{"-J257"}, [](DriverState& s) { s.sjis_mode = 1; }, "", ""},
      {{"-J0", "-J"}, [](DriverState& s) { s.sjis_mode = 0; }, "", ""},
      {{"-J0", "-Jx"}, [](DriverState& s) { s.sjis_mode = 0; }, "", ""},
      {{"-J123456789012345678901234567890"}, [](DriverState& s) { s.sjis_mode = 210; }, "", ""},
  });
}

TEST_F(OptionsTest, StartAddressAndOutputName) {
  check({
      {{"-a"}, [](DriverState& s) { set(s.start_address, ""); }, "", ""},
      {{"-a="}, [](DriverState& s) { set(s.start_address, ""); }, "", ""},
      {{"-abc"}, [](DriverState& s) { set(s.start_address, ""); }, "", ""},
      {{"-a", "-a=0x80000"}, [](DriverState& s) { set(s.start_address, "0x80000"); }, "", ""},
      {{"-eout.srf"}, [](DriverState& s) { set(s.slots[output_slot].text, "out.srf"); }, "", ""},
      {{"-eout.srf", "-e"}, unchanged, "", ""},
      {{"-e", "-eb.srf"}, [](DriverState& s) { set(s.slots[output_slot].text, "b.srf"); }, "", ""},
  });
}

TEST_F(OptionsTest, PlusOptionsAreLookedUpExactly) {
  const struct {
    const char* name;
    int option_class;
  } rows[] = {
      {"v3", 1},         {"objsym", 1},    {"m", 2},         {"s", 2},          {"cref", 2},
      {"g", 2},          {"e", 2},         {"w", 2},         {"d", 2},          {"ld", 2},
      {"inclink", 2},    {"o", 3},         {"l", 4},         {"defsym", 4},     {"align", 4},
      {"defaddr", 4},    {"codeblock", 5}, {"datablock", 5}, {"bssblock", 5},   {"ucodeblock", 5},
      {"udatablock", 5}, {"ubssblock", 5}, {"addr", 5},      {"V3", 0},         {"Cref", 0},
      {"", 0},           {"x", 0},         {"code", 0},      {"codeblocks", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(find_plus_option_class(row.name), row.option_class);
  }
}

// '+' options and the words they take change only the command file text and plus_state.
TEST_F(OptionsTest, PlusOptionsAndTheWordsTheyTake) {
  const struct {
    std::vector<std::string> words;
    const char* command_file;
    int plus_state;
  } rows[] = {
      {{"+v3", "+objsym"}, "", 0},
      {{"+m", "+cref"}, "-m\n-cref\n", 0},
      {{"+o"}, "-o ", 1},
      {{"+defsym"}, "-defsym ", 1},  // left pending at the end, unterminated
      {{"+addr"}, "-addr ", 3},
      {{"+codeblock", "CODE1", "{a.o", "b.o}", "+l", "lib1", "+cref"},
       "-codeblock CODE1 {a.o b.o}\n-l lib1\n-cref\n",
       0},
      {{"+codeblock", "CODE1", "{", "a.o", "b.o", "}"}, "-codeblock CODE1 { a.o b.o }\n", 0},
      {{"+l", "-x"}, "-l -x\n", 0},
      {{"+l", "+V3"}, "-l +V3\n", 0},
      {{"+o", "out.srf"}, "-o out.srf\n", 0},
      {{"+codeblock", "X", "{", "-c", "}"}, "-codeblock X { -c }\n", 0},
      {{"+codeblock", "X}"}, "-codeblock X} ", 2},
      {{"+codeblock", "X", "}x"}, "-codeblock X }x ", 2},
      {{"+codeblock", "X", "x}"}, "-codeblock X x}\n", 0},
      {{"+codeblock", "X", "}", "+m"}, "-codeblock X }\n-m\n", 0},
      {{"+codeblock", "X", ""}, "-codeblock X  ", 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words.front() + " ... " + row.words.back());
    state = DriverState{};
    DriverState expected{};
    set(expected.command_file_options, row.command_file);
    expected.plus_state = static_cast<std::uint8_t>(row.plus_state);
    for (const std::string& word : row.words) handle_option(word.c_str());
    EXPECT_EQ(describe(state), describe(expected));
    EXPECT_EQ(take_out(), "");
    EXPECT_EQ(take_err(), "");
  }
}

TEST_F(OptionsTest, UnknownPlusOptionsAreRefused) {
  std::vector<Row> rows;
  for (const char* word : {"+V3", "+Cref", "+", "+x", "+codeblocks"}) {
    rows.push_back({{word}, refused, "", "err options '" + std::string(word) + "'\n"});
  }
  check(rows);
}

// Values and appends that do not fit are refused whole, naming the word; the field keeps
// what it had.
TEST_F(OptionsTest, TooLongValuesAndFullListsAreRefused) {
  const std::string address_11 = "-a=" + std::string(11, '7');
  const std::string name_319 = "-e" + std::string(319, 'n');
  const std::string define_1023 = "-D" + std::string(1020, 'd');  // with its blank: 1023
  const std::string value_1019 = std::string(1019, 'v');          // "-l " + value + "\n": 1023
  const struct {
    std::vector<std::string> words;
    char* (*field)();
    std::string expected;
    bool refused;
  } rows[] = {
      {{address_11}, [] { return state.start_address; }, address_11.substr(3), false},
      {{address_11 + "8"}, [] { return state.start_address; }, "0x100000", true},
      {{name_319}, [] { return state.slots[output_slot].text; }, name_319.substr(2), false},
      {{name_319 + "n"}, [] { return state.slots[output_slot].text; }, "", true},
      {{define_1023}, [] { return state.compiler_options; }, define_1023 + " ", false},
      {{define_1023 + "d"}, [] { return state.compiler_options; }, "", true},
      {{"-O2", define_1023}, [] { return state.compiler_options; }, "-O2 ", true},
      {{"+l", value_1019},
       [] { return state.command_file_options; },
       "-l " + value_1019 + "\n",
       false},
      {{"+l", value_1019 + "v"}, [] { return state.command_file_options; }, "-l ", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words.back().substr(0, 20) + "... of " +
                 std::to_string(row.words.back().size()));
    state = DriverState{};
    for (const std::string& word : row.words) handle_option(word.c_str());
    EXPECT_EQ(std::string(row.field()), row.expected);
    EXPECT_EQ(state.status, row.refused ? 1 : 0);
    EXPECT_EQ(take_out(), "");
    const std::string err = take_err();
    if (row.refused) {
      EXPECT_NE(err.find("'" + row.words.back() + "'"), std::string::npos) << err;
    } else {
      EXPECT_EQ(err, "");
    }
  }
}

}  // namespace
