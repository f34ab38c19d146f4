// The files the driver itself writes and deletes: intermediates, a failed step's output,
// the command file, dependency files and the compilation database. They run only
// where pipeline/effects.h lets an effect happen, which also deletes.
#pragma once

#include <string>
#include <string_view>

// Writes `text` as the whole of the file `name` (created or truncated, never through a
// symbolic link), in `mode` ("w" or "wb"), and closes it: the file is whole or not there.
// False when it cannot be opened (whatever stands at the name is left as it was), written,
// flushed or closed (what was written is removed, or kept for inspection under -b when
// `failed_step_output` says that it is a step's output); errno then tells why.
bool write_whole_file(const char* name, const char* mode, std::string_view text,
                      bool failed_step_output = false);

// A name beside `name` for a file to be renamed into its place once whole. It carries this
// process's id, so runs side by side under make -j never share one.
std::string temporary_name_for(const std::string& name);

// Shows `message` (a format naming `name`, without a line end) followed by the system's
// reason `error` (an errno value), and fails the run.
void refuse_with_reason(const char* message, const char* name, int error);
