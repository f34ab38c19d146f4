// The run sequence: configuration, every word in order, then the link.
#pragma once

void handle_argument(const char* word);
// Whether handle_argument gives `word` to the option handler rather than to dispatch.
bool is_option_word(const char* word);

// Runs the whole driver over the words after the program name; returns the exit code.
int run_driver(int word_count, const char* const* words);

// The exit code for `status` on this host: whole where the host passes 32 bits, else
// `status` when it fits in 0..255 and 255 for any other non-zero value.
int exit_code_from_status(int status);
