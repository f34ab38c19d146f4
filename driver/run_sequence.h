// The run sequence: configuration, every word in order, then the link.
#pragma once

void handle_argument(const char* word);
// Whether handle_argument gives `word` to the option handler rather than to dispatch.
bool is_option_word(const char* word);

// Runs the whole driver over the words after the program name; returns the exit code.
int run_driver(int word_count, const char* const* words);
