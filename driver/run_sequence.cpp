#include "driver/run_sequence.h"

#include <algorithm>
#include <cstring>

#include "driver/chain_scheduler.h"
#include "driver/command_line_checks.h"
#include "driver/configuration.h"
#include "driver/options.h"
#include "driver/output_option.h"
#include "driver/response_files.h"
#include "driver/run_plan.h"
#include "driver/usage.h"
#include "driver/worker_state.h"
#include "pipeline/dispatch.h"
#include "pipeline/effects.h"
#include "pipeline/link.h"
#include "record/console.h"
#include "record/driver_state.h"
#include "toolrun/platform_host.h"
#include "toolrun/platform_process.h"

// Built from the project's version and the host the build was made for.
constexpr char version_text[] = "vexa " VEXA_VERSION " for " VEXA_SYSTEM " " VEXA_PROCESSOR "\n";

// --help and --version answer wherever they stand, before anything else happens; the first
// of them named wins.
static void answer(Answer asked) {
  if (asked == Answer::help) {
    print_out("%s\n", usage_text);
  } else {
    const int banner_length = static_cast<int>(std::strchr(usage_text, '\n') - usage_text) + 1;
    print_out("%.*s%s", banner_length, usage_text, version_text);
  }
}

bool is_option_word(const char* word) {
  return plus_option_waits_for_word() || word[0] == '-' || word[0] == '+';
}

void handle_argument(const char* word) {
  if (plus_option_waits_for_word()) {
    take_owed_word(word);
  } else if (word[0] == '-' || word[0] == '+') {
    handle_option(word);
  } else {
    dispatch_input(word);
  }
}

// The exit code for `status` on this host: whole where the host passes 32 bits, else
// `status` when it fits in 0..255 and 255 for any other non-zero value.
static int exit_code_from_status(int status) {
  if (exit_code_has_32_bits || (status >= 0 && status <= 255)) return status;
  return 255;
}

// A stop asked for between tools fails the run like a tool killed by that signal.
static void take_interruption() {
  if (state.status == 0 && interrupt_signal() != 0)
    state.status = signal_status(interrupt_signal());
}

// An unusable response file is refused where it stands: the words before it are handled.
static void handle_words_one_at_a_time(const CommandWords& command) {
  for (std::size_t i = 0;; ++i) {
    take_interruption();
    if (state.status != 0) return;
    if (i == command.failure_at) {
      refuse("%s", command.failure_message.c_str());
      return;
    }
    if (i == command.words.size()) return;
    handle_argument(command.words[i].c_str());
  }
}

// With --jobs, the chains run side by side where that is allowed and gains anything.
static void handle_words(const RunPlan& plan, int word_count, const char* const* words) {
  const int jobs =
      plan.jobs == one_per_processor ? std::min(processor_count(), most_jobs) : plan.jobs;
  char program[4096];
  if (jobs > 1 && plan.chains.size() >= 2 && parallel_workers_allowed() &&
      module_file_name(program, sizeof program) > 0) {
    std::vector<const char*> program_words = {program};
    program_words.insert(program_words.end(), words, words + word_count);
    program_words.push_back(nullptr);
    if (handle_words_in_parallel(plan, jobs, program_words.data())) return;
  }
  handle_words_one_at_a_time(*plan.command);
}

// The words are handled as far as a refused response file, and no further.
static void handle_command_line(const RunPlan& plan, int word_count, const char* const* words) {
  if (!check_command_line(plan)) return;
  handle_words(plan, word_count, words);
  take_interruption();
  if (state.file_count == 0) {
    refuse_on_stdout("%s\n", usage_text);
  } else if (state.stage_limit == through_link && state.status == 0) {
    if (state.make_command_file) {
      link_generated();
    } else {
      link_user_command_file();
    }
  }
}

// Output that never arrived fails a run that would otherwise pass: for --help and -### the
// output is all the run makes. A run that failed already keeps its status.
static int finish(int status) {
  flush_out();
  const char* stream = nullptr;
  if (status == 0 && console_write_failed(stream)) {
    print_err("Console write error.'%s'\n", stream);
    return 1;
  }
  return status;
}

int run_driver(int word_count, const char* const* words) {
  setup_console();
  if (WorkerChannel channel; open_worker_channel(worker_state_variable, channel)) {
    // The parent has shown what the configuration says and checked the command line.
    install_interrupt_handlers();
    state.status = run_worker(channel);
    flush_out();
    return exit_code_from_status(state.status);
  }
  const CommandWords command = expand_response_files(word_count, words);
  // What the configuration says waits until it is known that --help does not answer.
  hold_console();
  load_configuration();
  const bool configured = state.status == 0;
  // -o names the files of the chains wherever it stands, so the plan's walk already needs it.
  const bool output_taken =
      configured &&
      take_output_option(command.words, std::min(command.failure_at, command.words.size()));
  const RunPlan plan = plan_run(command);
  if (plan.answer != Answer::none) {
    release_console(false);
    answer(plan.answer);
    return finish(0);
  }
  release_console(true);
  install_interrupt_handlers();
  // A dry run that ran the tools for the words before "-###" would be no dry run.
  if (plan.dry_run) state.dry_run = 1;
  if (output_taken) {
    handle_command_line(plan, word_count, words);
  } else if (!configured) {
    refuse_on_stdout("%s\n", usage_text);
  }
  // What is still buffered goes out before the end: a reader gone meanwhile interrupts.
  flush_out();
  take_interruption();
  return exit_code_from_status(finish(state.status));
}
