#include "toolrun/command_words.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "toolrun/host_text.h"

namespace {

// On a command line only blanks and tabs separate words.
bool separates_words(char c) {
  return c == ' ' || c == '\t';
}

// Appends the run of backslashes at `text` to `word` and returns the position after what
// it consumed: before a quote, half of them (rounded down), and an odd one makes the
// quote literal; elsewhere all of them.
const char* take_backslashes(const char* text, std::string& word) {
  std::size_t count = std::strspn(text, "\\");
  const char* after = text + count;
  if (*after != '"') {
    word.append(count, '\\');
    return after;
  }
  word.append(count / 2, '\\');
  if (count % 2 == 0) return after;  // the quote groups: left for the caller
  word += '"';
  return after + 1;
}

}  // namespace

std::vector<std::string> split_command_words(const char* text) {
  std::vector<std::string> words;
  for (;;) {
    while (separates_words(*text)) ++text;
    if (*text == '\0') return words;
    std::string word;
    bool quoted = false;
    while (*text != '\0' && (quoted || !separates_words(*text))) {
      // A double-byte character is taken whole: its second byte may be 0x5C.
      if (std::size_t size = character_size(text); size > 1) {
        word.append(text, size);
        text += size;
      } else if (*text == '\\') {
        text = take_backslashes(text, word);
      } else if (*text == '"') {
        // The msvcrt.dll rule, which MinGW tools link against: inside a quoted run two
        // quotes in a row give one literal quote and end the run. The 2008 and later
        // runtimes keep the run open after the doubled quote, so `"a""b c"` is one word
        // there and two here; a `\"` gives a literal quote under both.
        if (quoted && text[1] == '"') {
          word += '"';
          ++text;
        }
        quoted = !quoted;
        ++text;
      } else {
        word += *text++;
      }
    }
    words.push_back(std::move(word));
  }
}

std::string command_word(const char* name) {
  if (std::strpbrk(name, " \t\"") == nullptr) return name;
  std::string word = "\"";
  std::size_t backslashes = 0;  // the run just copied
  for (const char* at = name; *at != '\0';) {
    std::size_t size = character_size(at);
    if (size == 1 && *at == '"') word.append(backslashes + 1, '\\');
    backslashes = size == 1 && *at == '\\' ? backslashes + 1 : 0;
    word.append(at, size);
    at += size;
  }
  word.append(backslashes, '\\');
  return word + '"';
}

std::string command_words_of_directory(const char* directory) {
  const std::string_view text = directory;
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return directory;
  const std::size_t end = text.find_last_not_of(" \t") + 1;
  const std::string inside(text.substr(start, end - start));
  return std::string(text.substr(0, start)) + command_word(inside.c_str()) +
         std::string(text.substr(end));
}
