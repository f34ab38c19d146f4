#include "driver/output_option.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "driver/command_line_checks.h"
#include "driver/options.h"
#include "record/driver_state.h"

namespace {

const char missing_file[] = "Missing file name after '%s'\n";
const char one_output_for_many[] =
    "Cannot specify '%s' with '-c', '-S' or '-E' with multiple files\n";
const char same_files[] =
    "Source '%s' would make the same files as another source in the "
    "output's folder\n";

bool is_source(const char* word) {
  const char* extension = word + find_extension(word);
  for (const char* type : {".c", ".s", ".ps", ".ms"}) {
    if (std::strcmp(extension, type) == 0) return true;
  }
  return false;
}

// The words of the command line that matter to -o, as handle_argument will take them.
struct OutputWords {
  const char* output = nullptr;
  const char* output_word = nullptr;  // the -o word itself
  bool command_file = false;
  std::uint8_t plus_state_at_end = 0;
  StageLimit stage_limit = through_link;
  std::vector<const char*> inputs, sources;
};

OutputWords find_output_words(const std::vector<std::string>& words, std::size_t count) {
  OutputWords found;
  found.stage_limit = static_cast<StageLimit>(state.stage_limit);
  std::uint8_t plus_state = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char* word = words[i].c_str();
    const std::uint8_t owed = plus_state;
    plus_state = plus_state_after(plus_state, word);
    if (owed_to_output_option(owed)) found.output = word;
    if (owed != 0) continue;
    if (starts_with(word, "-o")) {
      found.output_word = word;
      if (word[2] != '\0') found.output = word + 2;
    }
    if (std::strcmp(word, "-E") == 0) found.stage_limit = first_stage_only;
    if (std::strcmp(word, "-S") == 0) found.stage_limit = through_extender;
    if (std::strcmp(word, "-c") == 0) found.stage_limit = through_assembler;
    if (word[0] != '-' && word[0] != '+') {
      found.inputs.push_back(word);
      const char* extension = word + find_extension(word);
      found.command_file = found.command_file || std::strcmp(extension, ".cm") == 0;
      if (is_source(word)) found.sources.push_back(word);
    }
  }
  found.plus_state_at_end = plus_state;
  return found;
}

// By file identity, not spelling: "./a.c" is a.c.
bool is_an_input(const OutputWords& found) {
  for (const char* input : found.inputs) {
    std::error_code error;
    if (std::filesystem::equivalent(found.output, input, error)) return true;
  }
  return false;
}

// The chains of a link put their files in the output's folder under each source's own name,
// where A.c and a.s name the same files if letter case is ignored.
const char* source_sharing_files(const OutputWords& found) {
  std::vector<std::string> stems;
  for (const char* source : found.sources) {
    const std::size_t start = find_file_name(source);
    std::string stem(source + start, find_extension(source) - start);
    for (char& c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (std::find(stems.begin(), stems.end(), stem) != stems.end()) return source;
    stems.push_back(std::move(stem));
  }
  return nullptr;
}

}  // namespace

bool take_output_option(const std::vector<std::string>& words, std::size_t count) {
  const OutputWords found = find_output_words(words, count);
  if (refuse_missing_value(found.plus_state_at_end)) return false;
  if (found.output == nullptr) return true;
  const bool stage_limited = found.stage_limit < through_link;
  const char* shared = stage_limited ? nullptr : source_sharing_files(found);
  if (found.output[0] == '\0') {
    refuse(missing_file, "-o");
  } else if (std::strlen(found.output) > longest_name) {
    refuse_too_long(found.output);
  } else if (!stage_limited && found.command_file) {
    refuse(option_beside_command_file, found.output_word);
  } else if (is_an_input(found)) {
    refuse(output_is_input, found.output);
  } else if (stage_limited && found.sources.size() > 1) {
    refuse(one_output_for_many, "-o");
  } else if (shared != nullptr) {
    refuse(same_files, shared);
  } else {
    copy_text(state.output_file, found.output);
    state.stage_limit = found.stage_limit;
    return true;
  }
  return false;
}
