// Dependency files for make: the headers an object was built from, found by reading the
// #include lines of its source and of each header in turn, never by asking the compiler.
#pragma once

// Writes the dependency file of `object`, made from `source` (named as given): where -MF
// names it, else beside the object with ".d"; its targets are those of -MT and -MQ, else the
// object; through a temporary name, so that a run never leaves half of one. Under
// -### it only shows where the file would go.
void write_dependency_file(const char* source, const char* object);
