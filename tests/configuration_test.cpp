#include "driver/configuration.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/driver_fixture.h"

namespace {

// Runs with neither environment variable set, and puts back what was there.
class ConfigurationTest : public DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    for (const char* name : {"VEXA_INC", "VEXA_LIB"}) {
      const char* value = std::getenv(name);
      saved_.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
      unsetenv(name);
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) set_environment(name, value);
    DriverFixture::TearDown();
  }
  static void set_environment(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  static void read_lines(const std::string& text) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    read_configuration_lines(file);
    std::fclose(file);
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(ConfigurationTest, LinesAreTakenByTheFirstRuleThatMatches) {
  const std::string long_text(1023, 'a');  // a line this long is read in two chunks
  const std::string longest_library = std::string(1018, 'a') + ".lib";
  const struct {
    const char* name;
    std::string text;
    std::string include_dir, lib_dir, default_libraries;
  } rows[] = {
      {"example",
       "; tool chain layout\nINC=C:\\sdk\\include\nLIB=C:\\sdk\\lib\nC:\\sdk\\lib\\lib.lib\n"
       "C:\\sdk\\lib\\util.LIB\n",
       "C:\\sdk\\include", "C:\\sdk\\lib", "C:\\sdk\\lib\\lib.lib\nC:\\sdk\\lib\\util.LIB\n"},
      {"same file with CR LF",
       "; tool chain "
       "layout\r\nINC=C:\\sdk\\include\r\nLIB=C:\\sdk\\lib\r\nC:\\sdk\\lib\\lib.lib\r\n"
       "C:\\sdk\\lib\\util.LIB\r\n",
       "C:\\sdk\\include", "C:\\sdk\\lib", "C:\\sdk\\lib\\lib.lib\nC:\\sdk\\lib\\util.LIB\n"},
      {"short lines", "abc\n.lib\nb.li\n\n", "", "", ".lib\n"},
      {"last line without line feed", "x.lib\na.lib", "", "", "x.lib\na.lib\n"},
      {"four characters at the end", "x.lib\n.lib", "", "", "x.lib\n"},
      {"letter case of .lib", "ABC.LIB\nx.Lib\n", "", "", "ABC.LIB\nx.Lib\n"},
      {"trailing blank", "a.lib \n", "", "", ""},
      {"comment only at the start", "  ;x.lib\n;x.lib\n", "", "", "  ;x.lib\n"},
      {"lower case inc=", "inc=C:\\x\ninc=C:\\x.lib\n", "", "", "inc=C:\\x.lib\n"},
      {"LIB= before .lib", "LIB=C:\\libs\\a.lib\n", "", "C:\\libs\\a.lib", ""},
      {"blanks kept", "INC= x\nLIB=y \n", " x", "y ", ""},
      {"later INC replaces", "INC=C:\\x\nINC=C:\\y\n", "C:\\y", "", ""},
      {"INC= empties", "INC=C:\\x\nINC=\n", "", "", ""},
      {"INC= without line feed is short", "INC=C:\\x\nINC=", "C:\\x", "", ""},
      {"lone CR kept", "INC=a\rb\nx.lib\r\nLIB=c\r", "a\rb", "c\r", "x.lib\n"},
      {"CR before CR LF", "x.lib\r\r\n", "", "", ""},
      {"chunks of a long line", long_text + "bb.lib\n", "", "", "bb.lib\n"},
      {"longest line that fits", longest_library + "\n", "", "", longest_library + "\n"},
      {"longest line with CR LF", longest_library + "\r\n", "", "", longest_library + "\n"},
      {"UTF-8 mark skipped", "\xEF\xBB\xBFINC=a\n", "a", "", ""},
      {"UTF-8 mark elsewhere is data", "x\n\xEF\xBB\xBFINC=a\n", "", "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    state = DriverState{};
    read_lines(row.text);
    EXPECT_EQ(state.include_dir, row.include_dir);
    EXPECT_EQ(state.lib_dir, row.lib_dir);
    EXPECT_EQ(state.default_libraries, row.default_libraries);
    EXPECT_EQ(state.status, 0);
    EXPECT_EQ(take_err(), "");
  }
}

TEST_F(ConfigurationTest, BaseDirectoryIsAboveTheExecutablesOwn) {
  const struct {
    const char* executable;
    const char* include_dir;
    const char* lib_dir;
  } rows[] = {
      {"/opt/sdk/bin/vexa", "/opt/sdk/include", "/opt/sdk/lib"},
      {"/usr/bin/vexa", "/usr/include", "/usr/lib"},
      {"/a.b/bin/vexa.exe", "/a.b/include", "/a.b/lib"},
      {"//server/share/bin/vexa", "//server/share/include", "//server/share/lib"},
      {"/bin/vexa", "/include", "/lib"},  // the first character is never looked at
      {"/vexa", "/include", "/lib"},
      {"vexa", "/include", "/lib"},
      {"", "", ""},  // no path: no default directories
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.executable);
    state = DriverState{};
    fake_module_path(row.executable);
    load_configuration();
    EXPECT_STREQ(state.include_dir, row.include_dir);
    EXPECT_STREQ(state.lib_dir, row.lib_dir);
    EXPECT_EQ(state.status, 0);
  }
  EXPECT_EQ(take_out(), "");
  EXPECT_EQ(take_err(), "");
}

TEST_F(ConfigurationTest, EnvironmentOverridesTheFileEvenWhenEmpty) {
  write_file("vexa.cfg", "INC=/file/inc\nLIB=/file/lib\n");
  fake_module_path("/opt/sdk/bin/vexa");
  const struct {
    std::optional<std::string> vexa_inc, vexa_lib;
    const char* include_dir;
    const char* lib_dir;
  } rows[] = {
      {std::nullopt, std::nullopt, "/file/inc", "/file/lib"},
      {"/env/inc", std::nullopt, "/env/inc", "/file/lib"},
      {std::nullopt, "", "/file/inc", "/opt/sdk/lib"},
      {"", " x", "/opt/sdk/include", " x"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.include_dir + std::string(" ") + row.lib_dir);
    state = DriverState{};
    set_environment("VEXA_INC", row.vexa_inc);
    set_environment("VEXA_LIB", row.vexa_lib);
    load_configuration();
    EXPECT_STREQ(state.include_dir, row.include_dir);
    EXPECT_STREQ(state.lib_dir, row.lib_dir);
  }
}

TEST_F(ConfigurationTest, CurrentDirectoryFileWinsOverTheOneBesideTheExecutable) {
  const auto root = std::filesystem::current_path();
  std::filesystem::create_directories("bin");
  write_file("bin/vexa.cfg", "LIB=/beside/lib\nbeside.lib\n");
  fake_module_path((root / "bin" / "vexa.exe").string());

  load_configuration();
  EXPECT_STREQ(state.lib_dir, "/beside/lib");
  EXPECT_STREQ(state.default_libraries, "beside.lib\n");
  EXPECT_EQ(state.include_dir, (root / "include").string());

  state = DriverState{};
  write_file("vexa.cfg", "here.lib\n");
  load_configuration();
  EXPECT_STREQ(state.default_libraries, "here.lib\n");
  EXPECT_EQ(state.lib_dir, (root / "lib").string());

  state = DriverState{};
  fake_module_path("");  // without the executable's path the current directory still counts
  load_configuration();
  EXPECT_STREQ(state.default_libraries, "here.lib\n");
  EXPECT_STREQ(state.lib_dir, "");
  EXPECT_EQ(take_err(), "");

  state = DriverState{};  // a UTF-16 file here is not read, nor is the one beside tried
  write_file("vexa.cfg", std::string("\xFF\xFEh\0.\0l\0i\0b\0", 12));
  fake_module_path((root / "bin" / "vexa.exe").string());
  load_configuration();
  EXPECT_STREQ(state.default_libraries, "");
  EXPECT_EQ(state.lib_dir, (root / "lib").string());
  EXPECT_EQ(state.status, 0);
  EXPECT_EQ(take_err(),
            "vexa: configuration file 'vexa.cfg' is saved as UTF-16 and was not read; save it as "
            "ANSI or UTF-8\n");
}

// A value that does not fit is refused with a message naming it; nothing is cut.
TEST_F(ConfigurationTest, TooLongValuesAreRefused) {
  const std::string value_319(319, 'v');
  const std::string base_310 = "/" + std::string(309, 'b');  // with "/include": 318
  const std::string base_311 = "/" + std::string(310, 'b');  // with "/include": 319
  const std::string base_312 = "/" + std::string(311, 'b');  // with "/include": 320
  const std::string library = std::string(1018, 'a') + ".lib";
  const struct {
    const char* name;
    std::string file;
    std::optional<std::string> vexa_inc;
    std::string executable;
    std::string include_dir;
    std::string refused;  // empty when all fits
  } rows[] = {
      {"INC= 319", "INC=" + value_319 + "\n", std::nullopt, "", value_319, ""},
      {"INC= 320", "INC=" + value_319 + "v\n", std::nullopt, "", "", value_319 + "v"},
      {"VEXA_INC 319", "", value_319, "", value_319, ""},
      {"VEXA_INC 320", "", value_319 + "v", "", "", value_319 + "v"},
      {"base 310", "", std::nullopt, base_310 + "/b/vexa", base_310 + "/include", ""},
      {"base 311", "", std::nullopt, base_311 + "/b/vexa", base_311 + "/include", ""},
      {"base 312", "", std::nullopt, base_312 + "/b/vexa", "", base_312},
      {"executable path too long", "", std::nullopt, "/" + std::string(318, 'p') + "/vexa", "", ""},
      {"chunk ending in .lib", std::string(1019, 'c') + ".libx.lib\n", std::nullopt, "", "",
       std::string(1019, 'c') + ".lib"},
      {"libraries overflow", library + "\nx.lib\n", std::nullopt, "", "", "x.lib"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    state = DriverState{};
    write_file("vexa.cfg", row.file);
    set_environment("VEXA_INC", row.vexa_inc);
    fake_module_path(row.executable);
    load_configuration();
    EXPECT_EQ(state.include_dir, row.include_dir);
    EXPECT_EQ(state.status, row.refused.empty() ? 0 : 1);
    const std::string err = take_err();
    if (row.refused.empty()) {
      EXPECT_EQ(err, "");
    } else {
      EXPECT_NE(err.find("'" + row.refused + "'"), std::string::npos) << err;
    }
  }
  EXPECT_STREQ(state.default_libraries, (library + "\n").c_str());  // refused line not added
}

}  // namespace
