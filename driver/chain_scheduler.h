// --jobs: the source chains of one command line run side by side, each in a copy of the
// driver (a worker) that carries its one source exactly as the serial run does. The
// scheduler starts the workers, shows what they print in the order of the source words and
// leaves DriverState as the serial run leaves it before the link.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "driver/response_files.h"
#include "driver/run_plan.h"

// Set in a worker's environment only: "<the driver's process id>:<index of the word whose
// chain it runs>". A copy of the variable that some other process left in the environment
// does not make a worker, since that process is not the one that started the driver.
constexpr char chain_word_variable[] = "VEXA_CHAIN_WORD";

// The word whose chain this process runs as a worker, or -1 when it is no worker. Removes
// the variable, so that the tools do not see it.
long chain_word_of_worker();

// Handles the planned words as the serial run does, with up to `jobs` of the plan's chains
// at once; `program_words` is this run's own command line, the program's full path first.
// Returns false, having changed nothing, where a jobserver cannot be used.
bool handle_words_in_parallel(const RunPlan& plan, int jobs, const char* const* program_words);

// The worker's run: the words before `chain_word` for their effects on DriverState alone,
// then that word's chain. Returns the status.
int run_chain_of_word(const CommandWords& command, std::size_t chain_word);
