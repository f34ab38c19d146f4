#include "driver/chain_scheduler.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/run_sequence.h"
#include "driver/worker_state.h"
#include "record/console.h"
#include "record/driver_state.h"
#include "toolrun/platform_files.h"
#include "toolrun/platform_process.h"
#include "toolrun/tool_runner.h"

namespace {

constexpr std::size_t none = no_word;

// Output that cannot be shown yet is held as frames {stream, length, bytes}: in memory while
// all chains together hold little, beyond that in a scratch file of the chain's own, so that
// the driver stays small whatever the tools print.
constexpr std::size_t memory_for_held_output = 256 * 1024;
std::size_t held_in_memory = 0;

struct HeldOutput {
  std::string memory;
  std::FILE* file = nullptr;
  std::string file_name;
  bool lost = false;  // the scratch file failed: the chain's output cannot all be shown
};

constexpr const char* scratch_write_error = "Scratch file write error.'%s'\n";
constexpr const char* scratch_read_error = "Scratch file read error.'%s'\n";
constexpr const char* not_a_fifo_warning =
    "vexa: jobserver '%s' is not a FIFO and was left alone; the chains run one at a time\n";
constexpr const char* jobs_lowered_note =
    "--jobs=%d lowered to %d chains at once by the limit on %s\n";

// A.c and a.s name one set of files where names ignore letter case; taking them for one
// everywhere costs only a wait.
std::string files_stem_of(const char* word) {
  std::string stem(word, find_extension(word));
  for (char& c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return stem;
}

enum class Phase { waiting, running, ended };

struct Chain;

// One of the run's places for a chain: a worker, once started, and the chain it runs.
struct Place {
  WorkerProcess worker;  // no process while none has been started here
  Chain* chain = nullptr;
};

struct Chain {
  Chain(std::size_t word_index, const char* word)
      : word(word_index), files_stem(files_stem_of(word)) {}

  std::size_t word;
  // The source's name without its extension: all its intermediates and its object share it.
  std::string files_stem;
  Phase phase = Phase::waiting;
  Place* place = nullptr;  // where it runs, once started
  int status = 0;
  bool holds_token = false;
  char token = 0;
  HeldOutput held;
};

char relay_buffer[16 * 1024];

// A scratch file that fails loses the chain's output: the run fails, saying so.
void lose(HeldOutput& held, const char* message) {
  if (!held.lost) print_err(message, held.file_name.c_str());
  held.lost = true;
}

void hold(HeldOutput& held, int stream, const char* bytes, std::size_t count) {
  if (held.lost) return;
  const std::uint32_t length = static_cast<std::uint32_t>(count);
  char frame[1 + sizeof length];
  frame[0] = static_cast<char>(stream);
  std::memcpy(frame + 1, &length, sizeof length);
  if (held.file == nullptr && held_in_memory + sizeof frame + count > memory_for_held_output) {
    held.file = create_scratch_file(held.file_name);
  }
  if (held.file == nullptr) {  // no scratch file to be had: memory it is
    held.memory.append(frame, sizeof frame).append(bytes, count);
    held_in_memory += sizeof frame + count;
  } else if (std::fwrite(frame, 1, sizeof frame, held.file) != sizeof frame ||
             std::fwrite(bytes, 1, count, held.file) != count) {
    lose(held, scratch_write_error);
  }
}

void show(int stream, const char* bytes, std::size_t count) {
  flush_out();
  if (!write_standard_stream(stream + 1, bytes, count)) record_console_write_failure(stream + 1);
}

// Frees what `held` holds, showing it first when `shown`.
void release(HeldOutput& held, bool shown) {
  for (std::size_t at = 0; shown && at < held.memory.size();) {
    std::uint32_t length;
    std::memcpy(&length, held.memory.data() + at + 1, sizeof length);
    show(held.memory[at], held.memory.data() + at + 1 + sizeof length, length);
    at += 1 + sizeof length + length;
  }
  held_in_memory -= held.memory.size();
  std::string().swap(held.memory);
  if (held.file == nullptr) return;
  // What stdio still buffers is written, and its failure seen, before rewind clears it.
  if (shown && !held.lost && std::fflush(held.file) != 0) lose(held, scratch_write_error);
  std::rewind(held.file);
  char frame[1 + sizeof(std::uint32_t)];
  std::size_t got;
  while (shown && !held.lost && (got = std::fread(frame, 1, sizeof frame, held.file)) > 0) {
    std::uint32_t length;
    std::memcpy(&length, frame + 1, sizeof length);
    if (got != sizeof frame || length > sizeof relay_buffer ||
        std::fread(relay_buffer, 1, length, held.file) != length) {
      lose(held, scratch_read_error);
      break;
    }
    show(frame[0], relay_buffer, length);
  }
  if (shown && !held.lost && std::ferror(held.file)) lose(held, scratch_read_error);
  std::fclose(held.file);
  held.file = nullptr;
}

// The chains in word order: each starts once a place (and, under make, a jobserver token)
// is free and no running chain shares its files; none starts once a failure is known or an
// interruption came. The output of the chain at `shown` goes out as it comes, that of later
// ones is held until every earlier chain has ended well; after a failure nothing later is
// shown.
struct ChainRun {
  ChainRun(std::vector<Chain>& all, int most, JobServer* slots, const char* const* program,
           const RunPlan& run_plan)
      : chains(all),
        jobs(most),
        jobserver(slots),
        program_words(program),
        plan(run_plan),
        words(run_plan.command->words),
        places(static_cast<std::size_t>(most)) {}

  std::vector<Chain>& chains;
  std::size_t jobs;
  JobServer* jobserver;
  const char* const* program_words;
  const RunPlan& plan;
  const std::vector<std::string>& words;
  std::size_t next = 0;
  std::size_t shown = 0;
  std::size_t failed = none;  // the first chain in word order known to have failed
  std::vector<Chain*> running;
  // A worker runs one chain after another, so that a chain costs no process start. The
  // places never move: chains point at theirs.
  std::vector<Place> places;

  bool may_start_next() const {
    if (next == chains.size() || failed != none || interrupt_signal() != 0) return false;
    if (running.size() >= jobs) return false;
    return std::none_of(running.begin(), running.end(), [this](const Chain* chain) {
      return chain->files_stem == chains[next].files_stem;
    });
  }

  std::size_t index_of(const Chain& chain) const { return &chain - chains.data(); }

  void deliver(Chain& chain, int stream, const char* bytes, std::size_t count) {
    const std::size_t index = index_of(chain);
    if (index == shown) {
      show(stream, bytes, count);
    } else if (failed == none || index < failed) {
      hold(chain.held, stream, bytes, count);
    }
  }

  ToolStart start_a_worker(WorkerProcess& worker) {
    return start_worker(worker, program_words[0], program_words, worker_state_variable);
  }

  // A place whose worker waits for a chain, else one with no worker yet; a place is free
  // whenever fewer chains than places run.
  Place& free_place() {
    Place* empty = nullptr;
    for (Place& place : places) {
      if (place.chain != nullptr) continue;
      if (place.worker.process != -1) return place;
      if (empty == nullptr) empty = &place;
    }
    return *empty;
  }

  // The place's worker if it takes the bytes, or else a worker started there now.
  bool hand(Place& place, std::string_view handed) {
    if (place.worker.process != -1 && hand_to_worker(place.worker, handed)) return true;
    place.worker = WorkerProcess();  // one that has ended is waited for
    return start_a_worker(place.worker) == ToolStart::started &&
           hand_to_worker(place.worker, handed);
  }

  // The worker for the next chain starts while the others run, so that its start costs the
  // run no time, until every place has one.
  void start_ahead() {
    if (next == chains.size() || failed != none || interrupt_signal() != 0) return;
    for (Place& place : places) {
      if (place.chain == nullptr && place.worker.process != -1) return;  // one waits already
    }
    for (Place& place : places) {
      if (place.worker.process == -1) {
        start_a_worker(place.worker);
        return;
      }
    }
  }

  void start(Chain& chain, bool holds_token, char token) {
    ++next;
    chain.holds_token = holds_token;
    chain.token = token;
    const std::string handed =
        pack_worker_state(plan.chains[index_of(chain)].before, words[chain.word].c_str());
    Place& place = free_place();
    const bool started = hand(place, handed);
    chain.phase = Phase::running;
    running.push_back(&chain);
    if (started) {
      place.chain = &chain;
      chain.place = &place;
      start_ahead();
      return;
    }
    // A copy of the driver that cannot start fails its chain as a tool that cannot would.
    char message[1024];
    int length = std::snprintf(message, sizeof message, create_error, program_words[0],
                               words[chain.word].c_str());
    deliver(chain, 0, message, std::min<std::size_t>(length, sizeof message - 1));
    if (!place.worker.failure.empty()) {
      const std::string reason = "vexa: " + place.worker.failure + "\n";
      deliver(chain, 1, reason.data(), reason.size());
    }
    place.worker = WorkerProcess();
    end(chain, start_failed_code);
  }

  void start_chains() {
    while (may_start_next()) {
      char token = 0;
      const bool needs_token = !running.empty() && jobserver != nullptr;
      if (needs_token && !take_job_token(*jobserver, token)) return;
      start(chains[next], needs_token, token);
    }
  }

  void end(Chain& chain, int status) {
    chain.status = status == 0 && chain.held.lost ? 1 : status;
    chain.phase = Phase::ended;
    running.erase(std::find(running.begin(), running.end(), &chain));
    // One chain runs in the slot make gave the driver itself: when that one ends, a chain
    // still running takes the slot over and its token goes back.
    Chain* holder = &chain;
    for (Chain* other : running) {
      if (!holder->holds_token) holder = other;
    }
    if (holder->holds_token) {
      return_job_token(*jobserver, holder->token);
      holder->holds_token = false;
    }
    fail_if_failed(chain);
    show_ended_chains();
  }

  void fail_if_failed(Chain& chain) {
    const std::size_t index = index_of(chain);
    if (chain.status != 0 && (failed == none || index < failed)) failed = index;
  }

  // A chain whose held output cannot be read back fails where it stands, once ended.
  void show_ended_chains() {
    while (shown < chains.size() && chains[shown].phase == Phase::ended) {
      if (chains[shown].status != 0) {
        shown = chains.size();
        return;
      }
      if (++shown == chains.size()) return;
      Chain& next_shown = chains[shown];
      release(next_shown.held, true);
      if (next_shown.held.lost && next_shown.phase == Phase::ended && next_shown.status == 0) {
        next_shown.status = 1;
        fail_if_failed(next_shown);
      }
    }
  }

  void read_all(Place& place) {
    for (int stream : {0, 1}) {
      long count;
      while (place.worker.streams[stream].is_open() &&
             (count = read_worker_output(place.worker, stream, relay_buffer, sizeof relay_buffer)) >
                 0) {
        deliver(*place.chain, stream, relay_buffer, static_cast<std::size_t>(count));
      }
    }
  }

  // Reads all that the place's worker has written so far; ends its chain once the worker
  // reports it, or with the worker, should that end first (it failed the chain then,
  // whatever its exit code). A worker's end is its own, not its streams': what it wrote before
  // it ended is read, and a program its tools left running (Wine's server) may hold the
  // streams open long after.
  void relay(Place& place) {
    Chain& chain = *place.chain;
    read_all(place);
    int status = 0;
    const int report = read_worker_report(place.worker, status);
    if (report < 0) return;
    if (report == 0) {
      const bool streams_open =
          place.worker.streams[0].is_open() || place.worker.streams[1].is_open();
      if (streams_open && !worker_has_ended(place.worker)) return;
      read_all(place);
      if (!finish_worker(place.worker, status)) status = wait_failed_code;
      if (status == 0) status = 1;
      place.worker = WorkerProcess();
    } else {
      read_all(place);  // what the chain wrote came before its report
    }
    place.chain = nullptr;
    end(chain, status);
  }

  void run() {
    for (start_chains(); !running.empty(); start_chains()) {
      std::vector<WorkerProcess*> workers;
      for (Chain* chain : running) workers.push_back(&chain->place->worker);
      char token = 0;
      JobServer* token_source = jobserver != nullptr && may_start_next() ? jobserver : nullptr;
      // Until something happens: output, a worker's end, an interruption or a token.
      if (wait_for_workers(workers.data(), workers.size(), token_source, token, -1)) {
        start(chains[next], true, token);
      }
      for (Chain* chain : std::vector<Chain*>(running)) {
        if (chain->phase == Phase::running) relay(*chain->place);
      }
    }
    for (Chain& chain : chains) release(chain.held, false);
    // A waiting worker ends once its pipe closes: all are told before any is waited for.
    for (Place& place : places) place.worker.handing.reset();
    places.clear();
  }
};

// The value of make's --jobserver-auth= in MAKEFLAGS (the last one counts); empty when
// there is none.
std::string jobserver_auth() {
  constexpr char option[] = "--jobserver-auth=";
  const char* flags = std::getenv("MAKEFLAGS");
  const char* found = nullptr;
  for (const char* at = flags; at != nullptr && (at = std::strstr(at, option)) != nullptr; ++at) {
    found = at + sizeof option - 1;
  }
  return found == nullptr ? "" : std::string(found, std::strcspn(found, " "));
}

}  // namespace

bool handle_words_in_parallel(const RunPlan& plan, int jobs, const char* const* program_words) {
  // Under make the chains run within make's job slots, or one at a time when those cannot
  // be shared (a recipe not marked as recursive does not get them).
  JobServer jobserver;  // every token given back before it closes
  const std::string auth = jobserver_auth();
  if (!auth.empty()) {
    const JobServerState connected = connect_jobserver(jobserver, auth.c_str());
    if (connected == JobServerState::not_a_fifo) print_err(not_a_fifo_warning, auth.c_str() + 5);
    if (connected != JobServerState::connected) return false;
  }
  std::vector<Chain> chains;
  for (const PlannedChain& planned : plan.chains) {
    chains.emplace_back(planned.word, plan.command->words[planned.word].c_str());
  }
  const CommandWords& command = *plan.command;
  const char* limit = "";
  const int fitting = jobs_within_limits(jobs, limit);
  if (fitting < jobs && plan.at_stop.verbose) print_out(jobs_lowered_note, jobs, fitting, limit);
  // One chain at a time needs no workers: the serial run holds the fewest descriptors.
  if (fitting < 2) return false;
  ChainRun run(chains, fitting, auth.empty() ? nullptr : &jobserver, program_words, plan);
  run.run();
  state = plan.at_stop;
  if (run.failed != none) {
    state.status = chains[run.failed].status;
  } else if (plan.refused_at != no_word && !plan.refused_in_chain && run.next == chains.size() &&
             interrupt_signal() == 0) {
    if (plan.refused_at == command.failure_at) {
      refuse("%s", command.failure_message.c_str());
    } else {
      handle_argument(command.words[plan.refused_at].c_str());
    }
  }
  return true;
}

int run_worker(WorkerChannel& channel) {
  std::string launcher;
  std::string word;
  for (std::string handed; take_handed_bytes(channel, handed);) {
    if (!unpack_worker_state(handed, state, launcher, word)) {
      print_err("vexa: the state handed to this --jobs worker cannot be read\n");
      return 1;
    }
    handle_argument(word.c_str());
    flush_out();
    report_chain_end(channel, state.status);
    // The driver starts no chain after an interruption.
    if (interrupt_signal() != 0) return state.status;
  }
  return 0;
}
