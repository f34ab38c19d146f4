// --jobs: the source chains of one command line run side by side in copies of the driver
// (workers), each of which carries one source after another exactly as the serial run does,
// from the state the plan has at its word. The scheduler starts the workers, shows what they
// print in the order of the source words and leaves DriverState as the serial run leaves it
// before the link.
#pragma once

#include "driver/run_plan.h"
#include "toolrun/platform_process.h"

// Handles the planned words as the serial run does, with up to `jobs` of the plan's chains
// at once; `program_words` is this run's own command line, the program's full path first.
// Returns false, having changed nothing, where a jobserver cannot be used.
bool handle_words_in_parallel(const RunPlan& plan, int jobs, const char* const* program_words);

// The worker's run: the chains the driver hands it over `channel`, one after another, each
// from the state it was handed with its word (see driver/worker_state.h), each reported when
// it ends. Returns the exit status.
int run_worker(WorkerChannel& channel);
