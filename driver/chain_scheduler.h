// --jobs: the source chains of one command line run side by side, each in a copy of the
// driver (a worker) that carries its one source exactly as the serial run does. The
// scheduler starts the workers, shows what they print in the order of the source words and
// leaves DriverState as the serial run leaves it before the link.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "driver/response_files.h"

// Set in a worker's environment only: "<the driver's process id>:<index of the word whose
// chain it runs>". A copy of the variable that some other process left in the environment
// does not make a worker, since that process is not the one that started the driver.
constexpr char chain_word_variable[] = "VEXA_CHAIN_WORD";

// The word whose chain this process runs as a worker, or -1 when it is no worker. Removes
// the variable, so that the tools do not see it.
long chain_word_of_worker();

// How many chains may run at once: the last --jobs word decides, wherever it stands; 1
// without one.
int jobs_asked(const std::vector<std::string>& words);

// Handles the words as the serial run does, with up to `jobs` chains at once; `program_words`
// is this run's own command line, the program's full path first. Returns false, having
// changed nothing, where running chains side by side would gain nothing (fewer than two
// chains) or is not allowed (a jobserver that cannot be used).
bool handle_words_in_parallel(const CommandWords& command, int jobs,
                              const char* const* program_words);

// The worker's run: the words before `chain_word` for their effects on DriverState alone,
// then that word's chain. Returns the status.
int run_chain_of_word(const CommandWords& command, std::size_t chain_word);
