// The link: its inputs as the chains and the words give them, the generated command file
// or the user's own, and the linker run.
#pragma once

// An object for the link; the first one names the program unless -e did.
void add_object(const char* name);
void add_library(const char* name);

void link_generated();
void link_user_command_file();
