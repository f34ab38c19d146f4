#include "pipeline/dependencies.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "pipeline/effects.h"
#include "pipeline/include_reader.h"
#include "pipeline/make_rules.h"
#include "pipeline/output_files.h"
#include "record/console.h"
#include "record/driver_state.h"
#include "toolrun/command_words.h"
#include "toolrun/platform_files.h"
#include "toolrun/platform_host.h"

namespace {

const char write_error[] = "Dependency file write error.'%s'";
const char unreadable_name[] =
    "Dependency file '%s' not written: make cannot read back the name '%s'\n";
const char macro_warning[] =
    "%s:%lu: warning: #include of a macro cannot be followed; the dependency file may miss "
    "what it names\n";
const char dry_run_line[] = "Dependency file '%s'\n";

struct Scan {
  std::vector<std::string> search_dirs;  // the -I directories, in the compiler's order
  std::string configured_dir;            // the include directory as the compiler gets it
  std::unordered_set<std::string> read;  // the identity of every file read
  std::vector<std::string> headers;      // those the dependency file lists
};

// A file being read for its #include lines, and where the reading stands. Only that is
// kept while a header it includes is read, never its text or an open handle, so that
// headers nest to any depth in little memory and few descriptors.
struct OpenFile {
  std::string name;
  bool in_include_dir = false;
  std::uint64_t position = 0;
  unsigned long lines_read = 0;
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

// A file, not a folder, that can be opened.
bool readable(const std::string& name) {
  std::error_code error;
  return !std::filesystem::is_directory(name, error) &&
         std::ifstream(name, std::ios::binary).is_open();
}

// True when `name` is a file. One met for the first time, by whatever path, is listed and
// put on `reading`, to be read next; so a cycle ends, even one through "../".
bool take(Scan& scan, const std::string& name, bool in_include_dir,
          std::vector<OpenFile>& reading) {
  std::string identity;
  if (!file_identity(name.c_str(), identity)) return false;
  if (scan.read.contains(identity)) return true;
  if (!readable(name)) return false;
  scan.read.insert(std::move(identity));
  if (!in_include_dir || state.dependency_files == all_headers) scan.headers.push_back(name);
  reading.push_back({name, in_include_dir, 0, 0});
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
    if (take(scan, joined(directory, name), directory == scan.configured_dir, reading)) {
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
// so that no nesting of headers, however deep, can exhaust the driver's stack; a header
// met is read at once, and the file that includes it read on from where it stood.
void scan_includes(Scan& scan, OpenFile source) {
  std::vector<OpenFile> reading;
  reading.push_back(std::move(source));
  IncludeReader reader;
  while (!reading.empty()) {
    OpenFile& file = reading.back();
    const std::size_t depth = reading.size();
    if (!reader.open(file.name, file.position, file.lines_read)) {
      reading.pop_back();
      continue;
    }
    for (;;) {
      const Include include = reader.next();
      if (include.kind == '\0') {
        reading.pop_back();
        break;
      }
      if (include.kind == 'm') {
        print_err(macro_warning, file.name.c_str(), include.line_number);
        continue;  // nothing to follow
      }
      file.position = reader.position();
      file.lines_read = reader.lines_read();
      follow(scan, file, include, reading);
      if (reading.size() > depth) break;
    }
  }
}

// The directory a word of the compiler's "-I<dir>" or "-I <dir>" names.
std::vector<std::string> include_search_dirs(std::string& configured_dir) {
  std::vector<std::string> directories;
  const std::vector<std::string> words = split_command_words(state.compiler_options.c_str());
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "-I" && i + 1 < words.size()) {
      directories.push_back(words[++i]);
    } else if (words[i].size() > 2 && words[i].compare(0, 2, "-I") == 0) {
      directories.push_back(words[i].substr(2));
    }
  }
  // The configured include directory goes to the first compile, after the -I options given
  // before it; until then it stands last. The compiler gets it without the blanks at its ends.
  const char* configured =
      state.include_dir[0] != '\0' ? state.include_dir : state.passed_include_dir;
  const std::vector<std::string> configured_words =
      split_command_words(command_words_of_directory(configured).c_str());
  if (configured_words.size() == 1) configured_dir = configured_words[0];
  if (state.include_dir[0] != '\0' && !configured_dir.empty())
    directories.push_back(configured_dir);
  return directories;
}

// The process id in the temporary name keeps runs side by side under make -j apart.
bool write_through_temporary(const std::string& name, const std::string& text) {
  const std::string temporary = temporary_name_for(name);
  if (!write_whole_file(temporary.c_str(), "wb", text)) return false;
  if (replace_output_file(temporary.c_str(), name.c_str())) return true;
  const int reason = errno;
  std::remove(temporary.c_str());
  errno = reason;
  return false;
}

// The rule's targets: those -MT and -MQ named, else the object.
std::vector<RuleTarget> rule_targets(const char* object) {
  if (state.dependency_targets.empty()) return {{object}};
  std::vector<RuleTarget> targets;
  for (const char* entry = state.dependency_targets.c_str(); *entry != '\0';) {
    const std::size_t length = std::strcspn(entry, "\n");
    targets.push_back({std::string(entry + 1, length - 1), entry[0] == 'Q'});
    entry += length + (entry[length] == '\n' ? 1 : 0);
  }
  return targets;
}

// Scans `source` for the headers it includes and writes the dependency file `name`.
void scan_and_write(const char* source, const char* object, const std::string& name) {
  Scan scan;
  scan.search_dirs = include_search_dirs(scan.configured_dir);
  const char* type = source + find_extension(source);
  if ((std::strcmp(type, ".c") == 0 || std::strcmp(type, ".s") == 0) && readable(source)) {
    std::string identity;
    file_identity(source, identity);
    scan.read.insert(std::move(identity));
    scan_includes(scan, {source, false, 0, 0});
  }
  const MakeRules rules =
      make_rules(rule_targets(object), source, scan.headers, state.header_rules);
  if (!rules.unreadable.empty()) {
    print_err(unreadable_name, name.c_str(), rules.unreadable.c_str());
    if (state.status == 0) state.status = 1;
  } else if (write_through_temporary(name, rules.text)) {
    return;
  } else {
    refuse_with_reason(write_error, name.c_str(), errno);
  }
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
