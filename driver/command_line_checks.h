// Refusals that need the whole command line: they are made before any word is handled, so
// that no tool runs for a command line whose link would be wrong.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Looks over the first `count` of `words` as the run will take them, and refuses (status 1)
// a '+' option still waiting for its word at the end, a link word that a user's own command
// file would leave out, and an -e output that is one of the run's input files. Returns false
// when it refused.
bool check_command_line(const std::vector<std::string>& words, std::size_t count);
