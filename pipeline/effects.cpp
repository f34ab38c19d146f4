#include "pipeline/effects.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "pipeline/output_files.h"
#include "pipeline/sjis_escaper.h"
#include "record/console.h"
#include "record/driver_state.h"
#include "toolrun/platform_files.h"
#include "toolrun/platform_process.h"

namespace {

// While a word is handled without effects: where the names of the files it would write or
// delete go.
std::vector<std::string>* noted_files = nullptr;

void note_file(const char* name) {
  if (noted_files != nullptr && name != nullptr) noted_files->emplace_back(name);
}

// Each line of `text` ("\n" line ends) indented by two blanks.
void show_indented(const char* text) {
  while (*text != '\0') {
    std::size_t length = std::strcspn(text, "\n");
    print_out("  %.*s\n", static_cast<int>(length), text);
    text += length + (text[length] == '\n' ? 1 : 0);
  }
}

}  // namespace

int run_tool_effect(const char* tool_name, const char* argument_text, const char* output,
                    OutputFilter filter, LineWatch watch) {
  if (state.dry_run) {
    note_file(output);
    show_tool_command(tool_name, argument_text);
    return 0;
  }
  return run_tool(tool_name, argument_text, filter, watch);
}

bool escape_source_effect(const char* source, const char* escaped) {
  if (state.dry_run) note_file(escaped);
  return state.dry_run || escape_sjis_source(source, escaped);
}

bool copy_source_effect(const char* source, const char* copy) {
  if (state.dry_run) return true;
  std::string text;
  if (!read_whole_file(source, text)) {
    print_err("Input file open error.'%s'\n", source);
    return false;
  }
  if (write_whole_file(copy, "wb", text, true)) return true;
  print_err("Output file write error.'%s'\n", copy);
  return false;
}

bool move_output_effect(const char* made, const char* output) {
  if (state.dry_run || replace_output_file(made, output)) return true;
  print_err("Output file write error.'%s'\n", output);
  return false;
}

void delete_file(const char* name) {
  if (state.dry_run) {
    note_file(name);
    return;
  }
  // remove() would take an empty directory too; one named like an intermediate is the user's.
  std::error_code error;
  if (std::filesystem::is_directory(name, error)) return;
  if (state.verbose) print_out("Delete '%s'\n", name);
  std::remove(name);
}

void update_file_effect(const char* dry_run_line, const char* name,
                        const std::function<void()>& update) {
  if (state.dry_run) {
    note_file(name);
    print_out(dry_run_line, name);
    return;
  }
  update();
}

void link_through_command_file_effect(const char* name, const char* text,
                                      void (*run_linker)(const char* command_file)) {
  if (state.dry_run) {
    run_linker(name);
    show_indented(text);
    return;
  }
  // Every run in this folder uses the same command file name: the others wait from before
  // it is written until the linker has ended and the file is gone (or kept), when the lock
  // goes.
  FolderLock lock;
  if (!lock_current_folder(lock)) {
    state.status = signal_status(interrupt_signal());
    return;
  }
  // Text mode, so the lines end as the host's text files do.
  if (!write_whole_file(name, "w", text, true)) {
    const int reason = errno;
    refuse_with_reason("Command file write error.'%s'", name, reason);
    return;
  }
  run_linker(name);
  if (state.delete_temps) delete_file(name);
}

bool parallel_workers_allowed() {
  return !state.dry_run;
}

void handle_without_effects(void (*handle)(const char* word), const char* word,
                            std::vector<std::string>* files) {
  const std::uint8_t dry_run = state.dry_run;
  state.dry_run = 1;
  noted_files = files;
  handle(word);
  noted_files = nullptr;
  state.dry_run = dry_run;
}
