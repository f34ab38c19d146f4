// Command-line options: '-' options, '+' options for the generated command file, and the
// words a pending '+' option takes.
#pragma once

// A word that begins with '-' or '+'.
void handle_option(const char* word);

// True while a '+' option waits for a word of its own, which is then only text for it,
// whatever it looks like: take_owed_word takes it.
bool plus_option_waits_for_word();
void take_owed_word(const char* word);
