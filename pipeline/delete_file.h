// Deletes an intermediate file or a failed step's output, unless this is a dry run.
#pragma once

void delete_file(const char* name);
