#include <gtest/gtest.h>

#include <string>

#include "driver/driver_state.h"

TEST(FindExtension, FindsTheLastDotOfTheFileName) {
  const struct {
    const char* name;
    const char* extension;
  } rows[] = {
      {"main.c", ".c"},        {".c", ""},     {"", ""},
      {"dir.x/file", ""},      {"file.", "."}, {"a.b.s", ".s"},
      {"src/main.c", ".c"},    {"c:file", ""}, {"c:file.o", ".o"},
      {"back\\slash.c", ".c"}, {"x.", "."},    {"..", "."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_STREQ(row.name + find_extension(row.name), row.extension);
  }
}

TEST(MakeSlotName, ReplacesOrAddsTheExtension) {
  const struct {
    const char* name;
    const char* extension;
    const char* expected;
  } rows[] = {
      {"src/main.c", ".ps", "src/main.ps"},
      {"a.b.s", ".ps", "a.b.ps"},
      {"x.ps", ".ms", "x.ms"},
      {"noext", ".o", "noext.o"},
      {"dir.d/noext", ".o", "dir.d/noext.o"},
      {".c", ".$", ".c.$"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_STREQ(make_slot_name(1, row.name, row.extension), row.expected);
    EXPECT_STREQ(state.slots[1].text, row.expected);
  }
}

TEST(MakeSlotName, FillsTheSlotToItsLastByteAndNeverPastIt) {
  std::string longest(315, 'n');
  ASSERT_NE(make_slot_name(3, longest.c_str(), ".srf"), nullptr);
  EXPECT_EQ(std::string(state.slots[3].text), longest + ".srf");

  std::string too_long(316, 'n');
  EXPECT_EQ(make_slot_name(3, too_long.c_str(), ".srf"), nullptr);
  EXPECT_STREQ(state.slots[3].text, "");
}

TEST(DebugOptionText, FollowsTheDebugFlag) {
  state = DriverState{};
  EXPECT_STREQ(debug_option_text(), "");
  state.debug_info = 1;
  EXPECT_STREQ(debug_option_text(), "-g ");
  state = DriverState{};
}

TEST(BoundedText, RefusesWhatDoesNotFitAndLeavesTheFieldAlone) {
  char field[8] = "abc";
  EXPECT_TRUE(append_text(field, {"de", "f"}));
  EXPECT_STREQ(field, "abcdef");
  EXPECT_TRUE(append_text(field, {"g"}));
  EXPECT_STREQ(field, "abcdefg");
  EXPECT_FALSE(append_text(field, {"h"}));
  EXPECT_STREQ(field, "abcdefg");

  EXPECT_FALSE(copy_text(field, "12345678"));
  EXPECT_STREQ(field, "abcdefg");
  EXPECT_TRUE(copy_text(field, "1234567"));
  EXPECT_STREQ(field, "1234567");
}
