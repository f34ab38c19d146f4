// Sorts an input word by its extension: sources go through their chain at once; objects,
// libraries and a command file are recorded for the link.
#pragma once

void dispatch_input(const char* name);
