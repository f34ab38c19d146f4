// What a --jobs worker is handed by the driver that starts it: the state the serial run has
// at its chain's word, and that word. The worker reads nothing else of the run: no response
// file, no configuration, no environment setting of vexa's, so that it builds exactly what
// the serial run builds, whatever changed since the plan was made.
#pragma once

#include <string>
#include <string_view>

#include "record/driver_state.h"

// Set by the driver in its workers' environment only: it names the pipe the state comes on.
constexpr char worker_state_variable[] = "VEXA_WORKER_STATE";

// The bytes handed to a worker: the state's fields, the launcher's text and the word.
std::string pack_worker_state(const DriverState& before, const char* word);

// Sets `state` and `word` from what pack_worker_state made, the launcher pointing into
// `launcher`; false when `bytes` are not such a thing.
bool unpack_worker_state(std::string_view bytes, DriverState& state, std::string& launcher,
                         std::string& word);
