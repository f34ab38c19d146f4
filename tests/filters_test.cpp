#include "toolrun/filters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/driver_state.h"
#include "toolrun/tool_runner.h"

namespace {

class FiltersTest : public testing::Test {
 protected:
  void SetUp() override { state = DriverState{}; }

  // Runs `filter` on a copy of `line`; returns what is shown, or "<hidden>".
  static std::string apply(OutputFilter filter, const char* line) {
    char buffer[line_buffer_size] = {};
    std::strncpy(buffer, line, sizeof buffer - 1);
    char* shown = filter(buffer);
    if (shown == nullptr) return "<hidden>";
    EXPECT_EQ(shown, buffer) << "a filter returns the line it was given";
    return shown;
  }
};

struct BannerRow {
  const char* name;
  OutputFilter filter;
  const char* line;
  bool shown;
};

TEST_F(FiltersTest, BannersAreHiddenOnlyByTheirOwnFilterAndOnlyAtTheLineStart) {
  const BannerRow rows[] = {
      {"preprocessor banner", filter_stage_output, "Pre Processor Completed\n", false},
      {"extender banner", filter_stage_output, "Extend Completed\r\n", false},
      {"assembler banner with more text", filter_stage_output, "Assembly Completed, 0 errors\n",
       false},
      {"banner without line end", filter_stage_output, "Assembly Completed", false},
      {"shorter than the banner", filter_stage_output, "Assembly Complete\n", true},
      {"blank before banner", filter_stage_output, " Extend Completed\n", true},
      {"lower case banner", filter_stage_output, "extend completed\n", true},
      {"compile banner from a stage tool", filter_stage_output, "Compile Completed\n", true},
      {"link banner from a stage tool", filter_stage_output, "Link Completed\n", true},
      {"ordinary stage line", filter_stage_output, "main.s:3: error\n", true},
      {"empty line", filter_stage_output, "", true},
      {"compiler name banner", filter_compiler_output, "GNU C Compiler for E0C33 v1\n", false},
      {"compiler name with letter O", filter_compiler_output, "GNU C Compiler for EOC33\n", true},
      {"command echo with four blanks", filter_compiler_output, "    gcc33 -S -x c main.$\n",
       false},
      {"command echo without blanks", filter_compiler_output, "gcc33 -S -x c main.$\n", true},
      {"command echo with three blanks", filter_compiler_output, "   gcc33 -S -x c main.$\n", true},
      {"compile banner", filter_compiler_output, "Compile Completed\n", false},
      {"stage banner from the compiler", filter_compiler_output, "Extend Completed\n", true},
      {"link banner", filter_linker_output, "Link Completed\n", false},
      {"blank before link banner", filter_linker_output, " Link Completed\n", true},
      {"compile banner from the linker", filter_linker_output, "Compile Completed\n", true},
      {"link banner from the compiler", filter_compiler_output, "Link Completed\n", true},
  };
  for (const BannerRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::string shown = apply(row.filter, row.line);
    if (row.shown) {
      EXPECT_EQ(shown, row.line);
    } else {
      EXPECT_EQ(shown, "<hidden>");
    }
  }
}

struct RewriteRow {
  const char* name;
  std::uint8_t sjis_mode;
  const char* escaped_name;
  std::int32_t escaped_name_length;
  const char* line;
  const char* shown;
};

TEST_F(FiltersTest, CompilerMessagesNamingTheEscapedCopyNameTheSource) {
  const RewriteRow rows[] = {
      {"message names the copy", 1, "src\\main.$", 10, "src\\main.$:12: error\n",
       "src\\main.c:12: error\n"},
      {"name in mid line", 1, "main.$", 6, "In file main.$: bad\n", "In file main.c: bad\n"},
      {"name followed by blank", 1, "main.$", 6, "main.$ 12: error\n", "main.$ 12: error\n"},
      {"name at the line end", 1, "main.$", 6, "see main.$", "see main.$"},
      {"name before the line feed", 1, "main.$", 6, "see main.$\n", "see main.$\n"},
      {"only the first occurrence counts", 1, "main.$", 6, "main.$ and main.$:3\n",
       "main.$ and main.$:3\n"},
      {"first occurrence of two rewritten once", 1, "main.$", 6, "main.$:1 main.$:2\n",
       "main.c:1 main.$:2\n"},
      {"sjis mode off", 0, "main.$", 6, "main.$:12: error\n", "main.$:12: error\n"},
      {"other directory form", 1, "src\\main.$", 10, "src/main.$:12:\n", "src/main.$:12:\n"},
      {"banner naming the copy is hidden", 1, "main.$", 6, "    gcc33 -S -x c main.$:\n",
       "<hidden>"},
      {"empty slot rewrites nothing", 1, "", 1, "x:1: error\n", "x:1: error\n"},
      {"length past the line end", 1, "main.$", 40, "main.$:1\n", "main.$:1\n"},
      {"length zero", 1, ":x.$", 0, ":x.$:1\n", ":x.$:1\n"},
      {"negative length", 1, "main.$", -3, "main.$:1\n", "main.$:1\n"},
      {"length reaching the terminator", 1, "main.$", 9, "main.$:1\n", "main.$:1\n"},
  };
  for (const RewriteRow& row : rows) {
    SCOPED_TRACE(row.name);
    state.sjis_mode = row.sjis_mode;
    std::strcpy(state.slots[escaped_or_object_slot].text, row.escaped_name);
    state.escaped_name_length = row.escaped_name_length;
    EXPECT_EQ(apply(filter_compiler_output, row.line), row.shown);
  }
}

struct WarningRow {
  const char* name;
  std::uint8_t warnings_are_errors;
  const char* line;
  bool shown;
  int counted;
};


TEST_F(FiltersTest, StageAndCompilerFiltersCountNoWarnings) {
  apply(filter_stage_output, "a.s: Warning: x\n");
  apply(filter_compiler_output, "a.c: Warning: x\n");
  EXPECT_EQ(state.warning_count, 0);
}

}  // namespace
