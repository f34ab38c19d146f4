#include "driver/command_line_checks.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>

#include "pipeline/dispatch.h"
#include "pipeline/link.h"
#include "record/driver_state.h"
#include "toolrun/platform_files.h"

namespace {

const char unfinished_plus_option[] = "err options '%s'\n";
const char file_beside_command_file[] = "File '%s' cannot be linked together with a command file\n";
const char command_file_beside_objects[] =
    "Command file '%s' cannot be linked together with object files\n";
const char second_command_file[] = "Command file '%s' follows another command file\n";
const char output_is_command_file[] = "Output file '%s' is the linker's command file\n";
const char option_without_value[] = "Option '%s' without a value\n";
const char name_with_line_break[] = "Name holding a line break '%s'\n";
const char made_file_is_input[] = "Input file '%s' is one of the files '%s' makes\n";

// The words that matter to the link and to the names, in the roles the plan gave them.
struct LinkWords {
  const char* first_plus_option = nullptr;
  const char* output_option = nullptr;       // the last -e word
  const char* first_link_setting = nullptr;  // -a..., -nodefsup, -nodeflib: the generated file's
  const char* first_library = nullptr;
  const char* bare_value_option = nullptr;  // -I or -D with nothing attached
  const char* line_break = nullptr;         // the first name or command-file text holding one
  bool command_file = false;
  std::vector<const char*> inputs;
};

bool is(const char* word, const char* literal) {
  return std::strcmp(word, literal) == 0;
}

bool holds_line_break(const char* word) {
  return std::strpbrk(word, "\r\n") != nullptr;
}

void sort_option(LinkWords& found, const char* word) {
  if (word[0] == '+' && found.first_plus_option == nullptr) found.first_plus_option = word;
  if (starts_with(word, "-e")) found.output_option = word;
  if (found.first_link_setting == nullptr &&
      (starts_with(word, "-a") || is(word, "-nodefsup") || is(word, "-nodeflib"))) {
    found.first_link_setting = word;
  }
  if (found.bare_value_option == nullptr && (is(word, "-I") || is(word, "-D"))) {
    found.bare_value_option = word;
  }
}

LinkWords find_link_words(const RunPlan& plan) {
  LinkWords found;
  for (std::size_t i = 0; i < plan.roles.size(); ++i) {
    const char* word = plan.command->words[i].c_str();
    const bool names_something = plan.roles[i] != WordRole::option || word[0] == '+' ||
                                 starts_with(word, "-e") || starts_with(word, "-MJ");
    if (found.line_break == nullptr && names_something && holds_line_break(word)) {
      found.line_break = word;
    }
    if (plan.roles[i] == WordRole::option) sort_option(found, word);
    if (plan.roles[i] != WordRole::input) continue;
    found.inputs.push_back(word);
    const InputKind kind = input_kind(word);
    found.command_file = found.command_file || kind == InputKind::command_file;
    if (found.first_library == nullptr && kind == InputKind::library) found.first_library = word;
  }
  return found;
}

// By file identity, not spelling: "./util.c", a link, or another letter case where the file
// system ignores it, is the same file. Names of files not there compare as written, tidied.
std::string file_key(const char* name) {
  std::string identity;
  if (file_identity(name, identity)) return "=" + identity;
  return ":" + std::filesystem::path(name).lexically_normal().generic_string();
}

// Each input's key, looked up by the key of a name: one look at each file, however many
// names are compared with the inputs.
struct InputKeys {
  explicit InputKeys(const LinkWords& found) {
    for (const char* input : found.inputs) keys.emplace(file_key(input), input);
  }
  const char* input_named(const char* name) const {
    const auto found = keys.find(file_key(name));
    return found == keys.end() ? nullptr : found->second;
  }
  std::unordered_map<std::string, const char*> keys;
};

// Whether `output` names the command file the link writes in the current folder: by its
// folder's identity and its name, so that the command file itself, which another run's link
// may be writing meanwhile, is never opened.
bool is_generated_command_file(const char* output) {
  const std::filesystem::path path = std::filesystem::path(output).lexically_normal();
  if (path.filename() != generated_command_file) return false;
  const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
  return file_key(folder.c_str()) == file_key(".");
}

// The program's name as the user gave it: the last +o word, else -e's value; "" for none.
const char* named_program(const RunPlan& plan, const LinkWords& found) {
  if (plan.program_word != no_word) return plan.command->words[plan.program_word].c_str();
  return found.output_option != nullptr ? found.output_option + 2 : "";
}

// Inputs beside a command file, in word order as the serial run would meet them: only a
// refusal standing before the plan's first refused word is this check's.
bool refuse_input_beside_command_file(const RunPlan& plan) {
  bool command_file = false;
  bool objects = false;
  for (std::size_t i = 0; i < plan.roles.size() && i < plan.refused_at; ++i) {
    if (plan.roles[i] != WordRole::input) continue;
    const char* word = plan.command->words[i].c_str();
    const InputKind kind = input_kind(word);
    if (kind == InputKind::command_file) {
      if (command_file) refuse(second_command_file, word);
      if (!command_file && objects) refuse(command_file_beside_objects, word);
      if (command_file || objects) return true;
      command_file = true;
    } else if (kind == InputKind::source || kind == InputKind::object) {
      if (command_file) {
        refuse(file_beside_command_file, word);
        return true;
      }
      objects = true;
    }
  }
  return false;
}

// A chain that wrote over or deleted one of the inputs would cost the user that file. The
// compilation database is every run's, not a chain's own, and is never opened here: on
// Windows a look at it would keep another run from replacing it.
bool refuse_input_a_chain_makes(const RunPlan& plan, const InputKeys& inputs) {
  for (const PlannedChain& chain : plan.chains) {
    for (const std::string& file : chain.files) {
      if (file == chain.before.compilation_database) continue;
      if (const char* input = inputs.input_named(file.c_str())) {
        char message[2 * name_size + 64];
        std::snprintf(message, sizeof message, made_file_is_input, input,
                      plan.command->words[chain.word].c_str());
        refuse("%s", message);
        return true;
      }
    }
  }
  return false;
}

}  // namespace

// A user's command file names everything the linker gets, so libraries, '+' options and
// the link settings given beside it would be left out of the link without a word. A link
// that fails deletes its output, so an output that is an input would cost the user that
// file, and one that is the command file would be overwritten by it.
bool check_command_line(const RunPlan& plan) {
  const LinkWords found = find_link_words(plan);
  const InputKeys inputs(found);
  const char* output = named_program(plan, found);
  const bool links_generated = plan.at_stop.stage_limit == through_link && !found.command_file;
  if (plan.pending_plus_option != no_word) {
    refuse(unfinished_plus_option, plan.command->words[plan.pending_plus_option].c_str());
  } else if (found.command_file && found.first_library != nullptr) {
    refuse(file_beside_command_file, found.first_library);
  } else if (found.command_file && found.first_plus_option != nullptr) {
    refuse(option_beside_command_file, found.first_plus_option);
  } else if (found.command_file && found.output_option != nullptr &&
             found.output_option[2] != '\0') {
    refuse(option_beside_command_file, found.output_option);
  } else if (output[0] != '\0' && inputs.input_named(output) != nullptr) {
    refuse(output_is_input, output);
  } else if (found.command_file && found.first_link_setting != nullptr) {
    refuse(option_beside_command_file, found.first_link_setting);
  } else if (links_generated && is_generated_command_file(output)) {
    refuse(output_is_command_file, output);
  } else if (found.bare_value_option != nullptr) {
    refuse(option_without_value, found.bare_value_option);
  } else if (found.line_break != nullptr) {
    refuse(name_with_line_break, found.line_break);
  } else if (!refuse_input_beside_command_file(plan) && !refuse_input_a_chain_makes(plan, inputs)) {
    return true;
  }
  return false;
}
