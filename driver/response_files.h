// Response files: a command-line word "@name" stands for the words written in the file
// "name", so a build script can hand over a command line longer than its host allows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

constexpr int deepest_response_file = 16;  // "@a" on the command line is depth 1
// Files that name each other several times would otherwise multiply their reads with
// every level: a command line never needs more than this many.
constexpr int most_response_files = 1024;
constexpr std::size_t no_failure = static_cast<std::size_t>(-1);

// The words of a response file's text: white space separates words; single or double
// quotes group and are removed; a backslash takes the next character literally, inside
// quotes too.
std::vector<std::string> split_response_text(std::string_view text);

struct CommandWords {
  std::vector<std::string> words;
  // The first response file that could not be used: the index in `words` where its words
  // would stand, and the message that refuses it. Response files after it are not read;
  // their words stay as they are.
  std::size_t failure_at = no_failure;
  std::string failure_message;
};

// The command line with every "@name" word replaced, in place, by the words of the file,
// which may name response files in turn.
CommandWords expand_response_files(int word_count, const char* const* words);
