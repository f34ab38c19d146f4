// The output filters: which lines of a tool's output the user sees.
#pragma once

char* filter_stage_output(char* line);
char* filter_compiler_output(char* line);
char* filter_linker_output(char* line);

// A line the linker filter hides as a banner.
bool is_linker_banner(const char* line);
