// The #include lines of one C or assembler source, read as the preprocessor reads them (a
// backslash ending a line joins the next, comments count as blanks), a block at a time, so
// that reading holds a few KiB whatever the file's size.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

// What an #include line names: kind '"' or '<' and the name; 'm' for a macro; '\0' at the end
// of the file. "#include_next" counts as "#include".
struct Include {
  char kind = '\0';
  std::string name;
  unsigned long line_number = 0;  // of the line the directive begins on
};

class IncludeReader {
 public:
  // Reads `name` from `position`, the line `line_number` being the last one read before it.
  // False when it cannot be read.
  bool open(const std::string& name, std::uint64_t position, unsigned long line_number);

  // The next #include, lines that hold none stepped over.
  Include next();

  // Where the next line begins, and the lines read so far: open() goes on from there.
  std::uint64_t position() const { return block_start + at; }
  unsigned long lines_read() const { return line_number; }

 private:
  int byte(std::size_t ahead);
  std::size_t splice_length();
  int peek();
  std::size_t character_length();
  void step();
  void skip_blanks_and_comments();
  void skip_line();
  std::string word();
  Include directive();

  std::ifstream file;
  char block[16384];
  std::size_t at = 0, end = 0;    // the unread bytes of `block`
  std::uint64_t block_start = 0;  // the file's offset of block[0]
  unsigned long line_number = 0;
};
