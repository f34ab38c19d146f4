// Refusals that need the whole command line: questions asked of the run's plan before any
// word is handled, so that no tool runs for a command line whose build would be wrong.
#pragma once

#include "driver/run_plan.h"

// Refuses (status 1) a '+' option still waiting for its word at the end; a link word that a
// user's own command file would leave out, or an input beside such a file; a program name
// that is one of the inputs or the generated command file; a bare -I or -D; a name holding
// a line break; an input that a chain would write or delete. Returns false when it refused.
bool check_command_line(const RunPlan& plan);

// Refusals that -o, read just before the plan's walk, gives in the same words.
inline constexpr char output_is_input[] = "Output file '%s' is one of the input files\n";
inline constexpr char option_beside_command_file[] =
    "Option '%s' cannot be linked together with a command file\n";
