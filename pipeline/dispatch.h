// Sorts an input word by its extension: sources go through their chain at once; objects,
// libraries and a command file are recorded for the link.
#pragma once

void dispatch_input(const char* name);

// Whether dispatch_input would carry `name` through a source chain now.
bool starts_source_chain(const char* name);
