// Sorts an input word by its extension: sources go through their chain at once; objects,
// libraries and a command file are recorded for the link.
#pragma once

enum class InputKind { source, object, library, command_file, unknown };

// What an input word is, by its extension (the letter case counts).
InputKind input_kind(const char* name);

// A command file beside other inputs is refused before any word is handled
// (driver/command_line_checks.h), so none comes here.
void dispatch_input(const char* name);

// Whether dispatch_input would carry `name` through a source chain now.
bool starts_source_chain(const char* name);
