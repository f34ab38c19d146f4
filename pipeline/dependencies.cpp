#include "pipeline/dependencies.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/console.h"
#include "driver/driver_state.h"
#include "pipeline/delete_file.h"
#include "toolrun/command_words.h"
#include "toolrun/output_file.h"

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
  std::vector<std::string> read;         // the identity of every file read
  std::vector<std::string> headers;      // those the dependency file lists
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

Include parse_include(const std::string& line) {
  std::size_t at = line.find_first_not_of(blanks);
  if (at == std::string::npos || line[at] != '#') return {};
  at = line.find_first_not_of(blanks, at + 1);
  if (at == std::string::npos || line.compare(at, 7, "include") != 0) return {};
  const std::size_t after_word = at + 7;
  at = line.find_first_not_of(blanks, after_word);
  if (at == std::string::npos) return {};
  char open = line[at];
  // Without a blank before it, the word is another directive ("#include_next").
  if (open != '"' && open != '<') return at == after_word ? Include{} : Include{'m', ""};
  std::size_t close = line.find(open == '"' ? '"' : '>', at + 1);
  if (close == std::string::npos || close == at + 1) return {};
  return {open, line.substr(at + 1, close - at - 1)};
}

const char* configured_include_dir() {
  return state.include_dir[0] != '\0' ? state.include_dir : state.passed_include_dir;
}

void scan_text(Scan& scan, const std::string& file, const std::string& text, bool in_include_dir);

// True when `name` is a file. One met for the first time, by whatever path, is listed and
// read in turn; so a cycle ends, even one through "../".
bool take(Scan& scan, const std::string& name, bool in_include_dir) {
  std::string identity;
  if (!file_identity(name.c_str(), identity)) return false;
  if (std::find(scan.read.begin(), scan.read.end(), identity) != scan.read.end()) return true;
  std::string text;
  if (!read_whole_file(name.c_str(), text)) return false;
  scan.read.push_back(identity);
  if (!in_include_dir || state.dependency_files == all_headers) scan.headers.push_back(name);
  scan_text(scan, name, text, in_include_dir);
  return true;
}

// A header found beside the file that includes it belongs where that file does.
void follow(Scan& scan, const std::string& includer, bool includer_in_include_dir,
            const Include& include) {
  if (include.kind == '"' &&
      take(scan, joined(directory_of(includer), include.name), includer_in_include_dir)) {
    return;
  }
  for (const std::string& directory : scan.search_dirs) {
    if (take(scan, joined(directory, include.name), directory == configured_include_dir())) return;
  }
}

// Every #include counts, whatever #if surrounds it: a needless rebuild is harmless, a
// missing dependency is not.
void scan_text(Scan& scan, const std::string& file, const std::string& text, bool in_include_dir) {
  unsigned long line_number = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = std::min(text.find('\n', at), text.size());
    Include include = parse_include(text.substr(at, end - at));
    at = end + 1;
    ++line_number;
    if (include.kind == 'm') print_err(macro_warning, file.c_str(), line_number);
    if (include.kind == '"' || include.kind == '<') follow(scan, file, in_include_dir, include);
  }
}

// The configured include directory goes to the first compile, after the -I options given
// before it; until then it stands last.
std::vector<std::string> include_search_dirs() {
  std::vector<std::string> directories;
  for (const std::string& word : split_command_words(state.compiler_options)) {
    if (word.size() > 2 && word.compare(0, 2, "-I") == 0) directories.push_back(word.substr(2));
  }
  if (state.include_dir[0] != '\0') directories.push_back(state.include_dir);
  return directories;
}

std::string escaped_for_make(const std::string& name) {
  std::string text;
  for (char c : name) {
    if (c == ' ' || c == '#') text += '\\';
    if (c == '$') text += '$';
    text += c;
  }
  return text;
}

std::string dependency_text(const char* source, const char* object, const Scan& scan) {
  std::string text = escaped_for_make(object) + ": " + escaped_for_make(source);
  for (const std::string& header : scan.headers) text += " " + escaped_for_make(header);
  text += "\n";
  if (!state.header_rules) return text;
  for (const std::string& header : scan.headers) text += escaped_for_make(header) + ":\n";
  return text;
}

// The process id in the temporary name keeps runs side by side under make -j apart.
bool write_through_temporary(const std::string& name, const std::string& text) {
  const std::string temporary = name + "." + std::to_string(process_id()) + ".tmp";
  std::FILE* file = create_output_file(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) == 0 && written && replace_output_file(temporary.c_str(), name.c_str())) {
    return true;
  }
  std::remove(temporary.c_str());
  return false;
}

}  // namespace

void write_dependency_file(const char* source, const char* object) {
  if (state.dependency_files == no_dependency_files) return;
  const std::string name = std::string(object, find_extension(object)) + ".d";
  if (state.dry_run) {
    print_out(dry_run_line, name.c_str());
    return;
  }
  Scan scan{.search_dirs = include_search_dirs(), .read = {}, .headers = {}};
  const char* type = source + find_extension(source);
  std::string text;
  if ((std::strcmp(type, ".c") == 0 || std::strcmp(type, ".s") == 0) &&
      read_whole_file(source, text)) {
    scan.read.emplace_back();
    file_identity(source, scan.read.back());
    scan_text(scan, source, text, false);
  }
  if (write_through_temporary(name, dependency_text(source, object, scan))) return;
  refuse(write_error, name.c_str());
  // An object left newer than its source would pass for up to date without its dependencies.
  if (state.delete_temps) delete_file(object);
}
