// Splits an argument text into words the way the tools' own C runtime does on their home
// platform, so a tool gets the same words on every host.
#pragma once

#include <string>
#include <vector>

// The one splitter for text read as a Windows command line, by the msvcrt.dll rule: blanks
// and tabs separate words outside a quoted run; a double quote opens a run (the word exists
// even if empty), and inside one a lone double quote ends it while two in a row give one
// literal quote and end it; 2n backslashes before a quote give n backslashes and the quote acts so,
// 2n+1 give n backslashes and a literal quote; other backslashes are literal; a run left
// open ends with the text.
std::vector<std::string> split_command_words(const char* text);

// `name` as one word of an argument text: as it is unless it holds a blank, a tab or a double
// quote, then in double quotes, the backslashes before a quote (the closing one, or one of its
// own) doubled and its own quotes escaped, so that the splitter above, and a tool's runtime,
// give back exactly `name`.
std::string command_word(const char* name);

// `directory` as command_word() gives it, but the blanks and tabs at either end left outside
// the quotes, where they separate words as they always have: ' C:\x' gives ' C:\x', so that
// "-I C:\x" reaches the compiler as "-I" and "C:\x"; ' C:\a b' gives ' "C:\a b"'.
std::string command_words_of_directory(const char* directory);
