#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <setjmp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "toolrun/command_words.h"
#include "toolrun/file_lock_posix.h"
#include "toolrun/pipe_io.h"
#include "toolrun/platform_files.h"
#include "toolrun/platform_process.h"

// POSIX has the program declare it; no header need.
extern char** environ;

namespace {

// A pipe whose ends carry `flags` (O_CLOEXEC, O_NONBLOCK) from the start: pipe2 where the
// host has it, else pipe and fcntl (macOS; any host under VEXA_PORTABLE_POSIX), which leaves
// a moment in which a process started by another thread could inherit the ends: the driver
// starts its processes from one thread.
#if defined(__linux__) && !defined(VEXA_PORTABLE_POSIX)
int make_pipe(int (&ends)[2], int flags) {
  return pipe2(ends, flags);
}
#else
int make_pipe(int (&ends)[2], int flags) {
  if (pipe(ends) != 0) return -1;
  for (int end : ends) {
    if (((flags & O_CLOEXEC) != 0 && fcntl(end, F_SETFD, FD_CLOEXEC) != 0) ||
        ((flags & O_NONBLOCK) != 0 && fcntl(end, F_SETFL, O_NONBLOCK) != 0)) {
      const int error = errno;
      close(ends[0]);
      close(ends[1]);
      errno = error;
      return -1;
    }
  }
  return 0;
}
#endif

// A read end of make's two-descriptor jobserver that this run owns. Where /proc has it, the
// pipe opened anew and non-blocking: no other reader of it is changed. Elsewhere (any host
// under VEXA_PORTABLE_POSIX) a copy of make's descriptor, which shares its blocking mode
// with make and its other jobs: take_job_token turns it non-blocking for one read only.
#if defined(__linux__) && !defined(VEXA_PORTABLE_POSIX)
int own_read_end(int fd) {
  return open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}
#else
int own_read_end(int fd) {
  return fcntl(fd, F_DUPFD_CLOEXEC, 0);
}
#endif

volatile sig_atomic_t received_signal = 0;
// While a lock wait blocks, an interruption jumps out of it: the handlers restart what they
// interrupt, and a blocking flock has no other way to end for a signal.
volatile sig_atomic_t waiting_for_lock = 0;
sigjmp_buf lock_wait_exit;
volatile sig_atomic_t running_tool = 0;                 // its pid, 0 while no tool runs
volatile sig_atomic_t running_workers[most_jobs] = {};  // their pids; 0 marks a free place
// The self-pipe: every handled signal, a child's end among them, writes a byte to its write
// end, so that one poll over the pipes read and its read end wakes for all of them. -1 until
// the handlers are installed.
int wake_ends[2] = {-1, -1};

void wake() {
  char byte = 0;
  if (wake_ends[1] >= 0) (void)!write(wake_ends[1], &byte, 1);  // full: a wake is pending anyway
}

void drain_wakes() {
  char bytes[64];
  while (wake_ends[0] >= 0 && read(wake_ends[0], bytes, sizeof bytes) > 0) {
  }
}

void record_child_end(int) {
  int saved_errno = errno;
  wake();
  errno = saved_errno;
}

// Whether `pid` has ended, without reaping it.
bool has_ended(pid_t pid) {
  siginfo_t info;
  info.si_pid = 0;
  return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

// Waits until `fd` has something or ends, or a signal or a child's end wakes the driver.
void wait_for_output_or_wake(int fd) {
  pollfd waited[2] = {{fd, POLLIN, 0}, {wake_ends[0], POLLIN, 0}};
  if (poll(waited, wake_ends[0] >= 0 ? 2 : 1, -1) > 0 && waited[1].revents != 0) drain_wakes();
}

// Ctrl-C, a polite kill, the terminal going away, and a reader of our output going away
// (a pipe into `head`, a log viewer that quits): each stops the run cleanly. Handled
// rather than ignored, a write to the closed pipe also fails with EPIPE instead of ending
// the driver on the spot.
// Ctrl-\ (SIGQUIT) is one more way to ask for a stop, and cleans up as Ctrl-C does.
constexpr int interruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT};

// A write past the file size limit (ulimit -f) would end the driver on the spot, leaving a
// half-written file; ignored, the write fails as on a full disk and the run ends with its
// message. The tools get the action the driver was started with: true when that was the
// default one.
bool file_size_signal_default = false;

constexpr std::size_t path_size = 4096;  // a tool's path, its terminating zero included

// What a PATH search takes: a program to start, or a regular file for a launcher to read
// (Wine runs a .exe without the execute permission).
enum class Wanted { program, file };

bool is_wanted(const char* path, Wanted wanted) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISREG(status.st_mode) &&
         (wanted == Wanted::file || access(path, X_OK) == 0);
}

bool is_runnable(const std::string& path) {
  return is_wanted(path.c_str(), Wanted::program);
}

// Puts directory/name into `path` and tells whether it is what is wanted.
bool exists_as(char (&path)[path_size], std::string_view directory, std::string_view name,
               Wanted wanted) {
  int length = std::snprintf(path, sizeof path, "%.*s/%.*s", static_cast<int>(directory.size()),
                             directory.data(), static_cast<int>(name.size()), name.data());
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return false;
  return is_wanted(path, wanted);
}

// The tools are named with ".exe" everywhere; here they may also be installed without it.
bool found_in(char (&path)[path_size], std::string_view directory, std::string_view name,
              Wanted wanted) {
  constexpr std::string_view suffix = ".exe";
  if (exists_as(path, directory, name, wanted)) return true;
  return name.size() > suffix.size() && name.ends_with(suffix) &&
         exists_as(path, directory, name.substr(0, name.size() - suffix.size()), wanted);
}

// Calls `found` with each non-empty PATH entry in order until it returns true.
template <typename Found>
bool any_path_directory(Found found) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "";
  while (!rest.empty()) {
    std::size_t colon = rest.find(':');
    std::string_view directory = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? "" : rest.substr(colon + 1);
    if (!directory.empty() && found(directory)) return true;
  }
  return false;
}

// The current directory first, then each PATH entry, then `last_folder`: the first that holds
// what is wanted gives `path`. A folder of the tool's name, or a file that cannot be run, is
// passed by, as a shell's search passes it.
bool find_tool(char (&path)[path_size], const char* tool_name, Wanted wanted,
               const char* last_folder) {
  auto found = [&path, tool_name, wanted](std::string_view directory) {
    return found_in(path, directory, tool_name, wanted);
  };
  return found(".") || any_path_directory(found) || (last_folder[0] != '\0' && found(last_folder));
}

// The launcher's program as execvp finds it: a name with a slash as it is, any other the
// first such file on PATH; empty when there is none. Looked up before the spawn for the
// same reason as a tool.
std::string find_program(const std::string& name) {
  if (name.find('/') != std::string::npos) return is_runnable(name) ? name : "";
  std::string path;
  auto found = [&name, &path](std::string_view directory) {
    path = std::string(directory) + "/" + name;
    return is_runnable(path);
  };
  return !name.empty() && any_path_directory(found) ? path : "";
}

// "call: the system's reason", as the driver's second line of a failure shows it.
std::string failure_reason(const char* call, int error) {
  return std::string(call) + ": " + std::strerror(error);
}

// Runs `path` with standard output on `output_end` (and standard error on `error_end`
// unless -1); returns its pid, or -1 with errno set to the reason. The interruptions wait
// while it starts and its pid goes to `registered`, so one that comes meanwhile finds it and
// is forwarded; the child itself starts with the driver's usual signal mask.
pid_t spawn_with_output(const char* path, char* const argv[], int output_end, int error_end = -1,
                        char* const* environment = environ,
                        volatile sig_atomic_t* registered = &running_tool) {
  sigset_t interrupts;
  sigset_t usual_mask;
  sigset_t defaults;
  sigemptyset(&interrupts);
  for (int number : interruptions) sigaddset(&interrupts, number);
  sigemptyset(&defaults);
  if (file_size_signal_default) sigaddset(&defaults, SIGXFSZ);
  int error = 0;
  auto succeeds = [&error](int result) { return (error = result) == 0; };
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (!succeeds(posix_spawn_file_actions_init(&actions))) {
    errno = error;
    return -1;
  }
  if (!succeeds(posix_spawnattr_init(&attributes))) {
    posix_spawn_file_actions_destroy(&actions);
    errno = error;
    return -1;
  }
  pid_t pid = -1;
  if (sigprocmask(SIG_BLOCK, &interrupts, &usual_mask) != 0) {
    error = errno;
  } else {
    bool started =
        succeeds(posix_spawn_file_actions_adddup2(&actions, output_end, STDOUT_FILENO)) &&
        (error_end < 0 ||
         succeeds(posix_spawn_file_actions_adddup2(&actions, error_end, STDERR_FILENO))) &&
        succeeds(posix_spawnattr_setsigmask(&attributes, &usual_mask)) &&
        succeeds(posix_spawnattr_setsigdefault(&attributes, &defaults)) &&
        succeeds(posix_spawnattr_setflags(&attributes,
                                          POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF)) &&
        succeeds(posix_spawn(&pid, path, &actions, &attributes, argv, environment));
    if (!started) pid = -1;
    *registered = pid > 0 ? pid : 0;
    sigprocmask(SIG_SETMASK, &usual_mask, nullptr);  // cannot fail: the mask came from it
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (pid < 0) errno = error;
  return pid;
}

// Starts `path` with `words` as its argument vector, standard output on a new pipe.
ToolStart start_with_words(ToolProcess& tool, const char* path, std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  int ends[2];
  // Close-on-exec: only the tool's dup2'd standard output outlives its exec, and no later
  // tool inherits either end.
  if (make_pipe(ends, O_CLOEXEC) != 0) {
    tool.failure = failure_reason("pipe", errno);
    return ToolStart::pipe_failed;
  }
#ifdef F_SETPIPE_SZ
  fcntl(ends[0], F_SETPIPE_SZ, static_cast<int>(tool_pipe_size));
#endif
  pid_t pid = spawn_with_output(path, argv.data(), ends[1]);
  const int spawn_error = errno;
  close(ends[1]);
  if (pid < 0) {
    close(ends[0]);
    tool.failure = failure_reason("posix_spawn", spawn_error);
    return ToolStart::start_failed;
  }
  // Read without waiting: the driver waits in poll, for the pipe or the tool's end.
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  tool.process = pid;
  tool.output.reset(ends[0]);
  tool.ended = false;
  tool.failure.clear();
  return ToolStart::started;
}

void record_interrupt(int signal, siginfo_t* info, void*) {
  int saved_errno = errno;
  received_signal = signal;
  wake();
  // A terminal's Ctrl-C reaches the tool too, as it shares our process group; a signal
  // sent by a process to the driver alone has to be passed on. Our closed output is none
  // of the tool's business (its own output is our pipe), so it is stopped as by a kill;
  // a --jobs worker, a copy of the driver, takes it as the driver does.
  if (signal == SIGPIPE || info->si_code == SI_USER || info->si_code == SI_QUEUE) {
    pid_t tool = running_tool;
    if (tool > 0) kill(tool, signal == SIGPIPE ? SIGTERM : signal);
    for (pid_t worker : running_workers) {
      if (worker > 0) kill(worker, signal);
    }
  }
  errno = saved_errno;
  if (waiting_for_lock != 0) {
    waiting_for_lock = 0;
    siglongjmp(lock_wait_exit, 1);
  }
}

// Waits for `pid` without reaping it first, then forgets `registered`, then reaps: until then
// the pid cannot be reused, so the handler never forwards a signal to a stranger.
bool reap(pid_t pid, volatile sig_atomic_t& registered, ToolEnd& end) {
  siginfo_t info;
  while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  registered = 0;
  int status;
  pid_t reaped;
  while ((reaped = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (reaped != pid) {
    end.failure = failure_reason("waitpid", errno);
    return false;
  }
  end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  end.exit_code = end.signal != 0 ? signal_status(end.signal) : WEXITSTATUS(status);
  return true;
}

}  // namespace

ToolStart start_tool(ToolProcess& tool, const char* tool_name, const char* argument_text,
                     const char* last_folder) {
  char path[path_size];
  // Tested before the spawn: a posix_spawn may report an exec that fails only as exit
  // code 127 (under valgrind, for one), which a tool can return too.
  if (!find_tool(path, tool_name, Wanted::program, last_folder)) {
    // Found as a file that cannot be run, or not at all.
    const bool found_as_file = find_tool(path, tool_name, Wanted::file, last_folder);
    tool.failure = failure_reason(tool_name, found_as_file ? EACCES : ENOENT);
    return ToolStart::start_failed;
  }
  std::vector<std::string> words = split_command_words(argument_text);
  words.insert(words.begin(), tool_name);
  return start_with_words(tool, path, words);
}

std::string find_tool_path(const char* tool_name, const char* last_folder) {
  char found[path_size];
  if (!find_tool(found, tool_name, Wanted::file, last_folder)) return "";
  if (found[0] == '/') return found;
  char directory[path_size];
  if (getcwd(directory, sizeof directory) == nullptr) return "";
  const char* path = std::string_view(found).starts_with("./") ? found + 2 : found;
  const char* separator = std::string_view(directory) == "/" ? "" : "/";
  std::string absolute = std::string(directory) + separator + path;
  // As long as the tool's own path may be: longer would not start.
  return absolute.size() < path_size ? absolute : "";
}

std::string launched_program_text(const char* launcher, const char* tool_path) {
  return std::string(launcher) + " " + command_word(tool_path);
}

// The tool itself is not tested for being runnable: a launcher such as Wine reads it.
ToolStart start_launched_tool(ToolProcess& tool, const char* launcher, const char* tool_path,
                              const char* argument_text) {
  std::vector<std::string> words = split_command_words(launcher);
  std::string program = words.empty() ? "" : find_program(words[0]);
  if (program.empty()) {
    tool.failure = failure_reason(words.empty() ? "" : words[0].c_str(), ENOENT);
    return ToolStart::start_failed;
  }
  words.push_back(tool_path);
  std::vector<std::string> tool_words = split_command_words(argument_text);
  words.insert(words.end(), tool_words.begin(), tool_words.end());
  return start_with_words(tool, program.c_str(), words);
}

// Checked for its end only once the pipe is empty; a child's end after the check wakes the
// poll, so none is missed.
long read_tool_output(ToolProcess& tool, char* buffer, std::size_t size) {
  const int fd = static_cast<int>(tool.output.get());
  for (;;) {
    ssize_t count = read(fd, buffer, size);
    if (count >= 0) return count;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (tool.ended) return 0;
    tool.ended = has_ended(static_cast<pid_t>(tool.process));
    if (!tool.ended) wait_for_output_or_wake(fd);
  }
}

bool finish_tool(ToolProcess& tool, ToolEnd& end) {
  tool.output.reset();  // a read end loses nothing: no failure to act on
  pid_t pid = static_cast<pid_t>(std::exchange(tool.process, -1));
  tool.ended = false;
  return reap(pid, running_tool, end);
}

const char* signal_name(int signal) {
  const char* name = strsignal(signal);
  return name != nullptr ? name : "unknown signal";
}

int interrupt_signal() {
  return received_signal;
}

void install_interrupt_handlers() {
  for (int number : interruptions) {
    struct sigaction previous;
    // Ignored at start, as in a script's background job: whoever started us wants us to
    // run on, and the tools inherit the same.
    if (sigaction(number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action = {};
    action.sa_sigaction = record_interrupt;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    // Should this fail, the signal keeps its default action and simply ends the driver.
    sigaction(number, &action, nullptr);
  }
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous;
  if (sigaction(SIGXFSZ, &ignore, &previous) == 0) {
    file_size_signal_default = previous.sa_handler == SIG_DFL;
  }
  // An ignored SIGCHLD, inherited from whoever started the driver, would have every tool
  // reaped before its exit code could be read; handled, it wakes the wait for output. Without
  // a self-pipe a step still ends, when its output pipe does.
  if (wake_ends[0] < 0) (void)!make_pipe(wake_ends, O_CLOEXEC | O_NONBLOCK);
  struct sigaction child = {};
  child.sa_handler = record_child_end;
  child.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  sigemptyset(&child.sa_mask);
  sigaction(SIGCHLD, &child, nullptr);  // fails only for an invalid signal number
}

void close_handle(std::intptr_t handle) {
  close(static_cast<int>(handle));
}

// The flag is raised before the last look at received_signal, so a signal that comes after
// that look finds it raised and jumps out of the wait, and one that came before it is seen:
// no instant is left in which a signal would be taken and the wait blocked on regardless.
// The jump restores the signal mask the wait began with.
LockWait wait_for_file_lock(int fd) {
  if (sigsetjmp(lock_wait_exit, 1) != 0) return LockWait::interrupted;
  waiting_for_lock = 1;
  if (received_signal != 0) {
    waiting_for_lock = 0;
    return LockWait::interrupted;
  }
  int result;
  while ((result = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  waiting_for_lock = 0;
  return result == 0 ? LockWait::locked : LockWait::unlockable;
}

bool lock_current_folder(FolderLock& lock) {
  unlock_folder(lock);
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;
  switch (wait_for_file_lock(fd)) {
    case LockWait::locked:
      lock.handle = fd;
      return true;
    case LockWait::unlockable:  // the link goes on unlocked, as it always did
      close(fd);
      return true;
    case LockWait::interrupted:
      break;
  }
  close(fd);
  return false;
}

void unlock_folder(FolderLock& lock) {
  if (lock.handle >= 0) close(static_cast<int>(lock.handle));
  lock.handle = -1;
}

unsigned long process_id() {
  return static_cast<unsigned long>(getpid());
}

namespace {

bool is_pipe(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode);
}

// A free place in running_workers, or nullptr when most_jobs already run.
volatile sig_atomic_t* free_worker_place() {
  for (volatile sig_atomic_t& place : running_workers) {
    if (place == 0) return &place;
  }
  return nullptr;
}

}  // namespace

// The worker inherits the read end of the pipe its chains come on and the write end of the
// one it reports on; the driver starts nothing else meanwhile, so no other process does.
ToolStart start_worker(WorkerProcess& worker, const char* program, const char* const* words,
                       const char* variable) {
  volatile sig_atomic_t* place = free_worker_place();
  if (place == nullptr) return ToolStart::pipe_failed;
  // output, error, handed, reports: each made whole or not at all.
  int pipes[4][2];
  int made = 0;
  for (; made < 4 && make_pipe(pipes[made], O_CLOEXEC) == 0; ++made) {
  }
  const bool inheriting =
      made == 4 && fcntl(pipes[2][0], F_SETFD, 0) == 0 && fcntl(pipes[3][1], F_SETFD, 0) == 0;
  if (!inheriting) {
    worker.failure = failure_reason(made == 4 ? "fcntl" : "pipe", errno);
    for (int i = 0; i < made; ++i) {
      for (int end : pipes[i]) close(end);
    }
    return ToolStart::pipe_failed;
  }
  const std::string prefix = std::string(variable) + "=";
  std::string setting = prefix + std::to_string(pipes[2][0]) + "," + std::to_string(pipes[3][1]);
  std::vector<char*> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with(prefix)) environment.push_back(*entry);
  }
  environment.push_back(setting.data());
  environment.push_back(nullptr);
  pid_t pid = spawn_with_output(program, const_cast<char* const*>(words), pipes[0][1], pipes[1][1],
                                environment.data(), place);
  if (pid < 0) worker.failure = failure_reason("posix_spawn", errno);
  // The worker's ends are the worker's alone.
  for (int end : {pipes[0][1], pipes[1][1], pipes[2][0], pipes[3][1]}) close(end);
  if (pid < 0) {
    for (int end : {pipes[0][0], pipes[1][0], pipes[2][1], pipes[3][0]}) close(end);
    return ToolStart::start_failed;
  }
  // The driver reads whichever worker has something, and never waits on one that has not.
  for (int end : {pipes[0][0], pipes[1][0], pipes[3][0]}) fcntl(end, F_SETFL, O_NONBLOCK);
  worker.process = pid;
  worker.streams[0].reset(pipes[0][0]);
  worker.streams[1].reset(pipes[1][0]);
  worker.handing.reset(pipes[2][1]);
  worker.reports.reset(pipes[3][0]);
  return ToolStart::started;
}

bool write_whole(std::intptr_t handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(static_cast<int>(handle), bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::size_t read_whole(std::intptr_t handle, char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t count = read(static_cast<int>(handle), buffer + got, size - got);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    got += static_cast<std::size_t>(count);
  }
  return got;
}

// Each chain's bytes go as their length, then the bytes. SIGPIPE is held back while they go:
// a worker that has ended fails the write, and is no reader of the driver's own output gone.
bool hand_to_worker(WorkerProcess& worker, std::string_view handed) {
  sigset_t pipe_signal;
  sigset_t before;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigprocmask(SIG_BLOCK, &pipe_signal, &before);
  const bool whole = write_whole(worker.handing.get(), handed_frame(handed));
  if (!whole) worker.failure = failure_reason("write", errno);
  sigset_t pending;
  if (!whole && errno == EPIPE && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
    int taken;
    sigwait(&pipe_signal, &taken);
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
  return whole;
}

// A status is one write of fewer bytes than a pipe takes at once: it comes whole or not yet.
int read_worker_report(WorkerProcess& worker, int& status) {
  if (!worker.reports.is_open()) return 0;
  std::int32_t reported;
  ssize_t count;
  while ((count = read(static_cast<int>(worker.reports.get()), &reported, sizeof reported)) < 0 &&
         errno == EINTR) {
  }
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return -1;
  if (count != sizeof reported) {
    worker.reports.reset();
    return 0;
  }
  status = reported;
  return 1;
}

long read_worker_output(WorkerProcess& worker, int stream, char* buffer, std::size_t size) {
  int fd = static_cast<int>(worker.streams[stream].get());
  ssize_t count;
  do {
    count = read(fd, buffer, size);
  } while (count < 0 && errno == EINTR);
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return -1;
  if (count > 0) return count;
  worker.streams[stream].reset();  // its end, or a failed read, which no retry would mend
  return 0;
}

bool wait_for_workers(WorkerProcess* const* workers, std::size_t count, JobServer* jobserver,
                      char& token, int milliseconds) {
  std::vector<pollfd> waited;
  for (std::size_t i = 0; i < count; ++i) {
    for (const OwnedHandle* pipe :
         {&workers[i]->streams[0], &workers[i]->streams[1], &workers[i]->reports}) {
      if (pipe->is_open()) waited.push_back({static_cast<int>(pipe->get()), POLLIN, 0});
    }
  }
  // A worker's end and an interruption wake the self-pipe; without one, the wait is cut
  // into steps so that neither is missed for long.
  const bool woken = wake_ends[0] >= 0;
  if (woken) waited.push_back({wake_ends[0], POLLIN, 0});
  if (jobserver != nullptr) {
    waited.push_back({static_cast<int>(jobserver->take_end()), POLLIN, 0});
  }
  constexpr int step_without_wakes = 100;
  if (!woken && (milliseconds < 0 || milliseconds > step_without_wakes)) {
    milliseconds = step_without_wakes;
  }
  const int ready = poll(waited.data(), waited.size(), milliseconds);
  if (woken) drain_wakes();
  if (ready <= 0) return false;
  return jobserver != nullptr && waited.back().revents != 0 && take_job_token(*jobserver, token);
}

// Not reaped here: finish_worker does that, its pid forgotten first.
bool worker_has_ended(WorkerProcess& worker) {
  return has_ended(static_cast<pid_t>(worker.process));
}

bool finish_worker(WorkerProcess& worker, int& exit_code) {
  ToolEnd end;
  worker.handing.reset();
  worker.reports.reset();
  for (OwnedHandle& stream : worker.streams) {
    stream.reset();
  }
  pid_t pid = static_cast<pid_t>(worker.process);
  worker.process = -1;
  for (volatile sig_atomic_t& place : running_workers) {
    if (place == pid) {
      bool reaped = reap(pid, place, end);
      exit_code = end.exit_code;
      return reaped;
    }
  }
  return false;
}

// "fifo:PATH" (make 4.4) or "R,W", two descriptors inherited from make, each checked to be
// a pipe before it is used.
JobServerState connect_jobserver(JobServer& jobserver, const char* auth) {
  std::string_view text = auth;
  int take_end = -1;
  int give_end = -1;
  if (text.starts_with("fifo:")) {
    // Looked at before it is opened: a regular file would be read and written as tokens.
    struct stat status;
    if (stat(auth + 5, &status) == 0 && !S_ISFIFO(status.st_mode)) {
      return JobServerState::not_a_fifo;
    }
    take_end = open(auth + 5, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (take_end >= 0 && !is_pipe(take_end)) {  // replaced meanwhile
      close(take_end);
      return JobServerState::not_a_fifo;
    }
    give_end = take_end;
  } else {
    int read_fd = -1;
    // make closes them for a recipe not marked '+', and the numbers may then name anything.
    if (std::sscanf(auth, "%d,%d", &read_fd, &give_end) != 2 || !is_pipe(read_fd) ||
        !is_pipe(give_end)) {
      return JobServerState::unusable;
    }
    take_end = own_read_end(read_fd);
  }
  if (take_end < 0) return JobServerState::unusable;
  jobserver.take.reset(take_end);
  jobserver.give_end = give_end;
  return JobServerState::connected;
}

// A read that never waits: another of make's jobs may take the token poll saw first. A
// read end shared with make is put back as it was at once.
bool take_job_token(JobServer& jobserver, char& token) {
  const int take_end = static_cast<int>(jobserver.take_end());
  const int flags = fcntl(take_end, F_GETFL);
  const bool set_here = flags >= 0 && (flags & O_NONBLOCK) == 0;
  if (set_here && fcntl(take_end, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  ssize_t count;
  while ((count = read(take_end, &token, 1)) < 0 && errno == EINTR) {
  }
  if (set_here) fcntl(take_end, F_SETFL, flags);
  return count == 1;
}

// The pipe holds every token make made, so giving one back never waits for room.
void return_job_token(JobServer& jobserver, char token) {
  while (write(static_cast<int>(jobserver.give_end), &token, 1) < 0 && errno == EINTR) {
  }
}

int processor_count() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) {
    return CPU_COUNT(&allowed);
  }
  long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<int>(count) : 1;
}

namespace {

// The chains that fit in `resource`'s soft limit when each holds `per_chain` of it and the
// driver itself `for_the_driver`; `jobs` when there is no limit.
int chains_within(int resource, rlim_t per_chain, rlim_t for_the_driver, int jobs) {
  struct rlimit limit;
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return jobs;
  const rlim_t fitting = limit.rlim_cur >= for_the_driver + per_chain
                             ? (limit.rlim_cur - for_the_driver) / per_chain
                             : 1;
  return fitting < static_cast<rlim_t>(jobs) ? static_cast<int>(fitting) : jobs;
}

}  // namespace

// A running chain holds its worker's four pipe ends (two streams, the chain's bytes, its
// reports) and a scratch file; the driver itself keeps some for its streams, the jobserver,
// the self-pipe, the files of a link, the database and the four ends a worker's start holds
// for a while. A chain is two processes, its worker and the worker's tool, beside
// the driver and that worker. (The limit on processes counts all of the user's; those
// running already are not known here.)
int jobs_within_limits(int jobs, const char*& limit) {
  const int by_files = chains_within(RLIMIT_NOFILE, 5, 20, jobs);
#ifdef RLIMIT_NPROC  // not every POSIX host limits processes
  const int by_processes = chains_within(RLIMIT_NPROC, 2, 2, jobs);
#else
  const int by_processes = jobs;
#endif
  limit = by_files <= by_processes ? "open files" : "processes";
  return std::min(by_files, by_processes);
}

bool write_standard_stream(int stream, const char* bytes, std::size_t count) {
  while (count > 0) {
    ssize_t written = write(stream, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    // A reader gone: SIGPIPE has already asked the run to stop.
    if (written <= 0) return written < 0 && errno == EPIPE;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

bool open_worker_channel(const char* variable, WorkerChannel& channel) {
  const char* value = std::getenv(variable);
  if (value == nullptr) return false;
  int handed = -1;
  int reports = -1;
  int length = 0;
  // Never one of the standard streams: a value no parent set names no pipes of a parent's.
  const bool named = std::sscanf(value, "%d,%d%n", &handed, &reports, &length) == 2 &&
                     value[length] == '\0' && handed > 2 && reports > 2 && handed != reports;
  unsetenv(variable);
  if (!named) return false;
  channel.handed.reset(handed);
  channel.reports.reset(reports);
  fcntl(handed, F_SETFD, FD_CLOEXEC);
  fcntl(reports, F_SETFD, FD_CLOEXEC);
  return true;
}

// Removed at once: nothing stays, whatever ends the driver.
std::FILE* create_scratch_file(std::string& name) {
  const char* folder = std::getenv("TMPDIR");
  name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/vexa-XXXXXX";
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  unlink(name.c_str());
  std::FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) close(fd);
  return file;
}
