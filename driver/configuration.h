// The configuration file, the environment and the driver's own location settle the
// include and library directories and the default libraries.
#pragma once

#include <cstdio>

void load_configuration();

// Applies the line rules to every line of an open configuration file.
void read_configuration_lines(std::FILE* file);
