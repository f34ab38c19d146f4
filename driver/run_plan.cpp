#include "driver/run_plan.h"

#include <cstring>

#include "driver/options.h"
#include "driver/run_sequence.h"
#include "pipeline/dispatch.h"
#include "pipeline/effects.h"
#include "record/console.h"

namespace {

// Help, version, -### and --jobs are read from option words only, wherever they stand.
void note_option(RunPlan& plan, const char* word) {
  if (plan.answer == Answer::none && std::strcmp(word, "--help") == 0) plan.answer = Answer::help;
  if (plan.answer == Answer::none && std::strcmp(word, "--version") == 0) {
    plan.answer = Answer::version;
  }
  if (std::strcmp(word, "-###") == 0) plan.dry_run = true;
  if (const int jobs = jobs_named_by(word)) plan.jobs = jobs;
}

void note_refusal(RunPlan& plan, std::size_t word, const DriverState& before, bool in_chain) {
  if (plan.refused_at != no_word) return;
  plan.refused_at = word;
  plan.refused_in_chain = in_chain;
  plan.at_stop = before;
}

}  // namespace

// The words after a refusal are walked on too, for the options that answer wherever they
// stand; what they do to the state counts for nothing.
RunPlan plan_run(const CommandWords& command) {
  RunPlan plan;
  plan.command = &command;
  const DriverState start = state;
  const bool started_refused = state.status != 0;
  // The option the owed words belong to: a '+' option, or a '-' option whose value is the
  // next word (-o, -MF, -MT, -MQ).
  std::size_t plus_option = no_word;
  DriverState before;
  mute_console(true);
  for (std::size_t i = 0; i < command.words.size(); ++i) {
    const bool counted = i < command.failure_at;
    if (i == command.failure_at) {
      note_refusal(plan, i, state, false);
      if (plus_option_waits_for_word()) plan.pending_plus_option = plus_option;
    }
    const char* word = command.words[i].c_str();
    const bool owed = plus_option_waits_for_word();
    const bool option = !owed && is_option_word(word);
    const WordRole role = owed ? WordRole::owed : option ? WordRole::option : WordRole::input;
    if (option) note_option(plan, word);
    if (option) plus_option = i;
    std::vector<std::string>* files = nullptr;
    if (counted) {
      plan.roles.push_back(role);
      if (owed && command.words[plus_option] == "+o") plan.program_word = i;
      if (plan.refused_at == no_word) {
        before = state;
        if (role == WordRole::input && starts_source_chain(word)) {
          plan.chains.push_back({i, state, {}});
          files = &plan.chains.back().files;
        }
      }
    }
    handle_without_effects(handle_argument, word, files);
    if (state.status != 0 && !started_refused) note_refusal(plan, i, before, files != nullptr);
  }
  if (command.failure_at >= command.words.size() && plus_option_waits_for_word()) {
    plan.pending_plus_option = plus_option;
  }
  if (command.failure_at == command.words.size())
    note_refusal(plan, command.failure_at, state, false);
  if (plan.refused_at == no_word) plan.at_stop = state;
  mute_console(false);
  state = start;
  return plan;
}
