#include "toolrun/tool_runner.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/byte_models.h"

namespace {

struct LinesRow {
  const char* name;
  std::string output;
  std::string shown;
};

// A read may end anywhere in a line: each row is read one byte at a time, across the
// cutting point, and in one piece.
TEST(ToolRunner, CutsLinesAsAFiveHundredTwelveByteReadWouldAtAnyReadSize) {
  const std::string x510(510, 'x'), x511(511, 'x');
  std::string flood;  // more than the runner reads at once
  for (int i = 0; i < 60000; ++i) flood += "hmp"[i % 3] + std::to_string(i) + "\n";
  const LinesRow rows[] = {
      {"two lines, one hidden, one changed", "h1\nm2\np3\n", "M2\np3\n"},
      {"last line without line feed", "p\nm", "p\nM"},
      {"511 bytes with line feed", "h\n" + x510 + "\n", x510 + "\n"},
      {"line feed after 511 bytes", x511 + "\nh\n", x511 + "\n"},
      {"the rest of a long line is a line", "h" + x510 + "m1\n", "M1\n"},
      {"zero byte shown with the rest of its line", std::string("ab\0cd\nef\n", 9),
       std::string("ab\0cd\nef\n", 9)},
      {"zero byte first", std::string("\0ab\nm\0\nh\nz", 10), std::string("\0ab\nM\0\nz", 8)},
      {"flood", flood, model_shown(flood)},
  };
  for (const LinesRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(first_difference(model_shown(row.output), row.shown), "");
    for (std::size_t read_size : {1, 7, 511, 512, 4096, 1 << 20}) {
      SCOPED_TRACE(read_size);
      EXPECT_EQ(first_difference(runner_shown(row.output, read_size), row.shown), "");
    }
  }
}

}  // namespace
