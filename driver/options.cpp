#include "driver/options.h"

#include <cstring>

#include "driver/console.h"
#include "driver/driver_state.h"

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

void set_compilation_database(const char* word) {
  const char* name = word[3] != '\0' ? word + 3 : "compile_commands.json";
  if (!copy_text(state.compilation_database, name)) refuse_too_long(word);
}

void refuse_unknown_option(const char* word) {
  refuse_on_stdout("Unkown Option %s\n", word);
}

// The rows are tried in this order and the first that matches decides; where they
// overlap the order matters ("-lk=" before "-l", "-gp=" before the "-g" family).
void handle_dash_option(const char* word) {
  const char second = word[0] == '\0' ? '\0' : word[1];
  if (is(word, "-g")) {
    state.debug_info = 1;
  } else if (is(word, "-b")) {
    state.delete_temps = 0;
  } else if (is(word, "-E")) {
    state.stage_limit = first_stage_only;
  } else if (is(word, "-S")) {
    state.stage_limit = through_extender;
  } else if (is(word, "-c")) {
    state.stage_limit = through_assembler;
  } else if (is(word, "-v")) {
    state.verbose = 1;
  } else if (starts_with(word, "-gp=")) {
    append_or_refuse(state.extend_options, {"-gp ", word + 4, " "}, word);
  } else if (second != '\0' && std::strchr("OIDW", second)) {
    append_or_refuse(state.compiler_options, {word, " "}, word);
  } else if (starts_with(word, "-lk=")) {
    append_or_refuse(state.extend_options, {"-lk ", word + 4, " "}, word);
  } else if (starts_with(word, "-j=")) {
    append_or_refuse(state.extend_options, {"-j ", word + 3, " "}, word);
  } else if (is(word, "-near")) {
    append_or_refuse(state.extend_options, {"-near "}, word);
  } else if (second == 'J') {
    set_sjis_mode(word + 2);
  } else if (second == 'a') {
    set_start_address(word);
  } else if (second == 'e') {
    set_output_name(word);
  } else if (second == 'l') {
    append_or_refuse(state.linker_options, {"-", word + 2, " "}, word);
  } else if (is(word, "-normwarn")) {
    state.warnings_are_errors = 0;
  } else if (is(word, "-nodefsup")) {
    state.link_startup = 0;
  } else if (is(word, "-nodeflib")) {
    state.link_default_libs = 0;
  } else if (is(word, "-###")) {
    state.dry_run = 1;
  } else if (is(word, "-MD")) {
    state.dependency_files = all_headers;
  } else if (is(word, "-MMD")) {
    state.dependency_files = headers_outside_include_dir;
  } else if (is(word, "-MP")) {
    state.header_rules = 1;
  } else if (starts_with(word, "-MJ")) {
    set_compilation_database(word);
  } else {
    refuse_unknown_option(word);
  }
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
      append_command_file_option(with_dash, name);
      state.plus_state = value_word;
      break;
    case PlusClass::block:
      append_command_file_option(with_dash, name);
      state.plus_state = first_block_word;
      break;
  }
}

bool ends_block(const char* word) {
  std::size_t length = std::strlen(word);
  return length > 0 && word[length - 1] == '}';
}

// A word owed to a pending '+' option is only text for the command file, whatever it
// looks like. The first word of a block is not tested for "}".
void handle_continuation_word(const char* word) {
  const bool ends_the_option =
      state.plus_state == value_word || (state.plus_state == block_words && ends_block(word));
  if (ends_the_option) {
    append_command_file_option(ends_line, word);
    state.plus_state = no_plus_option;
  } else {
    append_command_file_option(0, word);
    state.plus_state = block_words;
  }
}

}  // namespace

void handle_option(const char* word) {
  if (state.plus_state != no_plus_option) {
    handle_continuation_word(word);
  } else if (word[0] == '+') {
    handle_plus_option(word);
  } else {
    handle_dash_option(word);
  }
}

bool plus_option_waits_for_word() {
  return state.plus_state != no_plus_option;
}
