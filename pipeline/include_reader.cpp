#include "pipeline/include_reader.h"

#include <cstdio>
#include <cstring>

namespace {

// A name longer than this is no file on any host.
constexpr std::size_t longest_name = 4096;

bool is_blank(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool is_word_character(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

bool IncludeReader::open(const std::string& name, std::uint64_t position, unsigned long lines) {
  file.close();
  file.clear();
  file.rdbuf()->pubsetbuf(nullptr, 0);  // `block` is the one buffer
  file.open(name, std::ios::binary);
  if (!file.is_open()) return false;
  const auto start = static_cast<std::streamoff>(position);
  if (start != 0 && file.rdbuf()->pubseekpos(start, std::ios::in) != std::streampos(start)) {
    return false;
  }
  at = end = 0;
  block_start = position;
  line_number = lines;
  return true;
}

// The byte `ahead` bytes on from the reading point; EOF past the end of the file.
int IncludeReader::byte(std::size_t ahead) {
  if (at + ahead >= end) {
    std::memmove(block, block + at, end - at);
    block_start += at;
    end -= at;
    at = 0;
    const std::streamsize count = file.rdbuf()->sgetn(block + end, sizeof block - end);
    if (count > 0) end += static_cast<std::size_t>(count);
  }
  return at + ahead < end ? static_cast<unsigned char>(block[at + ahead]) : EOF;
}

// The length of a backslash ending a line at the reading point ("\\\n" or "\\\r\n"), 0
// where there is none.
std::size_t IncludeReader::splice_length() {
  if (byte(0) != '\\') return 0;
  if (byte(1) == '\n') return 2;
  return byte(1) == '\r' && byte(2) == '\n' ? 3 : 0;
}

// The first byte of the next character, backslashes ending a line stepped over: they join
// the next line to this one before anything else is read.
int IncludeReader::peek() {
  for (std::size_t length; (length = splice_length()) != 0;) {
    at += length;
    ++line_number;
  }
  return byte(0);
}

// The compiler reads a C source through its Shift_JIS copy, where the second byte 0x5C of a
// double-byte character is doubled and joins no lines; such a character is taken whole here,
// on every host and in headers too. Taking one whole where the compiler would not only ever
// keeps a line apart, which can list a header too many but never lose one. No second byte is
// a quote, '>', '*', '/' or a line end, so a name or a comment always ends where it does.
std::size_t IncludeReader::character_length() {
  const int first = byte(0);
  if (!((first >= 0x81 && first <= 0x9F) || (first >= 0xE0 && first <= 0xFC))) return 1;
  const int second = byte(1);
  return second >= 0x40 && second <= 0xFC && second != 0x7F ? 2 : 1;
}

void IncludeReader::step() {
  if (byte(0) == '\n') ++line_number;
  at += character_length();
}

// Blanks and /* */ comments, as the preprocessor steps over them. A comment left open at the
// end of the line ends what this line can hold.
void IncludeReader::skip_blanks_and_comments() {
  for (int c = peek();; c = peek()) {
    if (is_blank(c)) {
      step();
      continue;
    }
    if (c != '/' || byte(1) != '*') return;
    at += 2;
    for (c = peek(); !(c == '*' && byte(1) == '/'); c = peek()) {
      if (c == EOF || c == '\n') return;
      step();
    }
    at += 2;
  }
}

void IncludeReader::skip_line() {
  for (int c = peek(); c != EOF; c = peek()) {
    step();
    if (c == '\n') return;
  }
}

// A directive's name: letters, digits and '_', up to a length no directive reaches.
std::string IncludeReader::word() {
  std::string text;
  for (int c = peek(); is_word_character(c) && text.size() <= 16; c = peek()) {
    text += static_cast<char>(c);
    step();
  }
  return text;
}

// One line's #include, its kind '\0' when the line holds none, or one the compiler will
// refuse anyway.
Include IncludeReader::directive() {
  Include include{.kind = '\0', .name = {}, .line_number = line_number + 1};
  skip_blanks_and_comments();
  if (peek() != '#') return include;
  step();
  skip_blanks_and_comments();
  const std::string name = word();
  if (name != "include" && name != "include_next") return include;
  skip_blanks_and_comments();
  const int open = peek();
  if (open != '"' && open != '<') {
    const bool line_ends = open == EOF || open == '\n' || (open == '/' && byte(1) == '/');
    if (!line_ends) include.kind = 'm';
    return include;
  }
  step();
  std::string text;
  for (int c = peek(); c != (open == '<' ? '>' : '"'); c = peek()) {
    if (c == EOF || c == '\n' || text.size() > longest_name) return include;
    const std::size_t size = character_length();
    text.append(block + at, size);
    at += size;
  }
  if (text.empty()) return include;
  include.kind = static_cast<char>(open);
  include.name = std::move(text);
  return include;
}

Include IncludeReader::next() {
  while (peek() != EOF) {
    Include include = directive();
    skip_line();
    if (include.kind != '\0') return include;
  }
  return {};
}
