// Command-line options: '-' options, '+' options for the generated command file, and the
// words a pending '+' option takes.
#pragma once

void handle_option(const char* word);

// True while a '+' option waits for a word of its own, which is then only text for it.
bool plus_option_waits_for_word();
