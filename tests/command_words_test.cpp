#include "toolrun/command_words.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct WordsRow {
  const char* text;
  std::vector<std::string> words;
};

TEST(CommandWordsTest, SplitsAsTheToolsOwnRuntimeDoes) {
  const WordsRow rows[] = {
      {"", {}},
      {"   \t ", {}},
      {"-S -x c main.$", {"-S", "-x", "c", "main.$"}},
      {"  a\t\tb  ", {"a", "b"}},
      {"my file.c", {"my", "file.c"}},
      {"\"my file.c\"", {"my file.c"}},
      {"a\"b c\"d e", {"ab cd", "e"}},
      {"\"\"", {""}},
      {"a \"\" b", {"a", "", "b"}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"a\"\" b\"", {"a\"", "b"}},
      {"a\"\"\"b c\" d", {"a\"b", "c d"}},
      {"a\"\"\"\"b c\" d", {"a\"b c", "d"}},
      {"\"a\"\"b c\" d", {"a\"b", "c d"}},
      {"\"", {""}},
      {"\"\"\"", {"\""}},
      {"\"\"\"\"", {"\""}},
      {"\"\"\"\"\"\"", {"\"\""}},
      {"\"a\"\"", {"a\""}},
      {"\"a\"\"\"", {"a\""}},
      {"\"a\"\"\"\" b", {"a\"", "b"}},
      {"\\\\\"\"", {"\\"}},
      {"\\\\\"\"\" x", {"\\\"", "x"}},
      {"\\\\\\\"\" x", {"\\\" x"}},
      {"\"a\\\\\"\" b\"", {"a\\\"", "b"}},
      {"\"a\\\\\\\"\"b c\"", {"a\\\"b", "c"}},
      {"\"a \\\"\\\" b\"", {"a \"\" b"}},
      {"\"open to the end", {"open to the end"}},
      {"dir\\file.c", {"dir\\file.c"}},
      {"dir\\\\file.c", {"dir\\\\file.c"}},
      {"end\\", {"end\\"}},
      {"end\\\\ x", {"end\\\\", "x"}},
      {"\\\"", {"\""}},
      {"a\\\"b c", {"a\"b", "c"}},
      {"\\\\\"a b\"", {"\\a b"}},
      {"\\\\\\\"a b", {"\\\"a", "b"}},
      {"\\\\\\\\\"a b\"", {"\\\\a b"}},
      {"\"C:\\dir\\\\\" x", {"C:\\dir\\", "x"}},
      {"\"in \\\"quotes\\\" still\"", {"in \"quotes\" still"}},
      {"tab\"\t\"inside", {"tab\tinside"}},
      {"new\nline", {"new\nline"}},
  };
  for (const WordsRow& row : rows) {
    SCOPED_TRACE(std::string("text: ") + row.text);
    EXPECT_EQ(split_command_words(row.text), row.words);
  }
}

}  // namespace
