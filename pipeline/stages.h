// The stage runners, and the chains that carry a source through them to an object.
#pragma once

// Carries one source through the chain of its type: ".c", ".s", ".ps" or ".ms".
void run_source_chain(const char* name, const char* type);
