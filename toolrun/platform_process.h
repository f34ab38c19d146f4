// The platform layer's processes: start one tool with its standard output on a pipe, read
// what it writes, wait for its exit code; the --jobs workers, the interruptions and the
// process's own streams. One implementation per platform; the build picks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

// Closes a descriptor (POSIX) or handle (Windows).
void close_handle(std::intptr_t handle);

// One descriptor or handle (a pipe's end, the jobserver's), closed when its owner goes, on
// every path; moved, never copied. -1 while it holds none.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(std::intptr_t value) : value_(value) {}
  OwnedHandle(OwnedHandle&& other) noexcept : value_(std::exchange(other.value_, -1)) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    reset(std::exchange(other.value_, -1));
    return *this;
  }
  ~OwnedHandle() { reset(); }
  std::intptr_t get() const { return value_; }
  bool is_open() const { return value_ != -1; }
  void reset(std::intptr_t value = -1) {
    if (value_ != -1) close_handle(value_);
    value_ = value;
  }

 private:
  std::intptr_t value_ = -1;
};

// A started tool. One that goes without finish_tool is waited for then: no process is left
// unwaited and no pipe open on any path.
struct ToolProcess {
  ToolProcess() = default;
  ToolProcess(ToolProcess&& other) noexcept
      : process(std::exchange(other.process, -1)),
        output(std::move(other.output)),
        ended(other.ended),
        failure(std::move(other.failure)) {}
  ToolProcess& operator=(ToolProcess&&) = delete;
  ~ToolProcess();

  std::intptr_t process = -1;  // pid or process handle; -1 once finished
  OwnedHandle output;          // read end of the tool's standard output pipe
  bool ended = false;          // the tool has ended: what its pipe holds now is all there is
  std::string failure;         // after a failed start: the failing call and the system's reason
};

// How a tool ended: its exit code, and the signal that killed it (0 when none did).
struct ToolEnd {
  int exit_code = 0;
  int signal = 0;
  std::string failure;  // after a failed wait: the failing call and the system's reason
};

// What a tool's output pipe holds before the tool waits for the driver: with room for a
// quarter of a megabyte a flood of output takes few steps from tool to driver. Both hosts
// ask for it; where refused the pipe keeps its default size.
constexpr std::size_t tool_pipe_size = 256 * 1024;

// What became of a start; only the tool runner turns a failure into what users see: the
// message of its own, then, where the system gave one, "vexa: <failure>" on standard error,
// "<call>: <the system's reason>" (on Windows the system's message text).
enum class ToolStart { started, pipe_failed, start_failed };

// The status of a run ended by signal N, as a shell's $? gives it.
constexpr int signal_status(int signal) {
  return 128 + signal;
}

// Starts `tool_name` with `argument_text` as its words (split as the tool's own runtime
// would), standard output on a pipe, everything else inherited. The tool is looked for in
// the current folder, then on PATH, then in `last_folder` unless that is empty. On failure
// nothing is left open.
ToolStart start_tool(ToolProcess& tool, const char* tool_name, const char* argument_text,
                     const char* last_folder = "");

// Where start_tool would find `tool_name`, as a full absolute path; empty when it is found
// nowhere.
std::string find_tool_path(const char* tool_name, const char* last_folder = "");

// The launcher's text and `tool_path` as a launched tool's command line begins: on Windows
// the path in double quotes; on POSIX, where the path is a word of its own, quoted when it
// holds a blank. What -v and -### show.
std::string launched_program_text(const char* launcher, const char* tool_path);

// Starts the first word of `launcher` (a name without a folder is looked up on PATH only)
// with its other words, `tool_path` and the words of `argument_text` as its arguments; on
// Windows its command line is launched_program_text, one blank and `argument_text`
// verbatim. Everything else, and the results, as start_tool.
ToolStart start_launched_tool(ToolProcess& tool, const char* launcher, const char* tool_path,
                              const char* argument_text);

// Reads what the tool wrote next, blocking until something comes or the tool ends. Returns
// the number of bytes, 0 at the end of its output, -1 on a read error. The end of the tool
// is the end of its output: once it has ended, what its pipe holds is read and no more, so
// that a program it left running with the pipe (a daemon, Wine's server) holds up nothing.
long read_tool_output(ToolProcess& tool, char* buffer, std::size_t size);

// Closes the pipe, waits for the tool to end and sets `end` (its exit_code signal_status(N)
// for a tool killed by signal N); false when the wait itself failed. Releases everything the
// start acquired.
bool finish_tool(ToolProcess& tool, ToolEnd& end);

// The host's name for signal `signal` ("Killed" for 9 on Linux).
const char* signal_name(int signal);

// The signal (or console event) that asked the driver to stop, 0 when none has. Once
// set, no further tool is started.
int interrupt_signal();

// Installs the handlers that turn an interruption into interrupt_signal(); signals that
// were ignored when the driver started stay ignored.
void install_interrupt_handlers();

// Parallel chains (--jobs): they run in copies of the driver, workers, whose standard output
// and standard error come back on pipes of their own.
constexpr int most_jobs = 256;

// A started worker; as a tool, waited for when it goes unfinished. It runs the chains it is
// handed one after another, reporting the end of each, and ends once `handing` closes.
struct WorkerProcess {
  WorkerProcess() = default;
  WorkerProcess(WorkerProcess&& other) noexcept
      : process(std::exchange(other.process, -1)),
        streams{std::move(other.streams[0]), std::move(other.streams[1])},
        handing(std::move(other.handing)),
        reports(std::move(other.reports)),
        failure(std::move(other.failure)) {}
  WorkerProcess& operator=(WorkerProcess&& other) noexcept;
  ~WorkerProcess();

  std::intptr_t process = -1;
  OwnedHandle streams[2];  // read ends of its standard output and error; closed at their end
  OwnedHandle handing;     // write end of the pipe its chains come on
  // Read end of the pipe its chains' statuses come back on. The worker alone holds the
  // write end, so the pipe's end is the worker's, whatever its tools left running.
  OwnedHandle reports;
  std::string failure;  // as a tool's
};

// A make jobserver's slots: one token taken for each chain run beside the first. Closed
// when it goes; the descriptor make handed down for giving tokens back stays make's.
struct JobServer {
  OwnedHandle take;             // descriptor, or the semaphore handle on Windows
  std::intptr_t give_end = -1;  // take's own, or make's descriptor
  std::intptr_t take_end() const { return take.get(); }
};

// Starts the driver at `program` again with this run's own command line (`words`, the
// program first, on POSIX; Windows takes its command line as it came), with the two pipes of
// a WorkerChannel, which `variable` names in its environment only: it waits there for
// hand_to_worker, so that its start can go before the first chain it is to run. At most
// most_jobs run at once.
ToolStart start_worker(WorkerProcess& worker, const char* program, const char* const* words,
                       const char* variable);

// Hands the bytes of one chain to the started worker, which runs it and then reports (see
// read_worker_report); the pipe stays open for the next. False, with the reason in
// `worker.failure`, when the worker cannot take them (it has ended).
bool hand_to_worker(WorkerProcess& worker, std::string_view handed);

// The worker's report on the chain it was handed, without waiting: 1 with the chain's
// `status`; -1 while there is none yet; 0 once the worker can report nothing more (it has
// ended or is ending), `reports` then closed. Whatever the worker wrote before its report is
// in its streams by then.
int read_worker_report(WorkerProcess& worker, int& status);

// Reads what the worker's `stream` (0 output, 1 error) holds now without waiting: the
// number of bytes, 0 at its end (the stream is then closed), -1 while nothing is there.
long read_worker_output(WorkerProcess& worker, int stream, char* buffer, std::size_t size);

// Waits up to `milliseconds` (-1: as long as it takes) for a worker's stream or report to
// have something or to end, a worker to end, or an interruption; with `jobserver`, also takes a
// token should one come first (true then). `count` is at most what jobs_within_limits allows.
bool wait_for_workers(WorkerProcess* const* workers, std::size_t count, JobServer* jobserver,
                      char& token, int milliseconds);

// Whether the worker has ended. Its streams may stay open after it: a program its tools
// left running (Wine's server, a compiler daemon) can hold them.
bool worker_has_ended(WorkerProcess& worker);

// Closes the worker's pipes, which ends a worker waiting for a chain, waits for its end and
// sets its `exit_code` as finish_tool does.
bool finish_worker(WorkerProcess& worker, int& exit_code);

inline ToolProcess::~ToolProcess() {
  ToolEnd end;
  if (process != -1) finish_tool(*this, end);
}

inline WorkerProcess::~WorkerProcess() {
  int exit_code;
  if (process != -1) finish_worker(*this, exit_code);
}

inline WorkerProcess& WorkerProcess::operator=(WorkerProcess&& other) noexcept {
  if (this != &other) {
    int exit_code;
    if (process != -1) finish_worker(*this, exit_code);
    process = std::exchange(other.process, -1);
    for (int stream : {0, 1}) streams[stream] = std::move(other.streams[stream]);
    handing = std::move(other.handing);
    reports = std::move(other.reports);
    failure = std::move(other.failure);
  }
  return *this;
}

enum class JobServerState { connected, unusable, not_a_fifo };

// Opens the jobserver that `auth` (the value of make's --jobserver-auth=) names: unusable
// when it cannot be opened, not_a_fifo for a "fifo:" path that names something else, which
// is then left alone.
JobServerState connect_jobserver(JobServer& jobserver, const char* auth);
// Takes a token if one is free now, without waiting.
bool take_job_token(JobServer& jobserver, char& token);
void return_job_token(JobServer& jobserver, char token);

// The processors this process may run on (its affinity), not all the machine has.
int processor_count();

// How many of `jobs` chains can run at once within this process's limits (each running chain
// holds a few descriptors or handles and two processes); at least 1. When a limit lowers it,
// `limit` names that limit for the user.
int jobs_within_limits(int jobs, const char*& limit);

// Writes bytes to standard output (1) or error (2) as they are, past any text translation.
// False when the write failed for any reason but a reader gone (which is an interruption).
bool write_standard_stream(int stream, const char* bytes, std::size_t count);

// A worker's line to the driver that started it: the bytes of its chains come on `handed`,
// each chain's status goes back on `reports`.
struct WorkerChannel {
  OwnedHandle handed;
  OwnedHandle reports;
};

// In a worker: takes the channel that `variable` names, removes `variable` from the
// environment and keeps both pipes from the tools. False, with nothing taken, when `variable`
// is not set or names no pipes a parent could have handed (standard streams, no numbers): the
// process is no worker.
bool open_worker_channel(const char* variable, WorkerChannel& channel);

// Past any state a driver hands: a length beyond it is no state.
constexpr std::uint32_t most_handed_bytes = 64u << 20;

// Reads the bytes of the next chain; false once the driver has closed the channel, which
// ends the worker. Bytes that cannot be read whole come back as a text that is no worker's
// state.
bool take_handed_bytes(WorkerChannel& channel, std::string& bytes);

// Tells the driver that the chain it handed has ended with `status`; everything the chain
// wrote must be written before.
void report_chain_end(WorkerChannel& channel, int status);
