#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/response_files.h"
#include "toolrun/command_words.h"

namespace {

struct WordsRow {
  const char* text;
  std::vector<std::string> words;
};

// A response file's text and a tool's argument text are split by rules of their own: the
// second as the tools' own runtime splits its command line.
TEST(WordSplitting, ResponseFilesAndToolWordsFollowTheirOwnRules) {
  const WordsRow response_file_rows[] = {
      {" \t\r\n\f\v ", {}},
      {"a b\tc\r\nd\n", {"a", "b", "c", "d"}},
      {"'two words'", {"two words"}},
      {"a'b c'd", {"ab cd"}},
      {"\"it's\"", {"it's"}},
      {"back\\\\slash", {"back\\slash"}},
      {"src\\main.c", {"srcmain.c"}},
      {"a\\ b", {"a b"}},
      {"'a\\'b'", {"a'b"}},
      {"line\\\nnext", {"line\nnext"}},
      {"x '' \"\" y", {"x", "", "", "y"}},
      {"'open quote\nto the end", {"open quote\nto the end"}},
      {"end\\", {"end"}},
  };
  const WordsRow tool_word_rows[] = {
      {"   \t ", {}},
      {"  a\t\tb  ", {"a", "b"}},
      {"\"my file.c\"", {"my file.c"}},
      {"a\"b c\"d e", {"ab cd", "e"}},
      {"a \"\" b", {"a", "", "b"}},
      {"\"a\"\" b\"", {"a\"", "b"}},
      {"a\"\"\"b c\" d", {"a\"b", "c d"}},
      {"a\"\"\"\"b c\" d", {"a\"b c", "d"}},
      {"\"", {""}},
      {"\"\"\"\"\"\"", {"\"\""}},
      {"\"a\"\"\"\" b", {"a\"", "b"}},
      {"\\\\\"\"\" x", {"\\\"", "x"}},
      {"\\\\\\\"\" x", {"\\\" x"}},
      {"\"open to the end", {"open to the end"}},
      {"dir\\\\file.c", {"dir\\\\file.c"}},
      {"a\\\"b c", {"a\"b", "c"}},
      {"\"C:\\dir\\\\\" x", {"C:\\dir\\", "x"}},
      {"\"in \\\"quotes\\\" still\"", {"in \"quotes\" still"}},
      {"tab\"\t\"inside", {"tab\tinside"}},
      {"new\nline", {"new\nline"}},
  };
  for (const WordsRow& row : response_file_rows)
    EXPECT_EQ(split_response_text(row.text), row.words) << row.text;
  for (const WordsRow& row : tool_word_rows)
    EXPECT_EQ(split_command_words(row.text), row.words) << row.text;
  // A name vexa hands a tool comes back whole, its backslashes too.
  for (const char* name : {"dir\\a.c", "C:\\Program Files\\sdk\\", "a \"q\" b\\", "t\tb", "q\"x.c",
                           "\"", "a\\\"", "\\\\\"b"})
    EXPECT_EQ(split_command_words(command_word(name).c_str()), std::vector<std::string>{name});
  // A directory's blanks at either end separate words; the rest is one word, as above.
  const WordsRow directory_rows[] = {{" C:\\x", {"C:\\x"}},
                                     {"C:\\x \t", {"C:\\x"}},
                                     {" \tC:\\a b\\ ", {"C:\\a b\\"}},
                                     {"x\"y ", {"x\"y"}},
                                     {" ", {}}};
  for (const WordsRow& row : directory_rows) {
    EXPECT_EQ(split_command_words(command_words_of_directory(row.text).c_str()), row.words)
        << row.text;
  }
}

}  // namespace
