// Command-line options: '-' options, '+' options for the generated command file, and the
// words a pending '+' option takes.
#pragma once

void handle_option(const char* word);

// True while a '+' option waits for a word of its own, which is then only text for it.
bool plus_option_waits_for_word();

// "--jobs" alone: as many chains at once as there are processors.
constexpr int one_per_processor = -1;

// The chains at once a --jobs word asks for: 1 to most_jobs from "--jobs=N",
// one_per_processor from "--jobs"; 0 for any other word, a bad N included.
int jobs_named_by(const char* word);
