// Splits an argument text into words the way the tools' own C runtime does on their home
// platform, so a tool gets the same words on every host.
#pragma once

#include <string>
#include <vector>

// Blanks and tabs separate words; double quotes group and are removed; 2n backslashes
// before a quote give n backslashes and the quote groups, 2n+1 give n backslashes and a
// literal quote; other backslashes are literal.
std::vector<std::string> split_command_words(const char* text);
