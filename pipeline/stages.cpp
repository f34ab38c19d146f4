#include "pipeline/stages.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "driver/console.h"
#include "driver/driver_state.h"
#include "pipeline/dependencies.h"
#include "pipeline/dispatch.h"
#include "pipeline/sjis_escaper.h"
#include "toolrun/filters.h"
#include "toolrun/tool_runner.h"

namespace {

// One row per stage runner: the argument text is fixed_words, then "-g " when the tool
// takes it and -g was given, then the tool's option list, then the input.
struct Stage {
  const char* tool;
  int runs_above_limit;  // runs only while stage_limit is greater than this
  const char* fixed_words;
  bool takes_debug;
  const char* options;
  OutputFilter filter;
};

const Stage compiler_stage = {"gcc33.exe",           -1, "-S -x c ", true, state.compiler_options,
                              filter_compiler_output};
const Stage preprocessor_stage = {"pp33.exe", -1, "", true, "", filter_stage_output};
const Stage extender_stage = {"ext33.exe", 0, "", false, state.extend_options, filter_stage_output};
const Stage assembler_stage = {"as33.exe", 1, "", true, "", filter_stage_output};

bool stage_runs(const Stage& stage) {
  return state.status == 0 && state.stage_limit > stage.runs_above_limit;
}

void run_stage(const Stage& stage, const char* input, const char* output, int delete_input) {
  state.command_text[0] = '\0';
  const char* debug = stage.takes_debug ? debug_option_text() : "";
  if (!append_text(state.command_text, {stage.fixed_words, debug, stage.options, input})) {
    refuse_too_long(input);
    return;
  }
  state.status = run_tool(stage.tool, state.command_text, stage.filter);
  if (state.status != 0 && state.delete_temps) delete_file(output);
  if (state.status == 0 && delete_input && state.delete_temps) delete_file(input);
}

// The chain's object goes to the link; its dependency file only once the object is made.
void take_object(const char* source, const char* object) {
  if (state.status == 0 && state.stage_limit > 1) write_dependency_file(source, object);
  add_object(object);
}

// Extender and assembler: the part of every chain after its first stage. A ".ps" the user
// gave is never deleted; one the chain made is, once extended.
void finish_chain(const char* source, const char* preprocessed, int delete_preprocessed = 1) {
  const char* extended = make_slot_name(extender_slot, preprocessed, ".ms");
  run_extender(preprocessed, extended, delete_preprocessed);
  const char* object = make_slot_name(escaped_or_object_slot, extended, ".o");
  run_assembler(extended, object, 1);
  take_object(source, object);
}

void run_c_chain(const char* name) {
  if (!state.sjis_mode) {
    run_compiler(name, make_slot_name(first_stage_slot, name, ".ps"), 0);
    finish_chain(name, state.slots[first_stage_slot].text);
    return;
  }
  const char* escaped = make_slot_name(escaped_or_object_slot, name, ".$");
  // The compiler's filter finds the copy's name in its messages by this length.
  state.escaped_name_length = static_cast<std::int32_t>(std::strlen(escaped));
  // A dry run names the copy the escaper would have written.
  if (!state.dry_run && !escape_sjis_source(name, escaped)) state.status = 1;
  run_compiler(escaped, make_slot_name(first_stage_slot, name, ".ps"), 0);
  if (state.delete_temps) delete_file(escaped);
  finish_chain(name, state.slots[first_stage_slot].text);
}

}  // namespace

void run_compiler(const char* input, const char* output, int delete_input) {
  if (!stage_runs(compiler_stage)) return;
  // The include directory goes to the first compile only, after the options given before it.
  if (state.include_dir[0] != '\0') {
    append_or_refuse(state.compiler_options, {"-I", state.include_dir, " "}, state.include_dir);
    if (state.status != 0) return;
    copy_text(state.passed_include_dir, state.include_dir);
    state.include_dir[0] = '\0';
  }
  run_stage(compiler_stage, input, output, delete_input);
}

void run_asm_preprocessor(const char* input, const char* output, int delete_input) {
  if (stage_runs(preprocessor_stage)) run_stage(preprocessor_stage, input, output, delete_input);
}

void run_extender(const char* input, const char* output, int delete_input) {
  if (stage_runs(extender_stage)) run_stage(extender_stage, input, output, delete_input);
}

void run_assembler(const char* input, const char* output, int delete_input) {
  if (stage_runs(assembler_stage)) run_stage(assembler_stage, input, output, delete_input);
}

void run_source_chain(const char* name, const char* type) {
  if (std::strcmp(type, ".c") == 0) {
    run_c_chain(name);
  } else if (std::strcmp(type, ".s") == 0) {
    run_asm_preprocessor(name, make_slot_name(first_stage_slot, name, ".ps"), 0);
    finish_chain(name, state.slots[first_stage_slot].text);
  } else if (std::strcmp(type, ".ps") == 0) {
    finish_chain(name, name, 0);
  } else if (std::strcmp(type, ".ms") == 0) {
    const char* object = make_slot_name(escaped_or_object_slot, name, ".o");
    run_assembler(name, object, 0);
    take_object(name, object);
  }
}

void delete_file(const char* name) {
  if (state.dry_run) return;
  // remove() would take an empty directory too; one named like an intermediate is the user's.
  std::error_code error;
  if (std::filesystem::is_directory(name, error)) return;
  if (state.verbose) print_out("Delete '%s'\n", name);
  std::remove(name);
}
