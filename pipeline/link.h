// The link: its inputs as the chains and the words give them, the generated command file
// or the user's own, and the linker run.
#pragma once

#include <cstddef>

// An object for the link; the first one names the program unless -e did.
void add_object(const char* name);
void add_library(const char* name);

// Room for every block of the generated command file at its fullest.
constexpr std::size_t command_file_size = 8192;

// Writes the text of "__tmp__.cm" ("\n" line ends) into `text`.
void make_command_file_text(char (&text)[command_file_size]);

void link_generated();
void link_user_command_file();
