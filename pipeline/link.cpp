#include "pipeline/link.h"

#include <cstring>
#include <string>

#include "pipeline/effects.h"
#include "record/driver_state.h"
#include "toolrun/command_words.h"
#include "toolrun/filters.h"
#include "toolrun/platform_files.h"
#include "toolrun/platform_host.h"
#include "toolrun/platform_process.h"

namespace {

const char startup_object[] = "cstart.o";
const char separator_text[] = {directory_separator, '\0'};

// A banner is never a warning, whatever it holds.
void count_linker_warning(const char* line) {
  if (state.warnings_are_errors && !is_linker_banner(line) && std::strstr(line, ": Warning: "))
    ++state.warning_count;
}

// Runs the linker on `command_file` and turns its warnings into the status.
void run_linker(const char* command_file) {
  state.command_text.clear();
  const std::string file_word = command_word(command_file);
  if (!append_text(state.command_text,
                   {debug_option_text(), state.linker_options.c_str(), "-c ", file_word.c_str()})) {
    refuse_too_long(command_file);
    return;
  }
  state.status = run_tool_effect("lk33.exe", state.command_text.c_str(), program_name(),
                                 filter_linker_output, count_linker_warning);
  if (state.status == 0) state.status = state.warning_count;
}

// The text of "__tmp__.cm" ("\n" line ends), as long as its lists make it.
std::string command_file_text() {
  std::string text = "-v3\n-objsym\n";
  if (state.start_address[0] != '\0') {
    text = text + "-addr " + state.start_address + " {DEFAULT_CODE DEFAULT_DATA DEFAULT_BSS}\n";
  }
  if (state.lib_dir[0] != '\0') text = text + "-l " + state.lib_dir + "\n";
  const char* output = state.slots[output_slot].text;
  if (output[0] != '\0') text = text + "-o " + output + "\n";
  text += state.command_file_options.c_str();
  if (state.link_startup) text = text + state.lib_dir + separator_text + startup_object + "\n";
  text += state.object_list.c_str();
  text += state.library_list.c_str();
  if (state.link_default_libs) text += state.default_libraries.c_str();
  return text;
}

}  // namespace

const char* program_name() {
  return state.program_name[0] != '\0' ? state.program_name : state.slots[output_slot].text;
}

void link_generated() {
  const std::string text = command_file_text();
  link_through_command_file_effect(generated_command_file, text.c_str(), run_linker);
  const char* output = program_name();
  if (state.delete_temps && state.status != 0 && output[0] != '\0') delete_file(output);
}

void link_user_command_file() {
  run_linker(state.object_list.c_str());
}

void add_object(const char* name) {
  char* output = state.slots[output_slot].text;
  if (!append_text(state.object_list, {name, "\n"})) {
    refuse_full_list(name);
    return;
  }
  if (output[0] == '\0') make_slot_name(output_slot, name, ".srf");
  ++state.file_count;
}

void add_library(const char* name) {
  append_or_refuse(state.library_list, {name, "\n"}, name);
}
