#include "pipeline/dispatch.h"

#include <cstring>

#include "driver/driver_state.h"
#include "pipeline/link.h"
#include "pipeline/stages.h"

namespace {

const char* const source_types[] = {".c", ".s", ".ps", ".ms"};

bool is_source_type(const char* extension) {
  for (const char* type : source_types) {
    if (std::strcmp(extension, type) == 0) return true;
  }
  return false;
}

// A user's command file names every object of the link itself, so objects given beside
// it could not reach the linker: refuse the mix rather than drop or garble them.
bool refuse_beside_command_file(const char* name) {
  if (state.make_command_file) return false;
  refuse("File '%s' cannot be linked together with a command file\n", name);
  return true;
}

void add_command_file(const char* name) {
  if (!state.make_command_file) {
    refuse("Command file '%s' follows another command file\n", name);
  } else if (state.file_count > 0) {
    refuse("Command file '%s' cannot be linked together with object files\n", name);
  } else {
    ++state.file_count;
    state.make_command_file = 0;
    copy_text(state.object_list, name);
  }
}

}  // namespace

bool starts_source_chain(const char* name) {
  return std::strlen(name) <= longest_name && is_source_type(name + find_extension(name)) &&
         state.make_command_file;
}

void dispatch_input(const char* name) {
  if (std::strlen(name) > longest_name) {
    refuse_too_long(name);
    return;
  }
  const char* extension = name + find_extension(name);
  if (is_source_type(extension)) {
    if (!refuse_beside_command_file(name)) run_source_chain(name, extension);
  } else if (std::strcmp(extension, ".o") == 0) {
    if (!refuse_beside_command_file(name)) add_object(name);
  } else if (std::strcmp(extension, ".lib") == 0) {
    add_library(name);
  } else if (std::strcmp(extension, ".cm") == 0) {
    add_command_file(name);
  } else {
    refuse_on_stdout("Unkown File %s\n", name);
  }
}
