// The plan of a run: every word walked once, before anything runs, through the handlers
// that will run it, as a dry run that shows nothing. The checks of the command line as a
// whole, -###, --help and --version, --jobs and the --jobs scheduler's chains all ask the
// plan; no other part reads the words to find out what they are.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "driver/response_files.h"
#include "record/driver_state.h"

constexpr std::size_t no_word = static_cast<std::size_t>(-1);

// What a word is to the run: an option, an input, or text owed to a '+' option, which is
// never read as an option, whatever it looks like.
enum class WordRole : std::uint8_t { option, input, owed };

enum class Answer : std::uint8_t { none, help, version };

struct PlannedChain {
  std::size_t word;
  DriverState before;  // the state the serial run has when it reaches the word
  // The files the chain writes or deletes, named as its stages name them.
  std::vector<std::string> files;
};

struct RunPlan {
  const CommandWords* command = nullptr;
  // The role of each word before the first response file that could not be used.
  std::vector<WordRole> roles;
  // --help or --version, whichever option word comes first, wherever it stands.
  Answer answer = Answer::none;
  bool dry_run = false;  // -### anywhere
  int jobs = 1;          // what the last --jobs option asks for (see jobs_named_by)
  // The first word refused, by its handler or as a response file that could not be used;
  // `in_chain` when its chain's walk refused, which its run shows.
  std::size_t refused_at = no_word;
  bool refused_in_chain = false;
  // The state before the refused word, or after the last word when none is refused.
  DriverState at_stop;
  std::size_t pending_plus_option = no_word;  // a '+' option still owed a word at the end
  std::size_t program_word = no_word;         // the last word owed to +o
  std::vector<PlannedChain> chains;           // those before the refused word
};

// Walks `command`'s words from the current state, which it leaves as it was.
RunPlan plan_run(const CommandWords& command);
