// Command-line options: '-' options, '+' options for the generated command file, and the
// words a pending '+' option takes.
#pragma once

#include <cstdint>

// A word that begins with '-' or '+'.
void handle_option(const char* word);

// True while a '+' option, or "-o", waits for a word of its own, which is then only text
// for it, whatever it looks like: take_owed_word takes it.
bool plus_option_waits_for_word();
void take_owed_word(const char* word);

// What the word after `word` is owed to when `word` comes while `plus_state` is pending (0:
// nothing is owed, and `word` is taken by its first character). Changes nothing, so the
// whole command line can be looked over before any word is handled.
std::uint8_t plus_state_after(std::uint8_t plus_state, const char* word);

// True when `plus_state` owes the next word to "-o": it names the output file.
bool owed_to_output_option(std::uint8_t plus_state);

// Refuses (status 1) the option that `plus_state`, as the command line ends, still owes its
// value: "-o", "-MF", "-MT" or "-MQ" as the last word. False when nothing is owed to one.
bool refuse_missing_value(std::uint8_t plus_state);

// "--jobs" alone: as many chains at once as there are processors.
constexpr int one_per_processor = -1;

// The chains at once a --jobs word asks for: 1 to most_jobs from "--jobs=N",
// one_per_processor from "--jobs"; 0 for any other word, a bad N included.
int jobs_named_by(const char* word);
