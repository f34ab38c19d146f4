// The stage runners, and the chains that carry a source through them to an object.
#pragma once

void run_compiler(const char* input, const char* output, int delete_input);
void run_asm_preprocessor(const char* input, const char* output, int delete_input);
void run_extender(const char* input, const char* output, int delete_input);
void run_assembler(const char* input, const char* output, int delete_input);

// Carries one source through the chain of its type: ".c", ".s", ".ps" or ".ms".
void run_source_chain(const char* name, const char* type);

void delete_file(const char* name);
