// Everything a run does to the world outside the driver passes through here: starting a
// tool, making the escaped copy, writing a dependency file or the compilation database,
// writing the command file under the folder's lock, deleting a file, and starting --jobs
// workers. This file is the only one that asks whether the run is a dry run (-###), so the
// decision is made once, as a build tool swaps in one dry-run runner: a new effect gets its
// function here and cannot forget -###.
//
// A dry run does no effect and counts each as done. What it shows instead: a tool's command
// line exactly as the tool would get it, the command file's lines indented under the
// linker's, and the name of each dependency file and database that would be written.
// Deletions, the escaped copy and the lock show nothing, and a dry run stays serial.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "toolrun/tool_runner.h"

// Runs the tool (see run_tool), which makes the file `output`, and returns its code; a dry
// run shows its command line.
int run_tool_effect(const char* tool_name, const char* argument_text, const char* output,
                    OutputFilter filter, LineWatch watch = nullptr);

// Writes the Shift_JIS-escaped copy `escaped` of `source`; false, shown, when it fails. A dry
// run writes nothing: the compiler's command line names the copy all the same.
bool escape_source_effect(const char* source, const char* escaped);

// Copies `source` byte for byte to `copy`, for a tool that writes beside its input to write
// in the output's folder; false, shown, when it fails. A dry run writes nothing.
bool copy_source_effect(const char* source, const char* copy);

// Puts the file a stage made, `made`, in the place of the file -o names, `output`; false,
// shown, when it cannot. A dry run moves nothing.
bool move_output_effect(const char* made, const char* output);

// Deletes an intermediate file or a failed step's output (shown under -v); never a folder.
void delete_file(const char* name);

// Runs `update`, which makes and writes one file the user asked for (a dependency file, the
// compilation database); a dry run shows `dry_run_line` with `name` instead.
void update_file_effect(const char* dry_run_line, const char* name,
                        const std::function<void()>& update);

// Writes the command file `name` holding `text`, has `run_linker` run the linker on it and
// deletes it unless temporaries are kept, all under the current folder's lock. A dry run
// shows the linker's command line, then `text`'s lines indented by two blanks.
void link_through_command_file_effect(const char* name, const char* text,
                                      void (*run_linker)(const char* command_file));

// Whether --jobs may start workers: a dry run shows the serial run's command lines.
bool parallel_workers_allowed();

// Has `handle` take `word` as a dry run, whatever this run is: what the word changes in
// DriverState, without an effect (the run is planned so). Each file an effect would write
// or delete meanwhile is added to `files` when it is given, named as the stages name it.
void handle_without_effects(void (*handle)(const char* word), const char* word,
                            std::vector<std::string>* files = nullptr);
