// The process layer on Windows: a tool is started by CreateProcessA with the write end of
// an anonymous pipe as its standard output; everything else is the driver's own.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "toolrun/command_words.h"
#include "toolrun/host_text.h"
#include "toolrun/named_mutex_win32.h"
#include "toolrun/pipe_io.h"
#include "toolrun/platform_files.h"
#include "toolrun/platform_process.h"

namespace {

// The longest command line CreateProcessA accepts, its terminating zero included.
constexpr std::size_t command_line_size = 32768;

std::atomic<int> interruption{0};
// Set with `interruption`, so that a wait can end with it.
HANDLE interruption_event = nullptr;

// "call: the system's message text", as the driver's second line of a failure shows it; a
// text that names its subject as "%1" gets `subject` there.
std::string failure_reason(const char* call, DWORD error, const char* subject = "the program") {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
  for (std::size_t at; (at = message.find("%1")) != std::string::npos;) {
    message.replace(at, 2, subject);
  }
  return std::string(call) + ": " + message;
}

HANDLE handle_of(std::intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

bool is_program_file(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Whether the first `length` bytes of `directory` end in a separator. Read forwards: the
// last byte may be the second half of a double-byte character.
bool ends_in_separator(const char* directory, std::size_t length) {
  bool separator = false;
  for (std::size_t i = 0; i < length; i += character_size(directory + i)) {
    separator = directory[i] == '\\' || directory[i] == '/';
  }
  return separator;
}

// `directory` (its first `length` bytes) joined with `name` into `path`; false when the
// result does not fit, which makes that directory one that holds no such tool.
bool join_path(char (&path)[MAX_PATH], const char* directory, std::size_t length,
               const char* name) {
  std::size_t name_length = std::strlen(name);
  bool needs_separator = !ends_in_separator(directory, length);
  if (length + needs_separator + name_length >= sizeof path) return false;
  std::memcpy(path, directory, length);
  if (needs_separator) path[length++] = '\\';
  std::memcpy(path + length, name, name_length + 1);
  return true;
}

// Copies the next ';'-separated entry of `rest` into `entry` without its double quotes, as
// Windows' own command search reads "C:\Program Files\tools" (a ';' inside quotes is part of
// the entry), and moves `rest` past it. Returns the entry's length; 0 for an empty entry or
// one too long for a path.
std::size_t take_path_entry(const char*& rest, char (&entry)[MAX_PATH]) {
  std::size_t length = 0;
  bool quoted = false;
  bool fits = true;
  for (; *rest != '\0' && (quoted || *rest != ';'); ++rest) {
    if (*rest == '"') {
      quoted = !quoted;
    } else if (length + 1 < sizeof entry) {
      entry[length++] = *rest;
    } else {
      fits = false;
    }
  }
  if (*rest == ';') ++rest;
  return fits ? length : 0;
}

// The first of the ';'-separated `directories` that holds `name` gives `path`.
bool find_in_directories(char (&path)[MAX_PATH], const char* directories, const char* name) {
  char entry[MAX_PATH];
  for (const char* rest = directories; *rest != '\0';) {
    std::size_t length = take_path_entry(rest, entry);
    if (length > 0 && join_path(path, entry, length, name) && is_program_file(path)) return true;
  }
  return false;
}

bool find_on_path(char (&path)[MAX_PATH], const char* name) {
  char search_path[command_line_size];
  DWORD length = GetEnvironmentVariableA("PATH", search_path, sizeof search_path);
  return length > 0 && length < sizeof search_path && find_in_directories(path, search_path, name);
}

// The current directory first, then each PATH entry in order, then `last_folder`, by the
// exact name only.
bool find_tool(char (&path)[MAX_PATH], const char* tool_name, const char* last_folder) {
  return find_in_directories(path, ".", tool_name) || find_on_path(path, tool_name) ||
         (last_folder[0] != '\0' && find_in_directories(path, last_folder, tool_name));
}

// A relative PATH entry names a folder below the current one.
bool make_full_path(char (&full_path)[MAX_PATH], const char* found) {
  DWORD length = GetFullPathNameA(found, sizeof full_path, full_path, nullptr);
  return length > 0 && length < sizeof full_path;
}

bool names_folder(const char* word) {
  for (; *word != '\0'; word += character_size(word)) {
    if (*word == '\\' || *word == '/' || *word == ':') return true;
  }
  return false;
}

// The launcher's first word, when it names no folder, is looked for on PATH only, by the
// exact name and then with ".exe": CreateProcessA's own search would try vexa's folder and
// the current one first, and no folder may choose the program started. A word with a folder
// is left to CreateProcessA (`program` empty). False when a bare name is found nowhere.
bool find_launcher(char (&program)[MAX_PATH], const char* launcher) {
  program[0] = '\0';
  const std::vector<std::string> words = split_command_words(launcher);
  if (words.empty() || names_folder(words[0].c_str())) return true;
  char found[MAX_PATH];
  return (find_on_path(found, words[0].c_str()) ||
          find_on_path(found, (words[0] + ".exe").c_str())) &&
         make_full_path(program, found);
}

// The parts one after another, then one blank and the argument text verbatim (nothing
// after an empty one): the program splits its words itself, by its own runtime's rules.
bool make_command_line(char (&line)[command_line_size], std::initializer_list<const char*> parts,
                       const char* argument_text) {
  line[0] = '\0';
  if (!append_text(line, parts)) return false;
  return *argument_text == '\0' || append_text(line, {" ", argument_text});
}

bool create_tool_process(PROCESS_INFORMATION& process, const char* program, char* command_line,
                         HANDLE output) {
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  return CreateProcessA(program, command_line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process) != 0;
}

// A tool's or worker's output pipe: a named pipe whose read end is overlapped, so that a read can
// be waited for together with the tool's end (an anonymous pipe's cannot). The name is this
// process's own and used once; the write end, which the tool inherits, is synchronous.
// Only the write end may be inherited: a copy of the read end held by any other process
// would keep the pipe from ever reaching its end.
// Sets `call` to the failing call.
bool make_waitable_pipe(HANDLE& read_end, HANDLE& write_end, const char*& call) {
  static std::atomic<unsigned> pipes_made{0};
  // The process id alone may be an ended process's, whose pipe a program it left behind
  // still holds: the performance counter's reading makes the name this run's.
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  char name[96];
  std::snprintf(name, sizeof name, "\\\\.\\pipe\\vexa-tool-%lu-%llx-%u", GetCurrentProcessId(),
                static_cast<unsigned long long>(now.QuadPart), pipes_made.fetch_add(1));
  call = "CreateNamedPipe";
  read_end = CreateNamedPipeA(
      name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
      tool_pipe_size, 0, nullptr);
  if (read_end == INVALID_HANDLE_VALUE) return false;
  call = "CreateFile";
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  write_end = CreateFileA(name, GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, 0, nullptr);
  if (write_end != INVALID_HANDLE_VALUE) return true;
  DWORD error = GetLastError();
  CloseHandle(read_end);
  SetLastError(error);
  return false;
}

// Starts `program` (nullptr: the command line's first word) with standard output on a
// new pipe.
ToolStart start_program(ToolProcess& tool, const char* program, char* command_line) {
  HANDLE read_end;
  HANDLE write_end;
  if (const char* call; !make_waitable_pipe(read_end, write_end, call)) {
    tool.failure = failure_reason(call, GetLastError());
    return ToolStart::pipe_failed;
  }
  PROCESS_INFORMATION process;
  bool started = create_tool_process(process, program, command_line, write_end);
  if (!started) {
    tool.failure = failure_reason("CreateProcess", GetLastError(),
                                  program != nullptr ? program : "the program");
  }
  // The tool holds its own copy now; the end of the driver's is what lets the pipe end.
  CloseHandle(write_end);
  if (!started) {
    CloseHandle(read_end);
    return ToolStart::start_failed;
  }
  CloseHandle(process.hThread);
  tool.process = reinterpret_cast<std::intptr_t>(process.hProcess);
  tool.output.reset(reinterpret_cast<std::intptr_t>(read_end));
  return ToolStart::started;
}

// Windows ends the process once the handler returns from a closed console or a shutdown,
// and at the latest five seconds after the event.
constexpr DWORD ending_wait_ms = 4500;

// The console delivers the event to the tool as well, which ends it; the driver records the
// event and lives on, so that it can clean up and fail the run. For the events that end the
// process the handler does not return at once: the main thread meanwhile sees the
// interruption, waits for the tool, deletes what an interruption deletes and exits, which
// ends this wait with the process. A logoff reaches only programs that a service runs (an
// interactive one ends with its session unasked), and the service's session goes on: so
// does the run, where the default handler would end it.
BOOL WINAPI record_console_event(DWORD event) {
  if (event == CTRL_LOGOFF_EVENT) return TRUE;
  bool ending = event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT;
  int number = event == CTRL_C_EVENT       ? 2   // as SIGINT
               : event == CTRL_BREAK_EVENT ? 21  // as SIGBREAK
               : event == CTRL_CLOSE_EVENT ? 1   // as SIGHUP
               : ending                    ? 15  // as SIGTERM: the system is shutting down
                                           : 0;
  if (number == 0) return FALSE;
  int none = 0;
  interruption.compare_exchange_strong(none, number);
  if (interruption_event != nullptr) SetEvent(interruption_event);
  if (ending) Sleep(ending_wait_ms);
  return TRUE;
}

}  // namespace

ToolStart start_tool(ToolProcess& tool, const char* tool_name, const char* argument_text,
                     const char* last_folder) {
  char program[MAX_PATH];
  char command_line[command_line_size];
  // The name as given, not the path found.
  bool ready = find_tool(program, tool_name, last_folder) &&
               make_command_line(command_line, {tool_name}, argument_text);
  return ready ? start_program(tool, program, command_line) : ToolStart::start_failed;
}

std::string find_tool_path(const char* tool_name, const char* last_folder) {
  char full_path[MAX_PATH];
  char found[MAX_PATH];
  return find_tool(found, tool_name, last_folder) && make_full_path(full_path, found) ? full_path
                                                                                      : "";
}

std::string launched_program_text(const char* launcher, const char* tool_path) {
  return std::string(launcher) + " \"" + tool_path + "\"";
}

ToolStart start_launched_tool(ToolProcess& tool, const char* launcher, const char* tool_path,
                              const char* argument_text) {
  char program[MAX_PATH];
  char command_line[command_line_size];
  const std::string program_text = launched_program_text(launcher, tool_path);
  if (!find_launcher(program, launcher) ||
      !make_command_line(command_line, {program_text.c_str()}, argument_text)) {
    return ToolStart::start_failed;
  }
  return start_program(tool, program[0] != '\0' ? program : nullptr, command_line);
}

namespace {

// An event for one overlapped read, closed when the read is over.
struct ReadEvent {
  HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ~ReadEvent() {
    if (handle != nullptr) CloseHandle(handle);
  }
};

// What read_pipe returns besides a count of bytes (0 for a tool's zero-byte write).
constexpr long read_failed = -1;
constexpr long tool_ended_first = -2;
constexpr long pipe_ended = -3;

// Reads into `buffer` and waits for the bytes or, with `process`, for the tool's end, which
// cancels the read.
long read_pipe(HANDLE pipe, HANDLE process, char* buffer, DWORD wanted) {
  ReadEvent event;
  if (event.handle == nullptr) return read_failed;
  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = event.handle;
  if (!ReadFile(pipe, buffer, wanted, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
    return GetLastError() == ERROR_BROKEN_PIPE ? pipe_ended : read_failed;
  }
  const HANDLE ends[] = {event.handle, process};
  const DWORD woken = WaitForMultipleObjects(process != nullptr ? 2 : 1, ends, FALSE, INFINITE);
  if (woken != WAIT_OBJECT_0) CancelIo(pipe);
  // Waits for the read's completion either way: a cancelled read may have taken bytes first,
  // and the buffer is the caller's again only once it is over.
  DWORD got = 0;
  if (GetOverlappedResult(pipe, &overlapped, &got, TRUE)) return static_cast<long>(got);
  const DWORD error = GetLastError();
  if (error == ERROR_BROKEN_PIPE) return pipe_ended;
  return error == ERROR_OPERATION_ABORTED && woken == WAIT_OBJECT_0 + 1 ? tool_ended_first
                                                                        : read_failed;
}

}  // namespace

// Until the tool ends, a read waits for bytes or that end; after it, only what the pipe
// holds is read, never waited for, as a process the tool left behind may keep it open.
long read_tool_output(ToolProcess& tool, char* buffer, std::size_t size) {
  DWORD wanted = size > 0x7fffffff ? 0x7fffffff : static_cast<DWORD>(size);
  const HANDLE pipe = handle_of(tool.output.get());
  for (;;) {
    if (tool.ended) {
      DWORD waiting = 0;
      if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
      if (waiting == 0) return 0;
      if (waiting < wanted) wanted = waiting;
    }
    const long got =
        read_pipe(pipe, tool.ended ? nullptr : handle_of(tool.process), buffer, wanted);
    if (got == tool_ended_first) tool.ended = true;
    // A tool's zero-byte write completes a read with nothing; only a broken pipe is the end.
    if (got > 0 || got == read_failed) return got;
    if (got == pipe_ended) return 0;
  }
}

// The exit code is asked for only once the process has ended, so a tool that really exits
// with 259 (STILL_ACTIVE) is not taken for one still running.
bool finish_tool(ToolProcess& tool, ToolEnd& end) {
  tool.output.reset();
  HANDLE process = handle_of(std::exchange(tool.process, -1));
  DWORD code = 0;
  bool waited =
      WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code);
  CloseHandle(process);
  end = ToolEnd{};
  end.exit_code = static_cast<int>(code);
  return waited;
}

// No Windows process ends by a signal: finish_tool never names one.
const char* signal_name(int) {
  return "";
}

int interrupt_signal() {
  return interruption.load();
}

// Should the handler not be installed, Ctrl-C ends the driver as it ends any console
// program; a process started with Ctrl-C ignored is not called for it either way.
void install_interrupt_handlers() {
  interruption_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(record_console_event, TRUE);
}

void close_handle(std::intptr_t handle) {
  CloseHandle(handle_of(handle));
}

MutexWait wait_for_named_mutex(const char* name, std::intptr_t& handle) {
  handle = -1;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr) return MutexWait::unavailable;
  // The interruption event, once set, stays set: an interruption before the wait ends it too.
  const HANDLE waited_for[] = {mutex, interruption_event};
  const DWORD waited =
      WaitForMultipleObjects(interruption_event != nullptr ? 2 : 1, waited_for, FALSE, INFINITE);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED_0) {
    handle = reinterpret_cast<std::intptr_t>(mutex);
    return MutexWait::held;
  }
  CloseHandle(mutex);
  return waited == WAIT_OBJECT_0 + 1 ? MutexWait::interrupted : MutexWait::unavailable;
}

void release_named_mutex(std::intptr_t& handle) {
  if (handle != -1) {
    HANDLE mutex = reinterpret_cast<HANDLE>(handle);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  handle = -1;
}

// A mutex named after the folder's identity, so that every spelling of its path takes the
// same lock.
bool lock_current_folder(FolderLock& lock) {
  unlock_folder(lock);
  char identity[identity_size];
  char name[identity_size + 32];
  if (!identify(".", identity)) return true;
  std::snprintf(name, sizeof name, "Local\\vexa-folder:%s", identity);
  return wait_for_named_mutex(name, lock.handle) != MutexWait::interrupted;
}

void unlock_folder(FolderLock& lock) {
  release_named_mutex(lock.handle);
}

unsigned long process_id() {
  return GetCurrentProcessId();
}

namespace {

// Bytes waiting in a pipe; false once its writer is gone.
bool bytes_waiting(std::intptr_t stream, DWORD& count) {
  count = 0;
  return PeekNamedPipe(handle_of(stream), nullptr, 0, nullptr, &count, nullptr) != 0;
}

}  // namespace

// The worker's command line is this run's own, verbatim; the variable is set only while it
// starts, so the driver's own tools never see it.
ToolStart start_worker(WorkerProcess& worker, const char* program, const char* const*,
                       const char* variable) {
  char command_line[command_line_size];
  if (!copy_text(command_line, GetCommandLineA())) return ToolStart::start_failed;
  // Its standard output and error, and its reports: read ends the driver's, overlapped.
  HANDLE read_ends[3];
  HANDLE write_ends[3];
  int made = 0;
  const char* call = nullptr;
  while (made < 3 && make_waitable_pipe(read_ends[made], write_ends[made], call)) ++made;
  // The bytes of its chains: the read end the worker's.
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE handed_read = nullptr;
  HANDLE handed_write = nullptr;
  bool started = made == 3 && (call = "CreatePipe",
                               CreatePipe(&handed_read, &handed_write, &inherited, 0) &&
                                   SetHandleInformation(handed_write, HANDLE_FLAG_INHERIT, 0));
  if (!started) worker.failure = failure_reason(call, GetLastError());
  PROCESS_INFORMATION process;
  if (started) {
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_ends[0];
    startup.hStdError = write_ends[1];
    const std::string channel = std::to_string(reinterpret_cast<std::uintptr_t>(handed_read)) +
                                "," +
                                std::to_string(reinterpret_cast<std::uintptr_t>(write_ends[2]));
    SetEnvironmentVariableA(variable, channel.c_str());
    started = CreateProcessA(program, command_line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &process) != 0;
    if (!started) worker.failure = failure_reason("CreateProcess", GetLastError(), program);
    SetEnvironmentVariableA(variable, nullptr);
  }
  // The worker holds its own copies of its ends now.
  for (int i = 0; i < made; ++i) CloseHandle(write_ends[i]);
  if (handed_read != nullptr) CloseHandle(handed_read);
  if (!started) {
    for (int i = 0; i < made; ++i) CloseHandle(read_ends[i]);
    if (handed_write != nullptr) CloseHandle(handed_write);
    return made == 3 && handed_write != nullptr ? ToolStart::start_failed : ToolStart::pipe_failed;
  }
  CloseHandle(process.hThread);
  worker.process = reinterpret_cast<std::intptr_t>(process.hProcess);
  worker.streams[0].reset(reinterpret_cast<std::intptr_t>(read_ends[0]));
  worker.streams[1].reset(reinterpret_cast<std::intptr_t>(read_ends[1]));
  worker.reports.reset(reinterpret_cast<std::intptr_t>(read_ends[2]));
  worker.handing.reset(reinterpret_cast<std::intptr_t>(handed_write));
  return ToolStart::started;
}

// On a synchronous handle.
bool write_whole(std::intptr_t handle, std::string_view bytes) {
  DWORD written = 0;
  while (!bytes.empty() &&
         WriteFile(handle_of(handle), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) &&
         written > 0) {
    bytes.remove_prefix(written);
  }
  return bytes.empty();
}

// On a synchronous handle.
std::size_t read_whole(std::intptr_t handle, char* buffer, std::size_t size) {
  std::size_t got = 0;
  DWORD count = 0;
  while (
      got < size &&
      ReadFile(handle_of(handle), buffer + got, static_cast<DWORD>(size - got), &count, nullptr) &&
      count > 0) {
    got += count;
  }
  return got;
}

// Each chain's bytes go as their length, then the bytes.
bool hand_to_worker(WorkerProcess& worker, std::string_view handed) {
  const bool whole = write_whole(worker.handing.get(), handed_frame(handed));
  if (!whole) worker.failure = failure_reason("WriteFile", GetLastError());
  return whole;
}

// A status is one write of four bytes: read once all four are there.
int read_worker_report(WorkerProcess& worker, int& status) {
  DWORD waiting;
  if (!worker.reports.is_open()) return 0;
  if (bytes_waiting(worker.reports.get(), waiting) && waiting < sizeof(std::int32_t)) return -1;
  std::int32_t reported;
  if (read_pipe(handle_of(worker.reports.get()), nullptr, reinterpret_cast<char*>(&reported),
                sizeof reported) != sizeof reported) {
    worker.reports.reset();
    return 0;
  }
  status = reported;
  return 1;
}

long read_worker_output(WorkerProcess& worker, int stream, char* buffer, std::size_t size) {
  DWORD waiting;
  long got = 0;
  if (bytes_waiting(worker.streams[stream].get(), waiting) && waiting == 0) return -1;
  DWORD wanted = waiting < size ? waiting : static_cast<DWORD>(size);
  // Bytes are there: the read completes at once.
  if (waiting > 0 &&
      (got = read_pipe(handle_of(worker.streams[stream].get()), nullptr, buffer, wanted)) > 0) {
    return got;
  }
  worker.streams[stream].reset();
  return 0;
}

// One wait on everything: each open stream has a zero-byte read pending, which completes when
// bytes come or the stream ends and takes nothing; the workers' process handles; the
// interruption; the jobserver's semaphore last, so that it is taken only when it ends the
// wait. The reads are cancelled before the wait returns.
bool wait_for_workers(WorkerProcess* const* workers, std::size_t count, JobServer* jobserver,
                      char& /*token: a count of the semaphore, no byte*/, int milliseconds) {
  // jobs_within_limits keeps the chains few enough for one wait.
  if (interruption.load() != 0 || 2 + 3 * count > MAXIMUM_WAIT_OBJECTS) return false;
  std::deque<ReadEvent> events;  // never moved: each closes its own
  OVERLAPPED reads[MAXIMUM_WAIT_OBJECTS];
  HANDLE pipes[MAXIMUM_WAIT_OBJECTS];
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  std::size_t pending = 0;
  bool ready = false;
  for (std::size_t i = 0; i < count && !ready; ++i) {
    for (const OwnedHandle* pipe :
         {&workers[i]->streams[0], &workers[i]->streams[1], &workers[i]->reports}) {
      if (!pipe->is_open() || ready) continue;
      const HANDLE event = events.emplace_back().handle;
      std::memset(&reads[pending], 0, sizeof reads[pending]);
      reads[pending].hEvent = event;
      char none;
      if (event == nullptr ||
          ReadFile(handle_of(pipe->get()), &none, 0, nullptr, &reads[pending]) ||
          GetLastError() != ERROR_IO_PENDING) {
        ready = true;  // bytes, the stream's end, or a failure its read will report
      } else {
        pipes[pending] = handle_of(pipe->get());
        handles[pending] = event;
        ++pending;
      }
    }
  }
  std::size_t waited = pending;
  // The end of a worker's reports is its end: its process is waited on only once they ended.
  for (std::size_t i = 0; i < count; ++i) {
    if (!workers[i]->reports.is_open()) handles[waited++] = handle_of(workers[i]->process);
  }
  if (interruption_event != nullptr) handles[waited++] = interruption_event;
  const bool with_token = jobserver != nullptr;
  if (with_token) handles[waited++] = handle_of(jobserver->take_end());
  const DWORD woken = ready ? WAIT_TIMEOUT
                            : WaitForMultipleObjects(static_cast<DWORD>(waited), handles, FALSE,
                                                     milliseconds < 0 ? INFINITE : milliseconds);
  for (std::size_t i = 0; i < pending; ++i) {
    DWORD got;
    CancelIo(pipes[i]);
    GetOverlappedResult(pipes[i], &reads[i], &got, TRUE);
  }
  return with_token && woken == WAIT_OBJECT_0 + waited - 1;
}

bool worker_has_ended(WorkerProcess& worker) {
  return WaitForSingleObject(handle_of(worker.process), 0) == WAIT_OBJECT_0;
}

bool finish_worker(WorkerProcess& worker, int& exit_code) {
  worker.handing.reset();
  worker.reports.reset();
  for (OwnedHandle& stream : worker.streams) stream.reset();
  HANDLE process = handle_of(worker.process);
  worker.process = -1;
  DWORD code = 0;
  bool waited =
      WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code);
  CloseHandle(process);
  exit_code = static_cast<int>(code);
  return waited;
}

// make on Windows shares its slots as a named semaphore.
JobServerState connect_jobserver(JobServer& jobserver, const char* auth) {
  HANDLE semaphore = OpenSemaphoreA(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, auth);
  if (semaphore == nullptr) return JobServerState::unusable;
  jobserver.take.reset(reinterpret_cast<std::intptr_t>(semaphore));
  jobserver.give_end = jobserver.take_end();
  return JobServerState::connected;
}

bool take_job_token(JobServer& jobserver, char&) {
  return WaitForSingleObject(handle_of(jobserver.take_end()), 0) == WAIT_OBJECT_0;
}

void return_job_token(JobServer& jobserver, char) {
  ReleaseSemaphore(handle_of(jobserver.give_end), 1, nullptr);
}

int processor_count() {
  DWORD_PTR process_mask = 0;
  DWORD_PTR system_mask = 0;
  int allowed = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask)) {
    for (; process_mask != 0; process_mask &= process_mask - 1) ++allowed;
  }
  if (allowed > 0) return allowed;
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  return system.dwNumberOfProcessors > 0 ? static_cast<int>(system.dwNumberOfProcessors) : 1;
}

// One wait takes at most MAXIMUM_WAIT_OBJECTS handles, and wait_for_workers waits on three
// for each running chain (the worker's two streams and its reports, or the worker itself once
// its reports have ended) beside the interruption
// and the jobserver: more chains would need a wait that looks in turn, which no event wakes.
int jobs_within_limits(int jobs, const char*& limit) {
  constexpr int fitting = (MAXIMUM_WAIT_OBJECTS - 2) / 3;
  limit = "handles one wait takes";
  return jobs < fitting ? jobs : fitting;
}

// Past the C runtime's text mode: a worker's lines already end as it wrote them.
bool write_standard_stream(int stream, const char* bytes, std::size_t count) {
  HANDLE handle = GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  while (count > 0) {
    DWORD written = 0;
    DWORD chunk = count > 0x10000 ? 0x10000 : static_cast<DWORD>(count);
    if (!WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) {
      DWORD error = GetLastError();
      return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE;  // a reader gone
    }
    bytes += written;
    count -= written;
  }
  return true;
}

namespace {

// A handle's value as start_worker wrote it, up to `end`; nullptr for none.
HANDLE handle_from_text(const char* text, const char* end) {
  char* after = nullptr;
  const unsigned long long number = std::strtoull(text, &after, 10);
  if (after != end || number == 0) return nullptr;
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
}

}  // namespace

// Both handles are kept from the tools the worker starts.
bool open_worker_channel(const char* variable, WorkerChannel& channel) {
  char value[64];
  const DWORD length = GetEnvironmentVariableA(variable, value, sizeof value);
  if (length == 0) return false;
  SetEnvironmentVariableA(variable, nullptr);
  const char* comma = length < sizeof value ? std::strchr(value, ',') : nullptr;
  const HANDLE handed = comma != nullptr ? handle_from_text(value, comma) : nullptr;
  const HANDLE reports = comma != nullptr ? handle_from_text(comma + 1, value + length) : nullptr;
  if (handed == nullptr || reports == nullptr || handed == reports) return false;
  SetHandleInformation(handed, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(reports, HANDLE_FLAG_INHERIT, 0);
  channel.handed.reset(reinterpret_cast<std::intptr_t>(handed));
  channel.reports.reset(reinterpret_cast<std::intptr_t>(reports));
  return true;
}

// Deleted by the system when its last handle closes, however the driver ends.
std::FILE* create_scratch_file(std::string& scratch_name) {
  char folder[MAX_PATH];
  char name[MAX_PATH];
  DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder || GetTempFileNameA(folder, "vx", 0, name) == 0) {
    return nullptr;
  }
  scratch_name = name;
  HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DeleteFileA(name);
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "w+b");
  if (stream == nullptr) _close(fd);
  return stream;
}
