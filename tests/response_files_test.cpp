#include "driver/response_files.h"

#include <map>
#include <string>
#include <vector>

#include "tests/driver_fixture.h"

namespace {

using Words = std::vector<std::string>;

TEST(ResponseFilesTest, SplitsTextIntoWords) {
  const struct {
    const char* text;
    Words words;
  } rows[] = {
      {"", {}},
      {" \t\r\n\f\v ", {}},
      {"a b\tc\r\nd\n", {"a", "b", "c", "d"}},
      {"'two words'", {"two words"}},
      {"\"two words\"", {"two words"}},
      {"a'b c'd", {"ab cd"}},
      {"'say \"hi\"'", {"say \"hi\""}},
      {"\"it's\"", {"it's"}},
      {"back\\\\slash", {"back\\slash"}},
      {"src\\main.c", {"srcmain.c"}},
      {"a\\ b", {"a b"}},
      {"\\'q\\'", {"'q'"}},
      {"\"a\\\"b\"", {"a\"b"}},
      {"'a\\'b'", {"a'b"}},
      {"line\\\nnext", {"line\nnext"}},
      {"''", {""}},
      {"x '' \"\" y", {"x", "", "", "y"}},
      {"'open quote\nto the end", {"open quote\nto the end"}},
      {"end\\", {"end"}},
      {"@nested -###", {"@nested", "-###"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(split_response_text(row.text), row.words);
  }
}

class ResponseFileExpansion : public DriverFixture {};

// "@dN" names dN, which holds "@dN+1", down to the last, which holds "end".
std::map<std::string, std::string> chain_of(int depth) {
  std::map<std::string, std::string> files;
  for (int i = 1; i < depth; ++i) files["d" + std::to_string(i)] = "@d" + std::to_string(i + 1);
  files["d" + std::to_string(depth)] = "end";
  return files;
}

TEST_F(ResponseFileExpansion, ReplacesEachResponseFileInPlace) {
  const struct {
    const char* name;
    std::map<std::string, std::string> files;
    Words words;
    Words expanded;
    std::size_t failure_at;
    std::string message;
  } rows[] = {
      {"no response file", {}, {"-c", "", "a.c"}, {"-c", "", "a.c"}, no_failure, ""},
      {"in place", {{"r", "x 'y z'"}}, {"p", "@r", "q"}, {"p", "x", "y z", "q"}, no_failure, ""},
      {"empty file", {{"r", ""}}, {"p", "@r", "q"}, {"p", "q"}, no_failure, ""},
      {"zero byte", {{"r", std::string(1, '\0')}}, {"p", "@r", "q"}, {"p", "q"}, no_failure, ""},
      {"ends at zero", {{"r", std::string("x\0y", 3)}}, {"@r"}, {"x"}, no_failure, ""},
      {"nested", {{"r", "@s z"}, {"s", "y"}}, {"@r"}, {"y", "z"}, no_failure, ""},
      {"same file twice", {{"r", "x"}}, {"@r", "@r"}, {"x", "x"}, no_failure, ""},
      {"sixteen deep", chain_of(16), {"@d1"}, {"end"}, no_failure, ""},
      {"seventeen deep",
       chain_of(17),
       {"@d1", "x"},
       {"x"},
       0,
       "Response file nested too deeply.'d17'\n"},
      {"names itself",
       {{"r", "w @r"}},
       {"@r"},
       Words(16, "w"),
       16,
       "Response file nested too deeply.'r'\n"},
      {"unreadable; later files not read",
       {{"r", "x"}},
       {"p", "@none", "q", "@r"},
       {"p", "q", "@r"},
       1,
       "Response file read error.'none'\n"},
      {"unreadable inside another",
       {{"r", "x @none y"}},
       {"@r", "q"},
       {"x", "y", "q"},
       1,
       "Response file read error.'none'\n"},
      {"a lone @", {}, {"p", "@"}, {"p"}, 1, "Response file read error.''\n"},
      {"UTF-8 mark",
       {{"r", "\xEF\xBB\xBFx \xEF\xBB\xBFy"}},
       {"@r"},
       {"x", "\xEF\xBB\xBFy"},
       no_failure,
       ""},
      {"UTF-16 mark",
       {{"r", "\xFE\xFFx"}},
       {"p", "@r"},
       {"p"},
       1,
       "Response file 'r' is saved as UTF-16; save it as ANSI or UTF-8\n"},

  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fresh_start();
    for (const auto& [name, text] : row.files) write_file(name, text);
    std::vector<const char*> pointers;
    for (const auto& word : row.words) pointers.push_back(word.c_str());
    CommandWords command =
        expand_response_files(static_cast<int>(pointers.size()), pointers.data());
    EXPECT_EQ(command.words, row.expanded);
    EXPECT_EQ(command.failure_at, row.failure_at);
    EXPECT_EQ(command.failure_message, row.message);
  }
}

}  // namespace

TEST_F(ResponseFileExpansion, StopsFilesThatMultiplyEachOther) {
  // r1 names r2 twice, r2 names r3 twice, ...: 2047 reads for eleven files.
  for (int i = 1; i < 11; ++i) {
    const std::string next = "@r" + std::to_string(i + 1);
    write_file("r" + std::to_string(i), next + " " + next);
  }
  write_file("r11", "x");
  const char* words[] = {"@r1"};
  CommandWords command = expand_response_files(1, words);
  EXPECT_EQ(command.failure_message.rfind("Too many response files.'r", 0), 0u);
  EXPECT_LT(command.words.size(), 1024u);
}
