#include "pipeline/dependencies.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

#include "driver/console.h"
#include "driver/driver_state.h"
#include "pipeline/effects.h"
#include "pipeline/output_files.h"
#include "toolrun/command_words.h"
#include "toolrun/platform_files.h"
#include "toolrun/platform_host.h"

namespace {

const char write_error[] = "Dependency file write error.'%s'\n";
const char macro_warning[] =
    "%s:%lu: warning: #include of a macro cannot be followed; the dependency file may miss "
    "what it names\n";
const char dry_run_line[] = "Dependency file '%s'\n";
const char blanks[] = " \t\r\f\v";

// What an #include line names: kind '"' or '<' and the name; 'm' for a macro; '\0' when
// the line is no #include, or one the compiler will refuse anyway.
struct Include {
  char kind = '\0';
  std::string name;
};

struct Scan {
  std::vector<std::string> search_dirs;  // the -I directories, in the compiler's order
  std::unordered_set<std::string> read;  // the identity of every file read
  std::vector<std::string> headers;      // those the dependency file lists
};

// A file being read for its #include lines, and where the reading stands.
struct OpenFile {
  std::string name;
  std::string text;
  bool in_include_dir = false;
  std::size_t at = 0;
  unsigned long line_number = 0;
};

bool is_separator(char c) {
  return c == '/' || c == directory_separator;
}

// Just after the last separator, 0 without one. Read forwards: on Windows the second byte
// of a double-byte character may look like a separator.
std::size_t directory_length(const std::string& file) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < file.size(); i += character_size(file.c_str() + i)) {
    if (is_separator(file[i])) length = i + 1;
  }
  return length;
}

// Up to and with its last separator, so a name joined to it keeps the separator as written.
std::string directory_of(const std::string& file) {
  return file.substr(0, directory_length(file));
}

std::string joined(const std::string& directory, const std::string& name) {
  if (directory.empty() || std::filesystem::path(name).has_root_path()) return name;
  if (directory_length(directory) == directory.size()) return directory + name;
  return directory + directory_separator + name;
}

// Where the next token begins: blanks and /* */ comments are stepped over as the
// preprocessor does. npos at the end of the line, in an unclosed comment, or at a //
// comment, after which nothing counts.
std::size_t skip_blanks_and_comments(const std::string& line, std::size_t at) {
  for (;;) {
    at = line.find_first_not_of(blanks, at);
    if (at == std::string::npos || line.compare(at, 2, "//") == 0) return std::string::npos;
    if (line.compare(at, 2, "/*") != 0) return at;
    at = line.find("*/", at + 2);
    if (at == std::string::npos) return at;
    at += 2;
  }
}

Include parse_include(const std::string& line) {
  std::size_t at = line.find_first_not_of(blanks);
  if (at == std::string::npos || line[at] != '#') return {};
  at = skip_blanks_and_comments(line, at + 1);
  if (at == std::string::npos || line.compare(at, 7, "include") != 0) return {};
  const std::size_t after_word = at + 7;
  at = skip_blanks_and_comments(line, after_word);
  if (at == std::string::npos) return {};
  char open = line[at];
  // Without a blank before it, the word is another directive ("#include_next").
  if (open != '"' && open != '<') return at == after_word ? Include{} : Include{'m', ""};
  std::size_t close = line.find(open == '"' ? '"' : '>', at + 1);
  if (close == std::string::npos || close == at + 1) return {};
  return {open, line.substr(at + 1, close - at - 1)};
}

// The #include on the next line of `file`, which is then past it.
Include next_include(OpenFile& file) {
  std::size_t end = std::min(file.text.find('\n', file.at), file.text.size());
  Include include = parse_include(file.text.substr(file.at, end - file.at));
  file.at = end + 1;
  ++file.line_number;
  return include;
}

const char* configured_include_dir() {
  return state.include_dir[0] != '\0' ? state.include_dir : state.passed_include_dir;
}

// True when `name` is a file. One met for the first time, by whatever path, is listed and
// put on `reading`, to be read next; so a cycle ends, even one through "../".
bool take(Scan& scan, const std::string& name, bool in_include_dir,
          std::vector<OpenFile>& reading) {
  std::string identity;
  if (!file_identity(name.c_str(), identity)) return false;
  if (scan.read.contains(identity)) return true;
  std::string text;
  if (!read_whole_file(name.c_str(), text)) return false;
  scan.read.insert(std::move(identity));
  if (!in_include_dir || state.dependency_files == all_headers) scan.headers.push_back(name);
  reading.push_back({name, std::move(text), in_include_dir, 0, 0});
  return true;
}

// A header found beside the file that includes it belongs where that file does.
bool find_header(Scan& scan, const std::string& includer, bool includer_in_include_dir, char kind,
                 const std::string& name, std::vector<OpenFile>& reading) {
  if (kind == '"' &&
      take(scan, joined(directory_of(includer), name), includer_in_include_dir, reading)) {
    return true;
  }
  for (const std::string& directory : scan.search_dirs) {
    if (take(scan, joined(directory, name), directory == configured_include_dir(), reading)) {
      return true;
    }
  }
  return false;
}

// Sources written on Windows name "sub\x.h", which the compiler run there opens; here the
// backslash is an ordinary character, so the name is tried with '/' as well.
std::string with_forward_slashes(std::string name) {
  if (directory_separator == '/') std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

void follow(Scan& scan, const OpenFile& includer, const Include& include,
            std::vector<OpenFile>& reading) {
  const std::string includer_name = includer.name;  // `reading` may move it
  const bool in_include_dir = includer.in_include_dir;
  if (find_header(scan, includer_name, in_include_dir, include.kind, include.name, reading)) {
    return;
  }
  const std::string other_spelling = with_forward_slashes(include.name);
  if (other_spelling != include.name) {
    find_header(scan, includer_name, in_include_dir, include.kind, other_spelling, reading);
  }
}

// Every #include counts, whatever #if surrounds it: a needless rebuild is harmless, a
// missing dependency is not. The files being read are a stack of their own, not calls,
// so that no nesting of headers, however deep, can exhaust the driver's stack.
void scan_includes(Scan& scan, OpenFile source) {
  std::vector<OpenFile> reading;
  reading.push_back(std::move(source));
  while (!reading.empty()) {
    OpenFile& file = reading.back();
    if (file.at >= file.text.size()) {
      reading.pop_back();
      continue;
    }
    const Include include = next_include(file);
    if (include.kind == 'm') print_err(macro_warning, file.name.c_str(), file.line_number);
    if (include.kind == '"' || include.kind == '<') follow(scan, file, include, reading);
  }
}

// The configured include directory goes to the first compile, after the -I options given
// before it; until then it stands last.
std::vector<std::string> include_search_dirs() {
  std::vector<std::string> directories;
  for (const std::string& word : split_command_words(state.compiler_options.c_str())) {
    if (word.size() > 2 && word.compare(0, 2, "-I") == 0) directories.push_back(word.substr(2));
  }
  if (state.include_dir[0] != '\0') directories.push_back(state.include_dir);
  return directories;
}

// How make reads a name back: a target and a prerequisite differ only in '%', which
// makes a target a pattern and is plain in a prerequisite.
enum class MakeRole { target, prerequisite };

// Make for Windows reads "C:\x" as a drive, whatever side of a rule it stands on.
bool is_drive_colon(const std::string& name, std::size_t at) {
  return directory_separator == '\\' && at == 1 &&
         std::isalpha(static_cast<unsigned char>(name[0]));
}

// Written so that GNU make reads back exactly `name`.
std::string escaped_for_make(const std::string& name, MakeRole role) {
  std::string text;
  for (std::size_t at = 0; at < name.size(); ++at) {
    const char c = name[at];
    if (c == ' ' || c == '#' || (c == ':' && !is_drive_colon(name, at)) ||
        (c == '%' && role == MakeRole::target)) {
      text += '\\';
    }
    if (c == '$') text += '$';
    text += c;
  }
  return text;
}

// The rule's targets: those -MT and -MQ named, else the object.
std::string targets_text(const char* object) {
  if (state.dependency_targets.empty()) return escaped_for_make(object, MakeRole::target);
  std::string text;
  for (const char* entry = state.dependency_targets.c_str(); *entry != '\0';) {
    const std::size_t length = std::strcspn(entry, "\n");
    const std::string name(entry + 1, length - 1);
    if (!text.empty()) text += ' ';
    text += entry[0] == 'Q' ? escaped_for_make(name, MakeRole::target) : name;
    entry += length + (entry[length] == '\n' ? 1 : 0);
  }
  return text;
}

std::string dependency_text(const char* source, const char* object, const Scan& scan) {
  using enum MakeRole;
  std::string text = targets_text(object) + ": " + escaped_for_make(source, prerequisite);
  for (const std::string& header : scan.headers)
    text += " " + escaped_for_make(header, prerequisite);
  text += "\n";
  if (!state.header_rules) return text;
  for (const std::string& header : scan.headers) text += escaped_for_make(header, target) + ":\n";
  return text;
}

// The process id in the temporary name keeps runs side by side under make -j apart.
bool write_through_temporary(const std::string& name, const std::string& text) {
  const std::string temporary = temporary_name_for(name);
  if (!write_whole_file(temporary.c_str(), "wb", text)) return false;
  if (replace_output_file(temporary.c_str(), name.c_str())) return true;
  std::remove(temporary.c_str());
  return false;
}

// Scans `source` for the headers it includes and writes the dependency file `name`.
void scan_and_write(const char* source, const char* object, const std::string& name) {
  Scan scan{.search_dirs = include_search_dirs(), .read = {}, .headers = {}};
  const char* type = source + find_extension(source);
  OpenFile file{source, "", false, 0, 0};
  if ((std::strcmp(type, ".c") == 0 || std::strcmp(type, ".s") == 0) &&
      read_whole_file(source, file.text)) {
    std::string identity;
    file_identity(source, identity);
    scan.read.insert(std::move(identity));
    scan_includes(scan, std::move(file));
  }
  if (write_through_temporary(name, dependency_text(source, object, scan))) return;
  refuse(write_error, name.c_str());
  // An object left newer than its source would pass for up to date without its dependencies.
  if (state.delete_temps) delete_file(object);
}

}  // namespace

void write_dependency_file(const char* source, const char* object) {
  if (state.dependency_files == no_dependency_files) return;
  const std::string name = state.dependency_file[0] != '\0'
                               ? std::string(state.dependency_file)
                               : std::string(object, find_extension(object)) + ".d";
  update_file_effect(dry_run_line, name.c_str(), [&] { scan_and_write(source, object, name); });
}
