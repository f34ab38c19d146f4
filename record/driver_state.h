// The one process-wide record of the driver, and the small helpers every part uses to
// name files; the bounded copies that fill its fixed-size text fields come with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "toolrun/host_text.h"
#include "toolrun/platform_host.h"

constexpr std::size_t name_size = 320;     // a name slot or a directory
constexpr std::size_t list_size = 1024;    // a line of the configuration file
constexpr std::size_t address_size = 12;   // the link start address
constexpr std::size_t longest_name = 315;  // leaves room for any extension the driver adds

struct NameSlot {
  char text[name_size];
};

enum SlotIndex {
  first_stage_slot = 0,
  extender_slot = 1,
  escaped_or_object_slot = 2,
  output_slot = 3
};

// What -MD and -MMD ask for: a dependency file beside each object made, listing every
// header, or only those outside the configured include directory.
enum DependencyFiles : std::uint8_t {
  no_dependency_files = 0,
  all_headers = 1,
  headers_outside_include_dir = 2
};

// How far a source is carried: the last of its tools that -E, -S or -c lets run, or on
// through the link.
enum StageLimit : std::int8_t {
  first_stage_only = 0,   // -E
  through_extender = 1,   // -S
  through_assembler = 2,  // -c
  through_link = 3,
};

struct DriverState {
  std::uint8_t delete_temps = 1;
  std::uint8_t sjis_mode = 1;
  std::int8_t stage_limit = through_link;
  std::uint8_t warnings_are_errors = 1;
  std::uint8_t link_startup = 1;
  std::uint8_t link_default_libs = 1;
  std::uint8_t make_command_file = 1;
  char start_address[address_size] = "0x100000";
  std::uint8_t debug_info = 0;
  std::int32_t verbose = 0;
  // -###: each tool run is shown as its command line instead; nothing is written or deleted.
  // Read only in pipeline/effects.cpp, through which every effect of a run passes.
  std::uint8_t dry_run = 0;
  std::uint8_t dependency_files = no_dependency_files;
  // -MP: the dependency file also gives each header an empty rule of its own.
  std::uint8_t header_rules = 0;
  // VEXA_LAUNCHER's text, started in front of every tool; nullptr when there is none.
  const char* launcher = nullptr;
  std::uint8_t plus_state = 0;
  // The C source whose copy the compiler reads (name slot 2), as the user named it; its
  // messages name the copy, and the compiler's filter puts this name back. nullptr while the
  // compiler reads the source itself.
  const char* compiled_source = nullptr;
  // The word owed to a pending '+' option names the program (+o).
  std::uint8_t plus_option_names_program = 0;
  std::int32_t file_count = 0;
  std::int32_t status = 0;
  std::int32_t warning_count = 0;
  std::int32_t escaped_name_length = 0;

  char include_dir[name_size] = {};
  // include_dir as it was before the first compile took it, so -MMD still knows it.
  char passed_include_dir[name_size] = {};
  char lib_dir[name_size] = {};
  // -MJ: the compilation database the C sources after it are entered in; empty for none.
  char compilation_database[name_size] = {};
  // The last +o word: the name the linker gives the program, whatever -e says.
  char program_name[name_size] = {};
  // -MF: the name of the dependency files written from here on; empty: beside each object.
  char dependency_file[name_size] = {};
  // -MT and -MQ: the targets of the dependency files from here on, one a line, each
  // marked 'T' (written as given) or 'Q' (quoted for make); empty: the object.
  TextList dependency_targets;
  // -o: the file the run makes, taken from the whole command line before any word is
  // handled; empty for none. With it every file of a chain is made in its folder.
  char output_file[name_size] = {};
  // What goes to a tool's command line may grow to what the host lets a program be started
  // with; what goes to the command file, as long as it takes.
  TextList compiler_options{command_line_limit()};
  TextList extend_options{command_line_limit()};
  TextList linker_options{command_line_limit()};
  TextList command_file_options;
  TextList object_list;
  TextList library_list;
  TextList default_libraries;
  TextList command_text{command_line_limit()};
  NameSlot slots[4] = {};
};

extern DriverState state;

// "-g " when debug information was asked for, else "".
const char* debug_option_text();

// Index in `name` where its extension begins (at a '.'), or its length when it has none.
// The first character is never examined, so ".c" has no extension.
std::size_t find_extension(const char* name);

// Index in `name` where its file name begins: just after its last '/', directory
// separator or ':'; 0 when it has none.
std::size_t find_file_name(const char* name);

// Fills a name slot with `name`, its extension replaced by `extension`. Returns the slot's
// text, or nullptr (slot emptied) when the result would not fit.
const char* make_slot_name(int slot, const char* name, const char* extension);

// Shows `message` (a format naming `word`) and fails the run, on standard error or, for the
// messages users of the tool chain know there, on standard output.
void refuse(const char* message, const char* word);
void refuse_on_stdout(const char* message, const char* word);

// Refuses `word` with a message on standard error and status 1: its list is full.
void refuse_full_list(const char* word);

// Appends all `parts` to a list as one entry, or refuses `word` when the list is full.
template <std::size_t N>
void append_or_refuse(char (&list)[N], std::initializer_list<const char*> parts, const char* word) {
  if (!append_text(list, parts)) refuse_full_list(word);
}

inline void append_or_refuse(TextList& list, std::initializer_list<const char*> parts,
                             const char* word) {
  if (!list.append(parts)) refuse_full_list(word);
}

// Refuses `word` because it, or a text made from it, is too long for its field.
void refuse_too_long(const char* word);

bool starts_with(const char* text, const char* prefix);

// Appends the bytes of the file `name` to `text`, read in binary so that a file reads alike
// on every host; false when it cannot be opened or read (a directory opens on some hosts
// but cannot be read).
bool read_whole_file(const char* name, std::string& text);

// What became of reading a text file of the user's (a response or configuration file).
enum class TextFile {
  read,
  absent,      // no file of that name
  unreadable,  // there, but it cannot be read: a folder, no permission
  utf16,       // saved as UTF-16, which no rule for these files can read: not read
};

// Reads the text file `name` whole into `text`, with a UTF-8 byte-order mark at its start
// left out, as editors on Windows put one there.
TextFile read_text_file(const char* name, std::string& text);
