#include "driver/options.h"

#include <cstring>

#include "record/driver_state.h"
#include "toolrun/platform_process.h"

namespace {

// What a '+' option takes and writes.
enum class PlusClass {
  unknown,
  always_written,  // accepted; the command file always carries its line
  own_line,        // a line of its own
  value,           // the next word is the value and ends the line
  block,           // a word, then words up to one that ends in "}"
};

struct PlusOption {
  const char* name;
  PlusClass option_class;
};

// clang-format off
constexpr PlusOption plus_option_table[] = {
    {"v3", PlusClass::always_written},
    {"objsym", PlusClass::always_written},
    {"m", PlusClass::own_line},
    {"s", PlusClass::own_line},
    {"cref", PlusClass::own_line},
    {"g", PlusClass::own_line},
    {"e", PlusClass::own_line},
    {"w", PlusClass::own_line},
    {"d", PlusClass::own_line},
    {"ld", PlusClass::own_line},
    {"inclink", PlusClass::own_line},
    {"o", PlusClass::value},
    {"l", PlusClass::value},
    {"defsym", PlusClass::value},
    {"align", PlusClass::value},
    {"defaddr", PlusClass::value},
    {"codeblock", PlusClass::block},
    {"datablock", PlusClass::block},
    {"bssblock", PlusClass::block},
    {"ucodeblock", PlusClass::block},
    {"udatablock", PlusClass::block},
    {"ubssblock", PlusClass::block},
    {"addr", PlusClass::block},
};
// clang-format on

// What the next word is owed to while a '+' option is pending.
enum PlusState : std::uint8_t {
  no_plus_option = 0,
  value_word = 1,   // ends the option's line
  block_words = 2,  // until a word whose last character is '}'
  first_block_word = 3,
  output_word = 4,           // the file "-o" names
  dependency_file_word = 5,  // the file "-MF" names
  target_word = 6,           // the target "-MT" names
  quoted_target_word = 7,    // the target "-MQ" names
};

// The '-' options that, alone, take the next word as their value, as other compilers read
// them, and what that word is owed to.
struct ValueOption {
  const char* name;
  PlusState owed;
  const char* missing;  // the refusal when the command line ends before the value
};

constexpr ValueOption value_options[] = {
    {"-o", output_word, "Missing file name after '%s'\n"},
    {"-MF", dependency_file_word, "Missing file name after '%s'\n"},
    {"-MT", target_word, "Missing target after '%s'\n"},
    {"-MQ", quoted_target_word, "Missing target after '%s'\n"},
};

// Flags of append_command_file_option.
constexpr unsigned ends_line = 1;
constexpr unsigned with_dash = 2;

bool is(const char* word, const char* literal) {
  return std::strcmp(word, literal) == 0;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The value is kept modulo 256 while it is read, as the field is one byte.
void set_sjis_mode(const char* digits) {
  if (!is_digit(digits[0])) return;
  unsigned value = 0;
  for (; is_digit(*digits); ++digits) value = (value * 10 + (*digits - '0')) % 256;
  state.sjis_mode = static_cast<std::uint8_t>(value);
}

// "-a=<value>" sets the start address; "-a" followed by anything else removes it.
void set_start_address(const char* word) {
  if (word[2] != '=') {
    state.start_address[0] = '\0';
  } else if (!copy_text(state.start_address, word + 3)) {
    refuse_too_long(word);
  }
}

void set_output_name(const char* word) {
  if (!copy_text(state.slots[output_slot].text, word + 2)) refuse_too_long(word);
}

// -o names the program as -e does, the later of the two winning; what it names under -c, -S
// or -E was taken from the whole command line before any word (see output_option.h).
void set_program_name(const char* name, const char* word) {
  if (!copy_text(state.slots[output_slot].text, name)) refuse_too_long(word);
}

// With -o the stage words were taken from the whole command line, as other compilers read
// them; without it each acts from where it stands.
void set_stage_limit(StageLimit limit) {
  if (state.output_file[0] == '\0') state.stage_limit = limit;
}

void set_dependency_file(const char* name, const char* word) {
  if (!copy_text(state.dependency_file, name)) refuse_too_long(word);
}

void add_dependency_target(char mark, const char* name, const char* word) {
  if (std::strlen(name) > longest_name) {
    refuse_too_long(word);
    return;
  }
  const char marked[] = {mark, '\0'};
  append_or_refuse(state.dependency_targets, {marked, name, "\n"}, word);
}

void set_compilation_database(const char* word) {
  const char* name = word[3] != '\0' ? word + 3 : "compile_commands.json";
  if (!copy_text(state.compilation_database, name)) refuse_too_long(word);
}

void refuse_unknown_option(const char* word) {
  refuse_on_stdout("Unkown Option %s\n", word);
}

void append_compiler_option(const char* word) {
  append_or_refuse(state.compiler_options, {word, " "}, word);
}

// How a '-' option's row recognises its word.
enum class DashMatch {
  exact,        // the word is the pattern
  prefix,       // the word begins with the pattern
  second_char,  // the word's second character is one of the pattern's
};

struct DashOption {
  DashMatch match;
  const char* pattern;
  void (*apply)(const char* word);
};

// The rows are tried in this order and the first that matches decides; where they
// overlap the order matters ("-lk=" before "-l", "-gp=" before the "-g" family).
// clang-format off
constexpr DashOption dash_option_table[] = {
    {DashMatch::exact, "-g", [](const char*) { state.debug_info = 1; }},
    {DashMatch::exact, "-b", [](const char*) { state.delete_temps = 0; }},
    {DashMatch::exact, "-E", [](const char*) { set_stage_limit(first_stage_only); }},
    {DashMatch::exact, "-S", [](const char*) { set_stage_limit(through_extender); }},
    {DashMatch::exact, "-c", [](const char*) { set_stage_limit(through_assembler); }},
    {DashMatch::exact, "-v", [](const char*) { state.verbose = 1; }},
    {DashMatch::prefix, "-gp=", [](const char* word) {
       append_or_refuse(state.extend_options, {"-gp ", word + 4, " "}, word); }},
    {DashMatch::second_char, "OIDW", append_compiler_option},
    {DashMatch::prefix, "-lk=", [](const char* word) {
       append_or_refuse(state.extend_options, {"-lk ", word + 4, " "}, word); }},
    {DashMatch::prefix, "-j=", [](const char* word) {
       append_or_refuse(state.extend_options, {"-j ", word + 3, " "}, word); }},
    {DashMatch::exact, "-near", [](const char* word) {
       append_or_refuse(state.extend_options, {"-near "}, word); }},
    {DashMatch::second_char, "J", [](const char* word) { set_sjis_mode(word + 2); }},
    {DashMatch::second_char, "a", set_start_address},
    {DashMatch::second_char, "e", set_output_name},
    {DashMatch::second_char, "l", [](const char* word) {
       append_or_refuse(state.linker_options, {"-", word + 2, " "}, word); }},
    // "-o" alone leaves its file to the next word (see plus_state_after).
    {DashMatch::second_char, "o", [](const char* word) {
       if (word[2] != '\0') set_program_name(word + 2, word); }},
    {DashMatch::exact, "-normwarn", [](const char*) { state.warnings_are_errors = 0; }},
    {DashMatch::exact, "-nodefsup", [](const char*) { state.link_startup = 0; }},
    {DashMatch::exact, "-nodeflib", [](const char*) { state.link_default_libs = 0; }},
    {DashMatch::exact, "-###", [](const char*) { state.dry_run = 1; }},
    {DashMatch::exact, "-MD", [](const char*) { state.dependency_files = all_headers; }},
    {DashMatch::exact, "-MMD", [](const char*) {
       state.dependency_files = headers_outside_include_dir; }},
    {DashMatch::exact, "-MP", [](const char*) { state.header_rules = 1; }},
    {DashMatch::prefix, "-MJ", set_compilation_database},
    // Alone, each leaves its value to the next word (see plus_state_after).
    {DashMatch::prefix, "-MF", [](const char* word) {
       if (word[3] != '\0') set_dependency_file(word + 3, word); }},
    {DashMatch::prefix, "-MT", [](const char* word) {
       if (word[3] != '\0') add_dependency_target('T', word + 3, word); }},
    {DashMatch::prefix, "-MQ", [](const char* word) {
       if (word[3] != '\0') add_dependency_target('Q', word + 3, word); }},
    // Counted before the first word, like -###; only a bad N is acted on here.
    {DashMatch::prefix, "--jobs", [](const char* word) {
       if (jobs_named_by(word) == 0) refuse_unknown_option(word); }},
};
// clang-format on

bool matches(const DashOption& option, const char* word) {
  switch (option.match) {
    case DashMatch::exact:
      return is(word, option.pattern);
    case DashMatch::prefix:
      return starts_with(word, option.pattern);
    case DashMatch::second_char:
      return word[0] != '\0' && word[1] != '\0' && std::strchr(option.pattern, word[1]);
  }
  return false;
}

void handle_dash_option(const char* word) {
  for (const DashOption& option : dash_option_table) {
    if (matches(option, word)) {
      option.apply(word);
      return;
    }
  }
  refuse_unknown_option(word);
}

PlusClass find_plus_option_class(const char* name) {
  for (const PlusOption& option : plus_option_table) {
    if (is(name, option.name)) return option.option_class;
  }
  return PlusClass::unknown;
}

void append_command_file_option(unsigned flags, const char* text) {
  append_or_refuse(state.command_file_options,
                   {flags & with_dash ? "-" : "", text, flags & ends_line ? "\n" : " "}, text);
}

void handle_plus_option(const char* word) {
  const char* name = word + 1;
  switch (find_plus_option_class(name)) {
    case PlusClass::unknown:
      refuse("err options '%s'\n", word);
      break;
    case PlusClass::always_written:
      break;
    case PlusClass::own_line:
      append_command_file_option(with_dash | ends_line, name);
      break;
    case PlusClass::value:
    case PlusClass::block:
      append_command_file_option(with_dash, name);
      break;
  }
}

bool ends_block(const char* word) {
  std::size_t length = std::strlen(word);
  return length > 0 && word[length - 1] == '}';
}

}  // namespace

std::uint8_t plus_state_after(std::uint8_t plus_state, const char* word) {
  switch (plus_state) {
    case value_word:
      return no_plus_option;
    case first_block_word:
      return block_words;
    case block_words:
      return ends_block(word) ? no_plus_option : block_words;
    case output_word:
    case dependency_file_word:
    case target_word:
    case quoted_target_word:
      return no_plus_option;
  }
  for (const ValueOption& option : value_options) {
    if (is(word, option.name)) return option.owed;
  }
  if (word[0] != '+') return no_plus_option;
  switch (find_plus_option_class(word + 1)) {
    case PlusClass::value:
      return value_word;
    case PlusClass::block:
      return first_block_word;
    default:
      return no_plus_option;
  }
}

// A word owed to a pending '+' option is only text for the command file, whatever it
// looks like; the word that completes the option ends its line.
static void take_command_file_word(const char* word) {
  const std::uint8_t next = plus_state_after(state.plus_state, word);
  append_command_file_option(next == no_plus_option ? ends_line : 0, word);
  if (state.plus_option_names_program && !copy_text(state.program_name, word)) {
    refuse_too_long(word);
  }
  state.plus_option_names_program = 0;
  state.plus_state = next;
}

void take_owed_word(const char* word) {
  switch (state.plus_state) {
    case output_word:
      set_program_name(word, word);
      break;
    case dependency_file_word:
      set_dependency_file(word, word);
      break;
    case target_word:
      add_dependency_target('T', word, word);
      break;
    case quoted_target_word:
      add_dependency_target('Q', word, word);
      break;
    default:
      take_command_file_word(word);
      return;
  }
  state.plus_state = no_plus_option;
}

void handle_option(const char* word) {
  if (word[0] == '+') {
    handle_plus_option(word);
  } else {
    handle_dash_option(word);
  }
  state.plus_state = plus_state_after(no_plus_option, word);
  state.plus_option_names_program = is(word, "+o");
}

int jobs_named_by(const char* word) {
  if (is(word, "--jobs")) return one_per_processor;
  if (!starts_with(word, "--jobs=")) return 0;
  const char* digits = word + 7;
  int jobs = 0;
  for (; is_digit(*digits) && jobs <= most_jobs; ++digits) jobs = jobs * 10 + (*digits - '0');
  return *digits == '\0' && jobs >= 1 && jobs <= most_jobs ? jobs : 0;
}

bool plus_option_waits_for_word() {
  return state.plus_state != no_plus_option;
}

bool owed_to_output_option(std::uint8_t plus_state) {
  return plus_state == output_word;
}

bool refuse_missing_value(std::uint8_t plus_state) {
  for (const ValueOption& option : value_options) {
    if (option.owed == plus_state) {
      refuse(option.missing, option.name);
      return true;
    }
  }
  return false;
}
