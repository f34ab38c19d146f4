#include "pipeline/compilation_database.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/effects.h"
#include "pipeline/json_array.h"
#include "pipeline/output_files.h"
#include "record/console.h"
#include "record/driver_state.h"
#include "toolrun/command_words.h"
#include "toolrun/platform_files.h"
#include "toolrun/platform_process.h"

namespace {

const char dry_run_line[] = "Compilation database '%s'\n";
const char read_error[] = "Compilation database read error.'%s'\n";
const char not_an_array[] =
    "Compilation database '%s' is not a JSON array of objects; it is left as it is\n";
const char write_error[] = "Compilation database write error.'%s'";
const char not_utf8[] = "Compilation database '%s' leaves out '%s': '%s' is not UTF-8\n";

// What some editors put before the text of a file they save; no part of the JSON.
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// The compiler's words as it gets them, its name first, with the source where the compiled
// file (the escaped copy, say) stands: the words after those of the options, however the
// file's name was written into the text.
std::vector<std::string> compiler_words(const char* source, const char* argument_text,
                                        const char* options_text) {
  std::vector<std::string> words = split_command_words(argument_text);
  words.resize(std::min(words.size(), split_command_words(options_text).size()));
  words.insert(words.begin(), "gcc33.exe");
  words.push_back(source);
  return words;
}

std::string arguments_text(const std::vector<std::string>& utf8_words) {
  std::string text;
  for (const std::string& word : utf8_words)
    text += (text.empty() ? "[" : ", ") + json_string(word);
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

// One turn on the database `name`, its lock held on `file`, the file it stands for: read
// it, put the entry in, rename the new text into its place. False when another run made the
// file meanwhile, so the turn is to repeat.
bool update_locked(const char* name, const char* file, const SharedFileLock& lock,
                   SharedFileState found, const JsonObject& entry) {
  std::string text;
  std::vector<JsonObject> kept;
  if (found == SharedFileState::existing && !read_whole_file(file, text)) {
    refuse(read_error, name);
    return true;
  }
  if (text.starts_with(byte_order_mark)) text.erase(0, byte_order_mark.size());
  if (found == SharedFileState::existing && !read_json_objects(text, kept)) {
    refuse(not_an_array, name);
    return true;
  }
  const std::string temporary = temporary_name_for(file);
  const Installed installed = write_whole_file(temporary.c_str(), "wb", database_text(kept, entry))
                                  ? install_shared_file(temporary.c_str(), file, lock)
                                  : Installed::failed;
  const int reason = errno;
  if (installed != Installed::done) std::remove(temporary.c_str());
  if (installed == Installed::failed) refuse_with_reason(write_error, name, reason);
  return installed != Installed::name_taken;
}

// Adds the compiler's entry for `source` to the database `name`, replacing the source's
// previous entry, under the database's lock. A name that is no UTF-8, which JSON cannot
// hold (only a POSIX name's bytes can be such), keeps the entry out with a warning naming
// it: the compile itself has succeeded.
void add_entry(const char* name, const char* source, const char* output, const char* argument_text,
               const char* options_text) {
  JsonObject entry;
  if (!current_folder_utf8(entry.directory)) {
    refuse_with_reason(write_error, name, errno);
    return;
  }
  std::vector<std::string> names = compiler_words(source, argument_text, options_text);
  names.push_back(output);
  std::vector<std::string> utf8 = {entry.directory};
  for (const std::string& text : names) utf8.push_back(host_text_as_utf8(text));
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (!is_utf8(utf8[i])) {
      print_err(not_utf8, name, source, i == 0 ? entry.directory.c_str() : names[i - 1].c_str());
      return;
    }
  }
  entry.file = utf8[utf8.size() - 2];
  entry.text = "{\"directory\": " + json_string(entry.directory) +
               ", \"file\": " + json_string(entry.file) +
               ", \"arguments\": " + arguments_text({utf8.begin() + 1, utf8.end() - 1}) +
               ", \"output\": " + json_string(utf8.back()) + "}";
  const std::string file = followed_links(name);
  for (bool done = false; !done;) {
    SharedFileLock lock;
    const SharedFileState found = lock_shared_file(file.c_str(), lock);
    if (found == SharedFileState::interrupted) {
      state.status = signal_status(interrupt_signal());
      return;
    }
    if (found == SharedFileState::unreadable) {
      refuse(read_error, name);
      return;
    }
    done = update_locked(name, file.c_str(), lock, found, entry);
  }
}

}  // namespace

void add_compile_command(const char* source, const char* output, const char* argument_text,
                         const char* options_text) {
  const char* name = state.compilation_database;
  if (name[0] == '\0') return;
  update_file_effect(dry_run_line, name,
                     [&] { add_entry(name, source, output, argument_text, options_text); });
}
