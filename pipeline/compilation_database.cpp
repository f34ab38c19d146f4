#include "pipeline/compilation_database.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/console.h"
#include "driver/driver_state.h"
#include "pipeline/effects.h"
#include "pipeline/json_array.h"
#include "pipeline/output_files.h"
#include "toolrun/command_words.h"
#include "toolrun/platform_files.h"
#include "toolrun/platform_process.h"

namespace {

const char dry_run_line[] = "Compilation database '%s'\n";
const char read_error[] = "Compilation database read error.'%s'\n";
const char not_an_array[] =
    "Compilation database '%s' is not a JSON array of objects; it is left as it is\n";
const char write_error[] = "Compilation database write error.'%s'\n";

// The compiler's words as it gets them, its name first, with the source where the compiled
// file (the escaped copy, say) stands: the words after those of the options, however the
// file's name was written into the text.
std::string arguments_text(const char* source, const char* argument_text,
                           const char* options_text) {
  std::vector<std::string> words = split_command_words(argument_text);
  words.resize(std::min(words.size(), split_command_words(options_text).size()));
  words.insert(words.begin(), "gcc33.exe");
  words.push_back(source);
  std::string text;
  for (const std::string& word : words) {
    text += (text.empty() ? "[" : ", ") + json_string(host_text_as_utf8(word));
  }
  return text + "]";
}

// The entry takes the place of the first one for its file in its folder, and any later such
// one goes, so the database names each source once; the others keep their text and order.
std::string database_text(const std::vector<JsonObject>& kept, const JsonObject& entry) {
  std::string text = "[\n";
  bool entered = false;
  for (const JsonObject& object : kept) {
    const bool same = object.file == entry.file && object.directory == entry.directory;
    if (same && entered) continue;
    text += (text.size() > 2 ? ",\n" : "") + (same ? entry.text : object.text);
    entered = entered || same;
  }
  if (!entered) text += (text.size() > 2 ? ",\n" : "") + entry.text;
  return text + "\n]\n";
}

// One turn on the database, its lock held: read it, put the entry in, rename the new text
// into its place. False when another run made the file meanwhile, so the turn is to repeat.
bool update_locked(const char* name, const SharedFileLock& lock, SharedFileState found,
                   const JsonObject& entry) {
  std::string text;
  std::vector<JsonObject> kept;
  if (found == SharedFileState::existing && !read_whole_file(name, text)) {
    refuse(read_error, name);
  } else if (found == SharedFileState::existing && !read_json_objects(text, kept)) {
    refuse(not_an_array, name);
  } else {
    const std::string temporary = temporary_name_for(name);
    const Installed installed =
        write_whole_file(temporary.c_str(), "wb", database_text(kept, entry))
            ? install_shared_file(temporary.c_str(), name, lock)
            : Installed::failed;
    if (installed != Installed::done) std::remove(temporary.c_str());
    if (installed == Installed::name_taken) return false;
    if (installed == Installed::failed) refuse(write_error, name);
  }
  return true;
}

// Adds the compiler's entry for `source` to the database `name`, replacing the source's
// previous entry, under the database's lock.
void add_entry(const char* name, const char* source, const char* argument_text,
               const char* options_text) {
  JsonObject entry;
  if (!current_folder_utf8(entry.directory)) {
    refuse(write_error, name);
    return;
  }
  entry.file = host_text_as_utf8(source);
  const std::string object = std::string(source, find_extension(source)) + ".o";
  entry.text = "{\"directory\": " + json_string(entry.directory) +
               ", \"file\": " + json_string(entry.file) +
               ", \"arguments\": " + arguments_text(source, argument_text, options_text) +
               ", \"output\": " + json_string(host_text_as_utf8(object)) + "}";
  for (bool done = false; !done;) {
    SharedFileLock lock;
    const SharedFileState found = lock_shared_file(name, lock);
    if (found == SharedFileState::interrupted) {
      state.status = signal_status(interrupt_signal());
      return;
    }
    if (found == SharedFileState::unreadable) {
      refuse(read_error, name);
      return;
    }
    done = update_locked(name, lock, found, entry);
    unlock_shared_file(lock);
  }
}

}  // namespace

void add_compile_command(const char* source, const char* argument_text, const char* options_text) {
  const char* name = state.compilation_database;
  if (name[0] == '\0') return;
  update_file_effect(dry_run_line, name,
                     [&] { add_entry(name, source, argument_text, options_text); });
}
