// The compilation database of -MJ: for each C source compiled, the compiler's words, in the
// JSON file that editors and other C tools read (compile_commands.json).
#pragma once

// Records the compile of `source` (named as given) that has just succeeded with
// `argument_text`, whose first words are those of `options_text` and whose rest is the file
// compiled, its chain ending in `output`: the entry for the same file in the same folder is
// replaced, all others are kept as written. Under -### it only shows which database would be
// updated.
void add_compile_command(const char* source, const char* output, const char* argument_text,
                         const char* options_text);
