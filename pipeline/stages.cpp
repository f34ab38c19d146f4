#include "pipeline/stages.h"

#include <cstring>
#include <string>

#include "pipeline/compilation_database.h"
#include "pipeline/dependencies.h"
#include "pipeline/effects.h"
#include "pipeline/link.h"
#include "record/driver_state.h"
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
  const TextList* options;  // nullptr: the tool takes none
  OutputFilter filter;
};

const Stage compiler_stage = {"gcc33.exe", first_stage_only,        "-S -x c ",
                              true,        &state.compiler_options, filter_compiler_output};
const Stage preprocessor_stage = {"pp33.exe", first_stage_only, "",
                                  true,       nullptr,          filter_stage_output};
const Stage extender_stage = {"ext33.exe", through_extender,      "",
                              false,       &state.extend_options, filter_stage_output};
const Stage assembler_stage = {"as33.exe", through_assembler, "",
                               true,       nullptr,           filter_stage_output};

const char* options_of(const Stage& stage) {
  return stage.options != nullptr ? stage.options->c_str() : "";
}

bool stage_runs(const Stage& stage) {
  return state.status == 0 && state.stage_limit >= stage.runs_from;
}

// `include_words` stand before the tool's option list: the compiler's search of a copied
// source's own folder.
void run_stage(const Stage& stage, const char* input, const char* output, bool delete_input,
               const char* include_words = "") {
  if (!stage_runs(stage)) return;
  state.command_text.clear();
  const char* debug = stage.takes_debug ? debug_option_text() : "";
  const std::string input_word = command_word(input);
  if (!append_text(state.command_text, {stage.fixed_words, debug, include_words, options_of(stage),
                                        input_word.c_str()})) {
    refuse_too_long(input);
    return;
  }
  state.status = run_tool_effect(stage.tool, state.command_text.c_str(), output, stage.filter);
  if (state.status != 0 && state.delete_temps) delete_file(output);
  if (state.status == 0 && delete_input && state.delete_temps) delete_file(input);
}

// The name a chain derives its files from. Without -o it is the source, whose folder then
// gets them all. With -o they go to the output's folder: named from the output when the run
// stops short of the link, as its one source makes that file, else from each source.
std::string files_base(const char* source) {
  const char* output = state.output_file;
  if (output[0] == '\0') return source;
  if (state.stage_limit < through_link) return output;
  return std::string(output, find_file_name(output)) + (source + find_file_name(source));
}

// The file the chain of `source` makes last: the object, or under -E the compiler's output and
// under -S the extender's, named as -o names it.
std::string chain_output_name(const char* source) {
  if (state.output_file[0] != '\0' && state.stage_limit < through_link) return state.output_file;
  const std::string base = files_base(source);
  const char* extension = state.stage_limit == first_stage_only   ? ".ps"
                          : state.stage_limit == through_extender ? ".ms"
                                                                  : ".o";
  return base.substr(0, find_extension(base.c_str())) + extension;
}

bool same_stem(const char* name, const std::string& other) {
  const std::size_t stem = find_extension(name);
  return stem == find_extension(other.c_str()) && other.compare(0, stem, name, stem) == 0;
}

// A user's file that its tool would not find at `base` with `extension`: copied there, so
// that the tool, which writes beside its input, writes in the output's folder. Returns the
// name the tool is to read; `copied` tells whether there is a copy to delete. A copy that
// fails fails the run, and the chain is walked to its end as after a failed step.
const char* tool_input(const char* name, const std::string& base, const char* extension,
                       std::string& copy, bool& copied) {
  copied = false;
  if (same_stem(name, base)) return name;
  copy = std::string(base, 0, find_extension(base.c_str())) + extension;
  copied = copy_source_effect(name, copy.c_str());
  if (!copied) state.status = 1;
  return copy.c_str();
}

// Under -c, -S or -E with -o, the file of the last stage that ran goes to the name -o gives
// it, where the stage made it under another. Returns the name the file now has.
const char* deliver(const char* made, StageLimit stage) {
  const char* output = state.output_file;
  if (output[0] == '\0' || state.stage_limit != stage || state.status != 0 ||
      std::strcmp(made, output) == 0) {
    return made;
  }
  if (!move_output_effect(made, output)) {
    state.status = 1;
    if (state.delete_temps) delete_file(made);
  }
  return output;
}

// The assembler, then the object to the link and, once it is made, its dependency file: the
// end of every chain. A ".ms" the user gave is never deleted; one the chain made is.
void assemble(const char* source, const char* extended, bool delete_extended) {
  const char* object = make_slot_name(escaped_or_object_slot, extended, ".o");
  run_stage(assembler_stage, extended, object, delete_extended);
  if (state.status == 0 && state.stage_limit >= through_assembler) {
    object = deliver(object, through_assembler);
    write_dependency_file(source, object);
  }
  add_object(object);
}

// Extender and assembler: the part of every chain after its first stage. A ".ps" the user
// gave is never deleted; one the chain made is, once extended.
void finish_chain(const char* source, const char* preprocessed, bool delete_preprocessed = true) {
  const char* extended = make_slot_name(extender_slot, preprocessed, ".ms");
  run_stage(extender_stage, preprocessed, extended, delete_preprocessed);
  deliver(extended, through_extender);
  assemble(source, extended, true);
}

// The include directory goes to the first compile only, after the options given before it;
// one with a blank inside in quotes, as the compiler reads one word, while blanks at its ends
// separate words, as a configuration line has always given them. A compile that succeeds is
// entered in the compilation database, under its source's name; where that fails, its
// output goes, as a step's that failed.
void run_compiler(const char* source, const char* input, const char* output,
                  const char* include_words) {
  if (!stage_runs(compiler_stage)) return;
  if (state.include_dir[0] != '\0') {
    const std::string directory = command_words_of_directory(state.include_dir);
    append_or_refuse(state.compiler_options, {"-I", directory.c_str(), " "}, state.include_dir);
    if (state.status != 0) return;
    copy_text(state.passed_include_dir, state.include_dir);
    state.include_dir[0] = '\0';
  }
  run_stage(compiler_stage, input, output, false, include_words);
  if (state.status != 0) return;
  const std::string options_text = std::string(compiler_stage.fixed_words) + debug_option_text() +
                                   include_words + options_of(compiler_stage);
  add_compile_command(source, chain_output_name(source).c_str(), state.command_text.c_str(),
                      options_text.c_str());
  if (state.status != 0 && state.delete_temps) delete_file(output);
}

// A copy compiled in another folder than its source's finds the headers beside the source,
// as a quoted #include there would, through the source's folder searched first.
std::string source_folder_search(const char* source, const char* copy) {
  const std::size_t folder = find_file_name(source);
  if (folder == find_file_name(copy) && std::strncmp(source, copy, folder) == 0) return "";
  const std::string name = folder == 0 ? "." : std::string(source, folder);
  return "-I" + command_word(name.c_str()) + " ";
}

void run_c_chain(const char* name) {
  const std::string base = files_base(name);
  if (!state.sjis_mode && same_stem(name, base)) {
    state.compiled_source = nullptr;
    run_compiler(name, name, make_slot_name(first_stage_slot, name, ".ps"), "");
    finish_chain(name, state.slots[first_stage_slot].text);
    return;
  }
  const char* escaped = make_slot_name(escaped_or_object_slot, base.c_str(), ".$");
  // The compiler's filter finds the copy's name in its messages by this length, and puts
  // the source's name in its place.
  state.escaped_name_length = static_cast<std::int32_t>(std::strlen(escaped));
  state.compiled_source = name;
  const bool made =
      state.sjis_mode ? escape_source_effect(name, escaped) : copy_source_effect(name, escaped);
  if (!made) state.status = 1;
  const std::string include_words = source_folder_search(name, escaped);
  run_compiler(name, escaped, make_slot_name(first_stage_slot, base.c_str(), ".ps"),
               include_words.c_str());
  if (state.delete_temps) delete_file(escaped);
  finish_chain(name, deliver(state.slots[first_stage_slot].text, first_stage_only));
}

// An assembler source, a ".ps" or a ".ms": its tool reads it, or a copy of it in the output's
// folder, which goes once the tool has read it.
void run_other_chain(const char* name, const char* type) {
  const std::string base = files_base(name);
  std::string copy;
  bool copied = false;
  const char* input = tool_input(name, base, type, copy, copied);
  if (std::strcmp(type, ".s") == 0) {
    run_stage(preprocessor_stage, input, make_slot_name(first_stage_slot, input, ".ps"), false);
    finish_chain(name, deliver(state.slots[first_stage_slot].text, first_stage_only));
  } else if (std::strcmp(type, ".ps") == 0) {
    finish_chain(name, input, false);
  } else {
    assemble(name, input, false);
  }
  if (copied && state.delete_temps) delete_file(copy.c_str());
}

}  // namespace

void run_source_chain(const char* name, const char* type) {
  if (std::strcmp(type, ".c") == 0) {
    run_c_chain(name);
  } else {
    run_other_chain(name, type);
  }
}
