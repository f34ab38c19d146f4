// The few facts that differ between the hosts the driver is built for. The build picks
// the host; code elsewhere uses these names and never tests the platform itself.
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

// The number of bytes of the character that begins at `text`. On Windows a double-byte
// character of the active code page (code page 932, say) is two, and its second byte may be
// 0x5C, the backslash: whoever looks for a separator, blank or quote in a name steps over
// whole characters. POSIX names are bytes.
#ifdef _WIN32
std::size_t character_size(const char* text);
#else
constexpr std::size_t character_size(const char*) {
  return 1;
}
#endif

// Writes the full path of the running executable into `buffer`, zero-terminated, and
// returns its length; 0 when the path cannot be had or does not fit.
std::size_t module_file_name(char* buffer, std::size_t size);
