#include "driver/command_line_checks.h"

#include <cstring>
#include <string>

#include "driver/driver_state.h"
#include "driver/options.h"
#include "toolrun/platform_files.h"

namespace {

const char unfinished_plus_option[] = "err options '%s'\n";
const char lost_beside_command_file[] = "File '%s' cannot be linked together with a command file\n";
const char option_beside_command_file[] =
    "Option '%s' cannot be linked together with a command file\n";
const char output_is_input[] = "Output file '%s' is one of the input files\n";

// The words that matter to the link, as handle_argument will take them.
struct LinkWords {
  const char* pending_plus_option = nullptr;  // a '+' option still owed a word at the end
  const char* first_plus_option = nullptr;
  const char* output_option = nullptr;  // the last -e word; its value names the program
  const char* first_library = nullptr;
  bool command_file = false;
  std::vector<const char*> inputs;
};

bool has_extension(const char* name, const char* extension) {
  return std::strcmp(name + find_extension(name), extension) == 0;
}

LinkWords find_link_words(const std::vector<std::string>& words, std::size_t count) {
  LinkWords found;
  std::uint8_t plus_state = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char* word = words[i].c_str();
    const std::uint8_t owed = plus_state;
    plus_state = plus_state_after(plus_state, word);
    if (owed != 0) continue;
    if (word[0] == '+') {
      if (found.first_plus_option == nullptr) found.first_plus_option = word;
      found.pending_plus_option = word;
    } else if (starts_with(word, "-e")) {
      found.output_option = word;
    } else if (word[0] != '-') {
      found.inputs.push_back(word);
      found.command_file = found.command_file || has_extension(word, ".cm");
      if (found.first_library == nullptr && has_extension(word, ".lib")) found.first_library = word;
    }
  }
  if (plus_state == 0) found.pending_plus_option = nullptr;
  return found;
}

// By file identity, not spelling: "./util.c", another letter case where the file system
// ignores it, or on Windows another drive letter for the folder, is the same file.
const char* input_named(const LinkWords& found, const char* output) {
  std::string output_identity, input_identity;
  if (!file_identity(output, output_identity)) return nullptr;
  for (const char* input : found.inputs) {
    if (file_identity(input, input_identity) && input_identity == output_identity) return input;
  }
  return nullptr;
}

}  // namespace

// A user's command file names everything the linker gets, so libraries, '+' options and
// -e given beside it would be left out of the link without a word. A link that fails
// deletes its output, so an output that is an input would cost the user that file.
bool check_command_line(const std::vector<std::string>& words, std::size_t count) {
  const LinkWords found = find_link_words(words, count);
  const char* output = found.output_option != nullptr ? found.output_option + 2 : "";
  if (found.pending_plus_option != nullptr) {
    refuse(unfinished_plus_option, found.pending_plus_option);
  } else if (found.command_file && found.first_library != nullptr) {
    refuse(lost_beside_command_file, found.first_library);
  } else if (found.command_file && found.first_plus_option != nullptr) {
    refuse(option_beside_command_file, found.first_plus_option);
  } else if (found.command_file && output[0] != '\0') {
    refuse(option_beside_command_file, found.output_option);
  } else if (output[0] != '\0' && input_named(found, output) != nullptr) {
    refuse(output_is_input, output);
  } else {
    return true;
  }
  return false;
}
