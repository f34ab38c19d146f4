#include "pipeline/delete_file.h"

#include <cstdio>
#include <filesystem>

#include "driver/console.h"
#include "driver/driver_state.h"

void delete_file(const char* name) {
  if (state.dry_run) return;
  // remove() would take an empty directory too; one named like an intermediate is the user's.
  std::error_code error;
  if (std::filesystem::is_directory(name, error)) return;
  if (state.verbose) print_out("Delete '%s'\n", name);
  std::remove(name);
}
