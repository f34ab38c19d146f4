// Opening the files the driver itself writes. One implementation per platform; the build
// picks it.
#pragma once

#include <cstdio>

// Opens `name` for writing with `mode` ("w" or "wb"), created or truncated, and never
// through a symbolic link (or other reparse point) already at that name: a name that is
// one is refused and left as it is. Returns nullptr when the file cannot be opened.
std::FILE* create_output_file(const char* name, const char* mode);
