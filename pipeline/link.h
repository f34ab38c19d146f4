// The link: its inputs as the chains and the words give them, the generated command file
// or the user's own, and the linker run.
#pragma once

// The command file vexa writes for the linker, in the current folder.
constexpr char generated_command_file[] = "__tmp__.cm";

// The program the link makes: the last +o word, else the -e name or the first object's.
const char* program_name();

// An object for the link; the first one names the program unless -e did.
void add_object(const char* name);
void add_library(const char* name);

void link_generated();
void link_user_command_file();
