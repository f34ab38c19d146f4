// Opening the files the driver itself writes, and telling files apart. One implementation
// per platform; the build picks it.
#pragma once

#include <cstdio>
#include <string>

// Opens `name` for writing with `mode` ("w" or "wb"), created or truncated, and never
// through a symbolic link (or other reparse point) already at that name: a name that is
// one is refused and left as it is. Returns nullptr when the file cannot be opened.
std::FILE* create_output_file(const char* name, const char* mode);

// Puts the file `temporary` in the place of `name`, replacing a file already there in one
// step, so that a reader finds the old file or the new one and never a part of either.
// Returns false when it cannot; both are then left as they were.
bool replace_output_file(const char* temporary, const char* name);

// This process's id: no other process running at the same time has it, so a temporary
// name that carries it is this run's own.
unsigned long process_id();

// Sets `identity` to a text that is the same for every name of the file `name` (through
// "..", a link, another drive letter) and differs for every other file; false when there
// is no such file. Windows reads the name in the active code page, as every file call does.
bool file_identity(const char* name, std::string& identity);

// A file for bytes that must wait, deleted when it is closed and whenever the driver ends,
// however it ends. nullptr when none can be made.
std::FILE* create_scratch_file();
