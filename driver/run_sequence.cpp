#include "driver/run_sequence.h"

#include "driver/configuration.h"
#include "driver/driver_state.h"
#include "driver/options.h"
#include "driver/usage.h"
#include "pipeline/dispatch.h"
#include "pipeline/link.h"
#include "toolrun/console.h"
#include "toolrun/process.h"

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
