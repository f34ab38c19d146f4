#include "driver/configuration.h"

#include <gtest/gtest.h>

#include <string>

#include "record/driver_state.h"

namespace {

struct LinesRow {
  const char* name;
  std::string text;
  std::string include_dir, lib_dir, default_libraries;
  int status = 0;  // 1 when a value or line too long for its field was refused
};

TEST(ConfigurationLines, AreTakenByTheFirstRuleThatMatches) {
  const std::string value_319(319, 'v');
  const std::string library_1022 = std::string(1018, 'a') + ".lib";
  const LinesRow rows[] = {
      {"CR LF", "; x\r\nINC=C:\\inc\r\nLIB=C:\\lib\r\na.lib\r\n", "C:\\inc", "C:\\lib", "a.lib\n"},
      {"short lines", "abc\n.lib\nb.li\n\nx.lib\n.lib", "", "", ".lib\nx.lib\n"},
      {"letter case, last line", "ABC.LIB\nx.Lib", "", "", "ABC.LIB\nx.Lib\n"},
      {"trailing blank", "a.lib \n", "", "", ""},
      {"comment only at the start", "  ;x.lib\n;x.lib\n", "", "", "  ;x.lib\n"},
      {"lower case inc=", "inc=C:\\x\ninc=C:\\x.lib\n", "", "", "inc=C:\\x.lib\n"},
      {"LIB= before .lib", "LIB=C:\\libs\\a.lib\n", "", "C:\\libs\\a.lib", ""},
      {"blanks kept", "INC= x\nLIB=y \n", " x", "y ", ""},
      {"later value replaces", "INC=C:\\x\nINC=C:\\y\nLIB=a\nLIB=\n", "C:\\y", "", ""},
      {"INC= without line feed is short", "INC=C:\\x\nINC=", "C:\\x", "", ""},
      {"lone CR kept", "INC=a\rb\nx.lib\r\ny.lib\r\r\nLIB=c\r", "a\rb", "c\r", "x.lib\n"},
      {"a long line refused, never cut", std::string(1023, 'a') + "bb.lib\n", "", "", "", 1},
      {"longest line that fits", library_1022 + "\r\n", "", "", library_1022 + "\n"},
      {"a UTF-8 mark is no mark after the start", "INC=a\n\xEF\xBB\xBFLIB=b\n", "a", "", ""},
      {"INC= 319", "INC=" + value_319 + "\n", value_319, "", ""},
      {"INC= 320 refused", "INC=" + value_319 + "v\nLIB=x\n", "", "", "", 1},
      {"chunk ending in .lib refused", std::string(1019, 'c') + ".libx.lib\n", "", "", "", 1},
      {"libraries past 1024 bytes", library_1022 + "\nx.lib\n", "", "", library_1022 + "\nx.lib\n"},
  };
  for (const LinesRow& row : rows) {
    SCOPED_TRACE(row.name);
    state = DriverState{};
    testing::internal::CaptureStderr();
    read_configuration_lines(row.text, "vexa.cfg");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(state.include_dir, row.include_dir);
    EXPECT_EQ(state.lib_dir, row.lib_dir);
    EXPECT_EQ(state.default_libraries.c_str(), row.default_libraries);
    EXPECT_EQ(state.status, row.status);
  }
}

}  // namespace
