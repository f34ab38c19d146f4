// The platform layer: the few facts that differ between the hosts the driver is built for,
// and the executable's own path. The build picks the host; code elsewhere uses these names
// and never tests the platform itself. The host's character size is a text rule beneath the
// layer (toolrun/host_text.h).
#pragma once

#include <cstddef>

#ifdef _WIN32
constexpr char directory_separator = '\\';
constexpr bool exit_code_has_32_bits = true;
#else
constexpr char directory_separator = '/';
// A POSIX parent sees only the low 8 bits of an exit code.
constexpr bool exit_code_has_32_bits = false;
#endif

// The longest argument text a tool can be started with, its terminating zero included: what
// one process's command line holds on Windows, what exec takes on POSIX.
std::size_t command_line_limit();

// Writes the full path of the running executable into `buffer`, zero-terminated, and
// returns its length; 0 when the path cannot be had or does not fit.
std::size_t module_file_name(char* buffer, std::size_t size);

// Keeps the word the program was started by (argv[0]), from which a host that cannot tell
// its executable's path finds it as a shell did: through PATH or from the current folder.
// Called once, at the start; Windows has no need of it.
void remember_program_word(const char* word);
