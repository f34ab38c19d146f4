#include "driver/configuration.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "record/console.h"
#include "record/driver_state.h"
#include "toolrun/platform_host.h"

namespace {

bool ends_with_lib(const char* line, std::size_t length) {
  const char* tail = line + length - 4;
  const char lower_case[] = ".lib";
  for (int i = 0; i < 4; ++i) {
    char c = tail[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower_case[i]) return false;
  }
  return true;
}

void set_directory(char (&directory)[name_size], const char* value) {
  if (state.status != 0) return;
  if (!copy_text(directory, value)) refuse_too_long(value);
}

// A line is measured as read, its line feed included: at most 3 characters of text before a
// line feed, or 4 on a last line without one, make a line too short to mean anything.
constexpr std::size_t shortest_line_read = 5;

// The rules are tried in order; blanks are part of values, so nothing is trimmed.
void apply_line_rules(char* line) {
  std::size_t length = std::strlen(line);
  if (length < shortest_line_read || line[0] == ';') return;
  if (line[length - 1] == '\n') line[--length] = '\0';
  if (starts_with(line, "INC=")) {
    set_directory(state.include_dir, line + 4);
  } else if (starts_with(line, "LIB=")) {
    set_directory(state.lib_dir, line + 4);
  } else if (ends_with_lib(line, length)) {
    append_or_refuse(state.default_libraries, {line, "\n"}, line);
  }
}

// An environment variable that exists overrides the file, even when it is empty.
void take_environment(const char* name, char (&directory)[name_size]) {
  const char* value = std::getenv(name);
  if (value != nullptr) set_directory(directory, value);
}

// Only the environment names a launcher: vexa reads the configuration file of whatever
// folder it runs in, and a folder someone else wrote must never choose a program that vexa
// starts. A text of blanks alone has no word to start, so it is no launcher either.
void take_launcher() {
  const char* value = std::getenv("VEXA_LAUNCHER");
  if (value != nullptr && value[std::strspn(value, " \t")] != '\0') state.launcher = value;
}

// The directory above the one holding the executable: the text ends at the second
// separator from the end; the first character is never looked at. Read forwards, since on
// Windows a double-byte character's second byte may look like a separator.
void cut_to_base_directory(char* path) {
  std::size_t length = std::strlen(path);
  std::size_t last = 0;
  std::size_t before_last = 0;
  for (std::size_t i = character_size(path); i < length; i += character_size(path + i)) {
    if (path[i] == directory_separator) {
      before_last = last;
      last = i;
    }
  }
  path[before_last] = '\0';
}

void fill_default_directory(char (&directory)[name_size], const char* base, const char* leaf) {
  if (state.status != 0 || directory[0] != '\0') return;
  const char separator[] = {directory_separator, '\0'};
  if (!append_text(directory, {base, separator, leaf})) refuse_too_long(base);
}

// The file in the current folder, else the one beside the executable. A file that is there
// but cannot be read (a folder, no permission) is named on standard error and otherwise
// taken as absent, so it neither hides the next one nor reads as empty. Returns the name of
// the file found, nullptr when there is none.
const char* find_configuration_file(const char* executable_path, std::string& text) {
  const char* name = "vexa.cfg";
  for (int tried = 0; name != nullptr && tried < 2; ++tried) {
    switch (read_text_file(name, text)) {
      case TextFile::read:
        return name;
      case TextFile::utf16:
        print_err(
            "vexa: configuration file '%s' is saved as UTF-16 and was not read; save it as "
            "ANSI or UTF-8\n",
            name);
        text.clear();
        return name;
      case TextFile::unreadable:
        print_err("vexa: configuration file '%s' cannot be read and was left out\n", name);
        break;
      case TextFile::absent:
        break;
    }
    text.clear();
    if (executable_path[0] == '\0') return nullptr;
    name = make_slot_name(first_stage_slot, executable_path, ".cfg");
  }
  return nullptr;
}

}  // namespace

// A line is read whole or not at all: the tail of a cut line would pass for a line of its
// own, a default library among them. A CR LF pair reads as one LF, as on every host a text
// file's line ends; a lone CR is a character of the line.
void read_configuration_lines(std::string_view text, const char* name) {
  char line[list_size];
  while (state.status == 0 && !text.empty()) {
    std::size_t end = text.find('\n');
    end = end == std::string_view::npos ? text.size() : end + 1;
    const bool crlf = end >= 2 && text[end - 1] == '\n' && text[end - 2] == '\r';
    const std::size_t length = end - (crlf ? 1 : 0);
    if (length >= sizeof line) {
      print_err("vexa: configuration file '%s' has a line too long, beginning '%.40s'\n", name,
                std::string(text.substr(0, 40)).c_str());
      state.status = 1;
      return;
    }
    std::memcpy(line, text.data(), length - (crlf ? 1 : 0));
    if (crlf) line[length - 1] = '\n';
    line[length] = '\0';
    apply_line_rules(line);
    text.remove_prefix(end);
  }
}

// Without the executable's path there is neither a file beside it nor a default
// directory; the current directory's file and the environment still apply. A UTF-16
// file is not read and the file beside the executable is not tried in its place.
void load_configuration() {
  char executable_path[name_size];
  if (module_file_name(executable_path, sizeof executable_path) == 0) executable_path[0] = '\0';
  std::string text;
  if (const char* name = find_configuration_file(executable_path, text)) {
    read_configuration_lines(text, name);
  }
  take_environment("VEXA_INC", state.include_dir);
  take_environment("VEXA_LIB", state.lib_dir);
  take_launcher();
  if (executable_path[0] == '\0') return;
  cut_to_base_directory(executable_path);
  fill_default_directory(state.include_dir, executable_path, "include");
  fill_default_directory(state.lib_dir, executable_path, "lib");
}
