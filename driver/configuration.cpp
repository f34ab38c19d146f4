#include "driver/configuration.h"

#include <cstdlib>
#include <cstring>

#include "driver/console.h"
#include "driver/driver_state.h"
#include "driver/platform.h"

namespace {

// Reads one line into `line` as a text-mode read with a buffer of `size` bytes would: a
// CR LF pair becomes one LF, and a longer line comes in chunks of size - 1 characters.
// Reading the bytes ourselves makes a CR LF file read alike on every host.
bool read_chunk(std::FILE* file, char* line, std::size_t size) {
  std::size_t length = 0;
  while (length + 1 < size) {
    int c = std::getc(file);
    if (c == EOF) break;
    if (c == '\r') {
      int next = std::getc(file);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, file);
      }
    }
    line[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line[length] = '\0';
  return length > 0;
}

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

// The rules are tried in order; blanks are part of values, so nothing is trimmed.
void apply_line_rules(char* line) {
  std::size_t length = std::strlen(line);
  if (length < 5 || line[0] == ';') return;
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

std::FILE* open_configuration_file(const char* executable_path, const char*& name) {
  name = "vexa.cfg";
  std::FILE* file = std::fopen(name, "rb");
  if (file != nullptr || executable_path[0] == '\0') return file;
  name = make_slot_name(first_stage_slot, executable_path, ".cfg");
  return name == nullptr ? nullptr : std::fopen(name, "rb");
}

// Leaves the file where it was; true when its first two bytes are a UTF-16 mark.
bool starts_with_utf16_mark(std::FILE* file) {
  int first = std::getc(file);
  int second = std::getc(file);
  std::rewind(file);
  return (first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF);
}

// A UTF-8 mark at the very start is skipped; anything else is read from the start.
void skip_utf8_mark(std::FILE* file) {
  if (std::getc(file) == 0xEF && std::getc(file) == 0xBB && std::getc(file) == 0xBF) return;
  std::rewind(file);
}

}  // namespace

void read_configuration_lines(std::FILE* file) {
  skip_utf8_mark(file);
  // A longer line comes in pieces of 1023 bytes, as it always has.
  char line[list_size];
  while (state.status == 0 && read_chunk(file, line, sizeof line)) apply_line_rules(line);
}

// Without the executable's path there is neither a file beside it nor a default
// directory; the current directory's file and the environment still apply. A UTF-16
// file is not read and the file beside the executable is not tried in its place.
void load_configuration() {
  char executable_path[name_size];
  if (module_file_name(executable_path, sizeof executable_path) == 0) executable_path[0] = '\0';
  const char* name = nullptr;
  if (std::FILE* file = open_configuration_file(executable_path, name)) {
    if (starts_with_utf16_mark(file)) {
      print_err(
          "vexa: configuration file '%s' is saved as UTF-16 and was not read; save it as "
          "ANSI or UTF-8\n",
          name);
    } else {
      read_configuration_lines(file);
    }
    std::fclose(file);
  }
  take_environment("VEXA_INC", state.include_dir);
  take_environment("VEXA_LIB", state.lib_dir);
  take_launcher();
  if (executable_path[0] == '\0') return;
  cut_to_base_directory(executable_path);
  fill_default_directory(state.include_dir, executable_path, "include");
  fill_default_directory(state.lib_dir, executable_path, "lib");
}
