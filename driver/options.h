// Command-line options: '-' options, '+' options for the generated command file, and the
// words a pending '+' option takes.
#pragma once

void handle_option(const char* word);
int find_plus_option_class(const char* name);
void append_command_file_option(unsigned flags, const char* text);
