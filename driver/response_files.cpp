#include "driver/response_files.h"

#include "record/driver_state.h"
#include "toolrun/host_text.h"

namespace {

constexpr const char* read_error = "Response file read error.'%s'\n";
constexpr const char* nesting_error = "Response file nested too deeply.'%s'\n";
constexpr const char* count_error = "Too many response files.'%s'\n";
constexpr const char* utf16_error =
    "Response file '%s' is saved as UTF-16; save it as ANSI or UTF-8\n";

// Any white space separates the words of a response file, line ends included.
bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Reads the word that begins at `at` and leaves `at` after it. A quote left open runs to
// the end of the text; a backslash at the very end is dropped.
std::string read_word(std::string_view text, std::size_t& at) {
  std::string word;
  char quote = '\0';
  for (; at < text.size() && (quote != '\0' || !is_white_space(text[at])); ++at) {
    char c = text[at];
    // A double-byte character is taken whole: its second byte may be 0x5C.
    if (std::size_t size = character_size(text.data() + at); size > 1) {
      word.append(text.substr(at, size));
      at += size - 1;
    } else if (c == '\\') {
      if (++at == text.size()) break;
      word += text[at];
    } else if (quote != '\0' && c == quote) {
      quote = '\0';
    } else if (quote == '\0' && (c == '\'' || c == '"')) {
      quote = c;
    } else {
      word += c;
    }
  }
  return word;
}

std::string refusal(const char* format, const std::string& name) {
  std::string message = format;
  message.replace(message.find("%s"), 2, name);
  return message;
}

void expand_word(const std::string& word, int depth, int& files_read, CommandWords& command) {
  if (word[0] != '@' || command.failure_at != no_failure) {
    command.words.push_back(word);
    return;
  }
  const std::string name = word.substr(1);
  std::string text;
  const char* problem = nullptr;
  if (depth > deepest_response_file) {
    problem = nesting_error;
  } else if (++files_read > most_response_files) {
    problem = count_error;
  } else if (TextFile read = read_text_file(name.c_str(), text); read != TextFile::read) {
    problem = read == TextFile::utf16 ? utf16_error : read_error;
  }
  if (problem != nullptr) {
    command.failure_at = command.words.size();
    command.failure_message = refusal(problem, name);
    return;
  }
  for (const std::string& inner : split_response_text(text)) {
    expand_word(inner, depth + 1, files_read, command);
  }
}

}  // namespace

// Response files keep their own rule (single quotes too, a backslash takes any next
// character): they are not a Windows command line, so the tools' quote rule does not apply.
// A zero byte ends the text, as a C string would.
std::vector<std::string> split_response_text(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> words;
  std::size_t at = 0;
  for (;;) {
    while (at < text.size() && is_white_space(text[at])) ++at;
    if (at == text.size()) return words;
    words.push_back(read_word(text, at));
  }
}

CommandWords expand_response_files(int word_count, const char* const* words) {
  CommandWords command;
  int files_read = 0;
  for (int i = 0; i < word_count; ++i) expand_word(words[i], 1, files_read, command);
  return command;
}
