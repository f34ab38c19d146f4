// The configuration file, the environment and the driver's own location settle the
// include and library directories and the default libraries.
#pragma once

#include <string_view>

void load_configuration();

// Applies the line rules to every line of `text`, read from the configuration file `name`;
// a line too long for the line buffer is refused.
void read_configuration_lines(std::string_view text, const char* name);
