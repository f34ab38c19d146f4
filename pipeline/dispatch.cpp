#include "pipeline/dispatch.h"

#include <cstring>

#include "pipeline/link.h"
#include "pipeline/stages.h"
#include "record/driver_state.h"

namespace {

struct KindOfExtension {
  const char* extension;
  InputKind kind;
};

constexpr KindOfExtension input_kinds[] = {
    {".c", InputKind::source},        {".s", InputKind::source}, {".ps", InputKind::source},
    {".ms", InputKind::source},       {".o", InputKind::object}, {".lib", InputKind::library},
    {".cm", InputKind::command_file},
};

// A user's command file names every object of the link itself: it takes the object list's
// place.
void add_command_file(const char* name) {
  ++state.file_count;
  state.make_command_file = 0;
  copy_text(state.object_list, name);
}

}  // namespace

InputKind input_kind(const char* name) {
  const char* extension = name + find_extension(name);
  for (const KindOfExtension& row : input_kinds) {
    if (std::strcmp(extension, row.extension) == 0) return row.kind;
  }
  return InputKind::unknown;
}

bool starts_source_chain(const char* name) {
  return std::strlen(name) <= longest_name && input_kind(name) == InputKind::source &&
         state.make_command_file;
}

void dispatch_input(const char* name) {
  if (std::strlen(name) > longest_name) {
    refuse_too_long(name);
    return;
  }
  switch (input_kind(name)) {
    case InputKind::source:
      run_source_chain(name, name + find_extension(name));
      break;
    case InputKind::object:
      add_object(name);
      break;
    case InputKind::library:
      add_library(name);
      break;
    case InputKind::command_file:
      add_command_file(name);
      break;
    case InputKind::unknown:
      refuse_on_stdout("Unkown File %s\n", name);
      break;
  }
}
