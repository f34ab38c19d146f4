#include "pipeline/stages.h"

#include <cstring>
#include <string>

#include "driver/driver_state.h"
#include "pipeline/compilation_database.h"
#include "pipeline/dependencies.h"
#include "pipeline/effects.h"
#include "pipeline/link.h"
#include "toolrun/command_words.h"
#include "toolrun/filters.h"

namespace {

// One row per stage runner: the argument text is fixed_words, then "-g " when the tool
// takes it and -g was given, then the tool's option list, then the input.
struct Stage {
  const char* tool;
  StageLimit runs_from;  // runs while stage_limit is at least this
  const char* fixed_words;
  bool takes_debug;
  const char* options;
  OutputFilter filter;
};

const Stage compiler_stage = {"gcc33.exe", first_stage_only,       "-S -x c ",
                              true,        state.compiler_options, filter_compiler_output};
const Stage preprocessor_stage = {"pp33.exe", first_stage_only, "", true, "", filter_stage_output};
const Stage extender_stage = {"ext33.exe", through_extender,     "",
                              false,       state.extend_options, filter_stage_output};
const Stage assembler_stage = {"as33.exe", through_assembler, "", true, "", filter_stage_output};

bool stage_runs(const Stage& stage) {
  return state.status == 0 && state.stage_limit >= stage.runs_from;
}

void run_stage(const Stage& stage, const char* input, const char* output, bool delete_input) {
  if (!stage_runs(stage)) return;
  state.command_text[0] = '\0';
  const char* debug = stage.takes_debug ? debug_option_text() : "";
  const std::string input_word = command_word(input);
  if (!append_text(state.command_text,
                   {stage.fixed_words, debug, stage.options, input_word.c_str()})) {
    refuse_too_long(input);
    return;
  }
  state.status = run_tool_effect(stage.tool, state.command_text, output, stage.filter);
  if (state.status != 0 && state.delete_temps) delete_file(output);
  if (state.status == 0 && delete_input && state.delete_temps) delete_file(input);
}

// The assembler, then the object to the link and, once it is made, its dependency file: the
// end of every chain. A ".ms" the user gave is never deleted; one the chain made is.
void assemble(const char* source, const char* extended, bool delete_extended) {
  const char* object = make_slot_name(escaped_or_object_slot, extended, ".o");
  run_stage(assembler_stage, extended, object, delete_extended);
  if (state.status == 0 && state.stage_limit >= through_assembler) {
    write_dependency_file(source, object);
  }
  add_object(object);
}

// Extender and assembler: the part of every chain after its first stage. A ".ps" the user
// gave is never deleted; one the chain made is, once extended.
void finish_chain(const char* source, const char* preprocessed, bool delete_preprocessed = true) {
  const char* extended = make_slot_name(extender_slot, preprocessed, ".ms");
  run_stage(extender_stage, preprocessed, extended, delete_preprocessed);
  assemble(source, extended, true);
}

// The include directory goes to the first compile only, after the options given before it;
// one with a blank in quotes, as the compiler reads one word. A compile that succeeds is
// entered in the compilation database, under its source's name; where that fails, its
// output goes, as a step's that failed.
void run_compiler(const char* source, const char* input, const char* output) {
  if (!stage_runs(compiler_stage)) return;
  if (state.include_dir[0] != '\0') {
    const std::string directory = command_word(state.include_dir);
    append_or_refuse(state.compiler_options, {"-I", directory.c_str(), " "}, state.include_dir);
    if (state.status != 0) return;
    copy_text(state.passed_include_dir, state.include_dir);
    state.include_dir[0] = '\0';
  }
  run_stage(compiler_stage, input, output, false);
  if (state.status != 0) return;
  const std::string options_text =
      std::string(compiler_stage.fixed_words) + debug_option_text() + compiler_stage.options;
  add_compile_command(source, state.command_text, options_text.c_str());
  if (state.status != 0 && state.delete_temps) delete_file(output);
}

void run_c_chain(const char* name) {
  if (!state.sjis_mode) {
    run_compiler(name, name, make_slot_name(first_stage_slot, name, ".ps"));
    finish_chain(name, state.slots[first_stage_slot].text);
    return;
  }
  const char* escaped = make_slot_name(escaped_or_object_slot, name, ".$");
  // The compiler's filter finds the copy's name in its messages by this length.
  state.escaped_name_length = static_cast<std::int32_t>(std::strlen(escaped));
  if (!escape_source_effect(name, escaped)) state.status = 1;
  run_compiler(name, escaped, make_slot_name(first_stage_slot, name, ".ps"));
  if (state.delete_temps) delete_file(escaped);
  finish_chain(name, state.slots[first_stage_slot].text);
}

}  // namespace

void run_source_chain(const char* name, const char* type) {
  if (std::strcmp(type, ".c") == 0) {
    run_c_chain(name);
  } else if (std::strcmp(type, ".s") == 0) {
    run_stage(preprocessor_stage, name, make_slot_name(first_stage_slot, name, ".ps"), false);
    finish_chain(name, state.slots[first_stage_slot].text);
  } else if (std::strcmp(type, ".ps") == 0) {
    finish_chain(name, name, false);
  } else if (std::strcmp(type, ".ms") == 0) {
    assemble(name, name, false);
  }
}
