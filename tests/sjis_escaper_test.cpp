#include "pipeline/sjis_escaper.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/byte_models.h"

namespace {

struct EscapeRow {
  const char* name;
  std::string input;
  std::string expected;
};

TEST(SjisEscaper, EscapesEveryByteCase) {
  // 0x5C is written "\\".
  const EscapeRow rows[] = {
      {"empty input", "", ""},
      {"0x80 is a single byte", "\x80\\", "\x80\\"},
      {"0x81 is a lead byte", "\x81\\", "\x81\\\\"},
      {"0x9F is a lead byte", "\x9F\\", "\x9F\\\\"},
      {"0xA0 is a single byte", "\xA0\\", "\xA0\\"},
      {"0xDF is a single byte", "\xDF\\", "\xDF\\"},
      {"0xE0 is a lead byte", "\xE0\\", "\xE0\\\\"},
      {"0xFC is a lead byte", "\xFC\\", "\xFC\\\\"},
      {"0xFD is a single byte", "\xFD\\", "\xFD\\"},
      {"trail in the lead range", "\x81\x81\\", "\x81\x81\\"},
      {"LF as trail byte", "\x81\n\\", "\x81\n\\"},
      {"NUL as trail byte", std::string("\x81\0\\", 3), std::string("\x81\0\\", 3)},
      {"lead bytes pair off", "\x95\x95\x95\\", "\x95\x95\x95\\\\"},
      {"doubled before LF", "\x95\\\n", "\x95\\\\ \n"},
      {"doubled before CR LF", "\x95\\\r\n\n", "\x95\\\\ \r\n\n"},
      {"plain backslash after doubled", "\x95\\\\\n", "\x95\\\\\\\n"},
      {"lead after doubled takes LF as trail", "\x95\\\x81\n", "\x95\\\\\x81\n"},
      {"end after a lead byte", "A\x95", "A\x95"},
      {"lead inside a word", "abc\x95\\defgh", "abc\x95\\\\defgh"},
  };
  for (const EscapeRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(stream_escaped(row.input), row.expected);
    EXPECT_EQ(model_escape(row.input), row.expected);
  }
}

void expect_as_model(const std::string& input) {
  EXPECT_EQ(first_difference(stream_escaped(input), model_escape(input)), "");
}

// Each pattern is placed so that a chunk or block bound falls after each of its bytes in
// turn: the state the copy carries over must be the byte-at-a-time one.
TEST(SjisEscaper, CarriesCharactersAcrossChunksAndBlocks) {
  const std::string patterns[] = {"\x95\\\nA", "\x95\\\r\n", "\x95\\\x95\\", "\x81\x81\x81\\\\"};
  for (std::size_t bound : {std::size_t{64}, std::size_t{128}, escaper_block}) {
    for (const std::string& pattern : patterns) {
      for (std::size_t before = 1; before <= pattern.size(); ++before) {
        SCOPED_TRACE(testing::Message() << bound << ", " << pattern.size() << ", " << before);
        expect_as_model(std::string(bound - before, 'a') + pattern + std::string(70, 'z'));
      }
    }
  }
  // A block that begins with the trail byte of the last one's lead can end on a lead too.
  expect_as_model(std::string(escaper_block - 1, 'a') + "\x81Z" +
                  std::string(escaper_block - 2, 'a') + "\x81\\\n");
}

}  // namespace
