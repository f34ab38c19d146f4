#include "driver/run_sequence.h"

#include "driver/configuration.h"
#include "driver/driver_state.h"
#include "driver/options.h"
#include "pipeline/dispatch.h"
#include "pipeline/link.h"
#include "toolrun/console.h"
#include "toolrun/process.h"

const char usage_text[] =
    "VEXA - EPSON S1C33 GNU C Compiler Driver for LUMO ver1.02\n"
    "Usage: vexa [options...] files...\n"
    "Options:\n"
    "  --------------- for vexa(own) options\n"
    "  -c             : Compile only\n"
    "  -E             : Preprocess only\n"
    "  -S             : Assemble only\n"
    "  -g             : Generate debug information\n"
    "  -b             : Not delete temporary files\n"
    "  -v             : Verbose mode\n"
    "\n"
    "  --------------- for gcc33(Compiler) options\n"
    "  -O<nn>         : Optimize output code\n"
    "  -I<directory>  : Specifies the directoy which include files exist\n"
    "  -D<macro=defn> : Define macro \"macro\" as \"defn\"\n"
    "  -W<warn>       : Set Warning\n"
    "  -J<nn>         : Enable Shift_JIS strings on(=1 def:) / off(=0)\n"
    "\n"
    "  --------------- for ext33 options\n"
    "  -gp=<nn>       : Optimize with global pointer\n"
    "  -lk=<ff>       : Optimize with program information\n"
    "  -near          : Specifies all xjmp and xcall extract 2 instruction\n"
    "  -j=<nn>        : Threshold : specifies jump optimization threshold\n"
    "\n"
    "  --------------- for lk33(Linker) options\n"
    "  -l<lk option>  : Set lk33 option\n"
    "  -normwarn      : Treat warnings as normal warnings!\n"
    "  +<lk option>.. : Set lk33 option(for .cm file)\n"
    "  -a=<xxxx>      : Set start adress\n"
    "  -e<file>       : Set output file\n"
    "  -nodefsup      : Not link default startup object\n"
    "  -nodeflib      : Not link default library\n";

void handle_argument(const char* word) {
  if (state.plus_state != 0 || word[0] == '-' || word[0] == '+') {
    handle_option(word);
  } else {
    dispatch_input(word);
  }
}

// A stop asked for between tools fails the run like a tool killed by that signal.
static void take_interruption() {
  if (state.status == 0 && interrupt_signal() != 0) state.status = 128 + interrupt_signal();
}

int run_driver(int word_count, const char* const* words) {
  setup_console();
  install_interrupt_handlers();
  load_configuration();
  for (int i = 0; i < word_count; ++i) {
    take_interruption();
    if (state.status != 0) break;
    handle_argument(words[i]);
  }
  take_interruption();
  if (state.file_count == 0) {
    print_out("%s\n", usage_text);
    state.status = 1;
  } else if (state.stage_limit >= 3 && state.status == 0) {
    if (state.make_command_file) {
      link_generated();
    } else {
      link_user_command_file();
    }
    take_interruption();
  }
  flush_out();
  return exit_code_from_status(state.status);
}

int exit_code_from_status(int status) {
  if (exit_code_has_32_bits || (status >= 0 && status <= 255)) return status;
  return 255;
}
