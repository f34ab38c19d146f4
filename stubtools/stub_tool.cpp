// Stand-in for the five tools vexa runs. One program; the base name of argv[0] ("gcc33",
// "pp33", "ext33", "as33" or "lk33", any letter case, ".exe" or not) says which tool it is.
// "vstub-launch" makes it a recording launcher (below). Any other name: "vexa stub: unknown
// tool name <name>" on stderr, exit code 2.
//
// gcc33, pp33, ext33, as33: the input is the last word of the command line. The output, beside
//   it, is its name with the extension replaced (".ps" for gcc33 and pp33, ".ms" for ext33, ".o"
//   for as33), holding "; <tool> <input>\n" and the input's bytes. An unreadable input:
//   "<tool>: cannot open <input>" on stderr, exit code 1.
// lk33: the word after the last "-c" names the command file. The output is named by the last
//   line that begins with "-o " and holds "; lk33 program\n" and the command file's bytes. No
//   "-c" or an unreadable command file: a message on stderr, exit code 1. No "-o " line, or an
//   empty name in it: no output, and no failure.
// Banners on stdout: gcc33 begins with "GNU C Compiler for E0C33 (stand-in)" and
//   "    gcc33 -S -x c <its words>"; each tool ends with its completion line ("Compile
//   Completed", "Pre Processor Completed", "Extend Completed", "Assembly Completed", "Link
//   Completed").
//
// VSTUB_LOG=<file>: each run appends one record in one write call: the invoked base name, a TAB
//   before each word, "\n"; lk33 adds "cm|<line>\n" for every command file line (its "\n"
//   dropped, a "\r" kept). Written before any control acts but WAIT_FOR, BUSY_MS and START_MS.
//
// Controls VSTUB_<TOOL>_<KEY>, TOOL upper-cased (VSTUB_GCC33_EXIT=1), in the order they act:
//   WAIT_FOR=<file> wait until the file exists before anything else: a test's handshake.
//   BUSY_MS=<n>     spend n milliseconds of processor time first, as a compile would.
//   START_MS=<n>    sleep n milliseconds before reading anything, even the command file (and
//                   before the log record): a file changed meanwhile is read as changed.
//   PARENT_FDS=<file>  append to the file the number of descriptors the parent (the driver)
//                   holds open, and "\n" (POSIX: the entries of /proc/<parent>/fd, less the
//                   ends of the tool's own output pipe).
//   PARENT_ID=<file>  append to the file the parent's process id (Windows: "unknown"), a blank,
//                   the input's name and "\n".
//   CLOSE_STDOUT=1  close stdout at once; all later stdout text is lost.
//   NO_OUTPUT=1     skip the output step (after gcc33's first banners): no file, no input check.
//   PRINT=<text>    text to stdout with \n \r \t \\ \0 \xHH decoded (any other backslash stays
//                   as it is); nothing is added.
//   STDERR=<text>   the same, to stderr.
//   WARNINGS=<n>    n lines "<input>: Warning: stand-in warning <i>" (i from 1; lk33: the
//                   command file's name).
//   FLOOD=<bytes>   that many bytes to stdout in lines of LINE=<bytes> (default 80, "\n"
//                   included): lines 1, 9, 17, ... begin with the completion banner, lines 5, 13,
//                   21, ... hold ": Warning: ", the rest are plain text, all padded with letters.
//                   The text is cut after FLOOD bytes: the last line may be short, unterminated.
//   QUIET=1         no banners (flood lines still come).
//   SLEEP_MS=<n>    sleep n milliseconds after all output.
//   LINGER=<text>   leave a process behind holding stdout alone (a daemon, Wine's server),
//                   which writes text, decoded as PRINT's, 3 seconds later and exits. Windows:
//                   the stand-in started again, VSTUB_LINGERING holding the text.
//   SIGNAL=<n>      restore the default action of signal n and raise it; if the process lives
//                   on, EXIT follows. Windows: exit code 3 and no message, what the C runtime's
//                   default action gives.
//   EXIT=<n>        the exit code (default 0); with EXIT_IF=<text> only when the input (lk33:
//                   the command file) name contains text, else 0.
// All output is unbuffered write() calls, so nothing waits for a flush.
//
// vstub-launch: appends its VSTUB_LOG record as a tool does, then runs its first word as a
//   program with the other words, standard handles inherited, and exits with that program's
//   exit code (POSIX: it becomes that program). On Windows the program gets the rest of the
//   launcher's own command line verbatim, so it splits its words as it would have. No word,
//   or a program that cannot start: a message on stderr, exit code 127.
//   VSTUB_LAUNCH_EXIT=<n>: exit code n once the record is written, nothing run.
//
// VSTUB_SPANS=<file>: a tool appends "+" to it as it starts and "-" as it returns, so that
//   how many tools ran at once can be read back.

#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <thread>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace {

struct ToolInfo {
  const char* name;
  const char* env_prefix;
  const char* output_extension;  // nullptr for the linker, whose command file names its output
  const char* completion_banner;
};

constexpr ToolInfo tools[] = {
    {"gcc33", "VSTUB_GCC33_", ".ps", "Compile Completed"},
    {"pp33", "VSTUB_PP33_", ".ps", "Pre Processor Completed"},
    {"ext33", "VSTUB_EXT33_", ".ms", "Extend Completed"},
    {"as33", "VSTUB_AS33_", ".o", "Assembly Completed"},
    {"lk33", "VSTUB_LK33_", nullptr, "Link Completed"},
};

struct Run {
  const ToolInfo* tool = nullptr;
  std::string input;              // the input, or lk33's command file
  std::string command_file_text;  // lk33 only
  bool command_file_read = false;
  int stdout_fd = 1;  // -1 once CLOSE_STDOUT closed it
};

// Errors, a closed pipe included, are ignored: the stand-in only has to end the way its
// controls say.
void write_text(int fd, std::string_view text) {
  while (fd >= 0 && !text.empty()) {
    const auto written =
        write(fd, text.data(), static_cast<unsigned>(std::min<size_t>(text.size(), 1u << 30)));
    if (written <= 0) return;
    text.remove_prefix(static_cast<size_t>(written));
  }
}

const char* control(const Run& run, const char* key) {
  return std::getenv((std::string(run.tool->env_prefix) + key).c_str());
}

bool control_set(const Run& run, const char* key) {
  const char* value = control(run, key);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

long long control_number(const Run& run, const char* key, long long fallback) {
  const char* value = control(run, key);
  return value != nullptr && *value != '\0' ? std::strtoll(value, nullptr, 10) : fallback;
}

// An unknown or incomplete escape stays as written.
std::string decode_escapes(const char* text) {
  static constexpr char escape_letters[] = "nrt\\0";
  static constexpr char escape_bytes[] = "\n\r\t\\\0";
  std::string decoded;
  for (const char* p = text; *p != '\0'; ++p) {
    const char* letter = p[0] == '\\' && p[1] != '\0' ? std::strchr(escape_letters, p[1]) : nullptr;
    if (letter != nullptr) {
      decoded += escape_bytes[letter - escape_letters];
      ++p;
    } else if (p[0] == '\\' && p[1] == 'x' && std::isxdigit(static_cast<unsigned char>(p[2])) &&
               std::isxdigit(static_cast<unsigned char>(p[3]))) {
      decoded += static_cast<char>(std::stoi(std::string(p + 2, 2), nullptr, 16));
      p += 3;
    } else {
      decoded += *p;
    }
  }
  return decoded;
}

const char* base_name(const char* path) {
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  return base;
}

// The base name in lower case, without ".exe".
std::string role_name(const char* base) {
  std::string name;
  for (const char* p = base; *p != '\0'; ++p)
    name += (*p >= 'A' && *p <= 'Z') ? static_cast<char>(*p - 'A' + 'a') : *p;
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
    name.resize(name.size() - 4);
  return name;
}

const ToolInfo* find_tool(const char* base) {
  const std::string name = role_name(base);
  for (const ToolInfo& tool : tools)
    if (name == tool.name) return &tool;
  return nullptr;
}

bool read_file(const std::string& name, std::string& contents) {
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) contents.append(buffer, got);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

bool write_file(const std::string& name, const std::string& head, const std::string& body) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(head.data(), 1, head.size(), file) == head.size() &&
                       std::fwrite(body.data(), 1, body.size(), file) == body.size();
  return (std::fclose(file) == 0) && written;
}

std::string replace_extension(const std::string& name, const char* extension) {
  const size_t separator = name.find_last_of("/\\");
  const size_t dot = name.find_last_of('.');
  const bool has_extension =
      dot != std::string::npos && (separator == std::string::npos || dot > separator);
  return (has_extension ? name.substr(0, dot) : name) + extension;
}

// Calls visit(line) for every line of text, without its "\n"; a last line may lack it.
template <typename Visit>
void for_each_line(const std::string& text, Visit visit) {
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    visit(std::string_view(text).substr(start, end - start));
    start = end + 1;
  }
}

// Appends `text` in one write, whole even when other tools append at the same time: on
// Windows (and under Wine) an append is a seek and a write, so it is made under a lock.
void append_to_file(const char* name, const std::string& text) {
#ifdef _WIN32
  HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  OVERLAPPED whole = {};
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    DWORD written;
    SetFilePointer(file, 0, nullptr, FILE_END);
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  }
  CloseHandle(file);
#else
  const int fd = open(name, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  write_text(fd, text);
  close(fd);
#endif
}

void append_log(const Run& run, int argc, char** argv) {
  const char* log_name = std::getenv("VSTUB_LOG");
  if (log_name == nullptr || *log_name == '\0') return;
  std::string record = base_name(argv[0]);
  for (int i = 1; i < argc; ++i) record.append("\t").append(argv[i]);
  record += '\n';
  for_each_line(run.command_file_text, [&record](std::string_view line) {
    record.append("cm|").append(line).append("\n");
  });
  append_to_file(log_name, record);
}

// The name after the last line "-o "; empty when there is none.
std::string link_output_name(const std::string& command_file) {
  std::string_view output;
  for_each_line(command_file, [&output](std::string_view line) {
    if (line.starts_with("-o ")) output = line.substr(3);
  });
  if (output.ends_with('\r')) output.remove_suffix(1);
  return std::string(output);
}

bool fail(const Run& run, const std::string& message) {
  write_text(2, run.tool->name + (": " + message) + "\n");
  return false;
}

// Returns false after printing why the tool fails.
bool write_output(const Run& run) {
  const bool linker = run.tool->output_extension == nullptr;
  if (linker && run.input.empty()) return fail(run, "no command file given with -c");
  std::string contents;
  if (linker ? !run.command_file_read : !read_file(run.input, contents))
    return fail(run, "cannot open " + run.input);
  const std::string output = linker ? link_output_name(run.command_file_text)
                                    : replace_extension(run.input, run.tool->output_extension);
  if (output.empty()) return true;  // a command file without an "-o " line
  const std::string head =
      std::string("; ") + run.tool->name + " " + (linker ? "program" : run.input) + "\n";
  if (!write_file(output, head, linker ? run.command_file_text : contents))
    return fail(run, "cannot create " + output);
  return true;
}

// Fills `size` bytes of the endless flood text, starting at byte `offset` of it.
void fill_flood(const Run& run, char* out, size_t size, unsigned long long offset,
                unsigned long long line_length) {
  static constexpr char padding[] = " abcdefghijklmnopqrstuvwxyz";
  unsigned long long line = offset / line_length;
  unsigned long long column = offset % line_length;
  size_t i = 0;
  while (i < size) {
    const char* head = line % 8 == 0   ? run.tool->completion_banner
                       : line % 8 == 4 ? "flood.c: Warning: stand-in flood line"
                                       : "stand-in flood line";
    const size_t head_length = std::strlen(head);
    for (; i < size && column + 1 < line_length; ++i, ++column)
      out[i] = column < head_length ? head[column] : padding[(column - head_length) % 27];
    if (i == size) break;
    out[i++] = '\n';
    ++line;
    column = 0;
  }
}

void flood(const Run& run, unsigned long long total, unsigned long long line_length) {
  constexpr size_t chunk_size = 65536;
  // The text repeats every 8 lines; when a chunk holds whole groups of 8 it is filled once and
  // written again and again.
  const bool repeating = line_length <= chunk_size / 8;
  const size_t block_size =
      repeating ? chunk_size / (8 * line_length) * (8 * line_length) : chunk_size;
  std::string block(block_size, '\0');
  for (unsigned long long offset = 0; offset < total; offset += block_size) {
    if (!repeating || offset == 0) fill_flood(run, block.data(), block_size, offset, line_length);
    const unsigned long long left = total - offset;
    write_text(run.stdout_fd,
               std::string_view(block).substr(0, std::min<unsigned long long>(left, block_size)));
  }
}

#ifdef _WIN32
// What the C runtime's default action for a raised signal gives: exit code 3, no message.
void die_by_signal(int) {
  std::_Exit(3);
}

// Bytes go out as written: no "\r" added in front of "\n".
void use_binary_output() {
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
}

bool file_exists(const char* name) {
  return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

std::string parent_fds() {
  return "unknown";
}

std::string parent_id() {
  return "unknown";
}

// The process left behind inherits standard output only.
void linger(const std::string& text) {
  char program[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length >= sizeof program) return;
  SetEnvironmentVariableA("VSTUB_LINGERING", text.c_str());
  SetHandleInformation(GetStdHandle(STD_INPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(GetStdHandle(STD_ERROR_HANDLE), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  PROCESS_INFORMATION process;
  std::string command_line = std::string("\"") + program + "\"";
  if (!CreateProcessA(program, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process))
    return;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
}

int keep_lingering(const char* text) {
  std::this_thread::sleep_for(std::chrono::seconds(3));
  write_text(1, text);
  return 0;
}
#else
void die_by_signal(int signal_number) {
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void use_binary_output() {}

bool file_exists(const char* name) {
  return access(name, F_OK) == 0;
}

// What a descriptor of /proc/<pid>/fd names ("pipe:[1234]", a path); empty if unreadable.
std::string descriptor_target(const std::string& entry) {
  char target[4096];
  const ssize_t length = readlink(entry.c_str(), target, sizeof target);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "";
}

// The ends of this tool's own output pipe are left out: the parent closes its copy of the
// write end only once the start has returned, which may be before or after this count.
std::string parent_id() {
  return std::to_string(getppid());
}

std::string parent_fds() {
  const std::string folder_name = "/proc/" + std::to_string(getppid()) + "/fd";
  DIR* folder = opendir(folder_name.c_str());
  if (folder == nullptr) return "unknown";
  const std::string own_output = descriptor_target("/proc/self/fd/1");
  int count = 0;
  while (const dirent* entry = readdir(folder)) {
    count += entry->d_name[0] != '.' &&
             descriptor_target(folder_name + "/" + entry->d_name) != own_output;
  }
  closedir(folder);
  return std::to_string(count);
}

void linger(const std::string& text) {
  if (fork() != 0) return;
  close(0);
  close(2);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  write_text(1, text);
  _exit(0);
}
#endif

void pause(const Run& run, const char* key) {
  if (const long long milliseconds = control_number(run, key, 0); milliseconds > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Polled: the stand-in only has to outwait a test's step, not to be quick about it.
void wait_for_file(const Run& run) {
  const char* name = control(run, "WAIT_FOR");
  while (name != nullptr && *name != '\0' && !file_exists(name))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Processor time as std::clock counts it (on Windows, time since the start).
void busy(const Run& run) {
  const std::clock_t until =
      std::clock() + control_number(run, "BUSY_MS", 0) * CLOCKS_PER_SEC / 1000;
  while (std::clock() < until) {
  }
}

constexpr int cannot_launch = 127;

#ifdef _WIN32
// The command line after its first word, which CreateProcess rules delimit: quotes group,
// and nothing is escaped in a program name.
int run_rest(char**) {
  const char* rest = GetCommandLineA();
  for (bool quoted = false; *rest != '\0' && (quoted || (*rest != ' ' && *rest != '\t')); ++rest)
    if (*rest == '"') quoted = !quoted;
  std::string line = rest + std::strspn(rest, " \t");
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  if (line.empty() || !CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process)) {
    write_text(2, "vexa stub: cannot launch '" + line + "'\n");
    return cannot_launch;
  }
  DWORD exit_code = cannot_launch;
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(exit_code);
}
#else
int run_rest(char** argv) {
  if (argv[1] != nullptr) execvp(argv[1], argv + 1);
  write_text(2, std::string("vexa stub: cannot launch '") + (argv[1] ? argv[1] : "") + "'\n");
  return cannot_launch;
}
#endif

int launch(int argc, char** argv) {
  append_log(Run{}, argc, argv);
  const char* exit_code = std::getenv("VSTUB_LAUNCH_EXIT");
  if (exit_code != nullptr && *exit_code != '\0') return std::atoi(exit_code);
  return run_rest(argv);
}

void mark_span(const char* mark) {
  const char* spans = std::getenv("VSTUB_SPANS");
  if (spans == nullptr || *spans == '\0') return;
  append_to_file(spans, mark);
}

int run_tool(int argc, char** argv, const char* invoked_as);

}  // namespace

int main(int argc, char** argv) {
  use_binary_output();
#ifdef _WIN32
  if (const char* text = std::getenv("VSTUB_LINGERING")) return keep_lingering(text);
#endif
  const char* invoked_as = base_name(argc > 0 ? argv[0] : "");
  if (role_name(invoked_as) == "vstub-launch") return launch(argc, argv);
  mark_span("+");
  const int exit_code = run_tool(argc, argv, invoked_as);
  mark_span("-");
  return exit_code;
}

namespace {

int run_tool(int argc, char** argv, const char* invoked_as) {
  Run run;
  run.tool = find_tool(invoked_as);
  if (run.tool == nullptr) {
    write_text(2, std::string("vexa stub: unknown tool name ") + invoked_as + "\n");
    return 2;
  }
  wait_for_file(run);
  busy(run);
  pause(run, "START_MS");
  if (run.tool->output_extension != nullptr) {
    if (argc > 1) run.input = argv[argc - 1];
  } else {
    for (int i = 1; i + 1 < argc; ++i)
      if (std::strcmp(argv[i], "-c") == 0) run.input = argv[i + 1];
    if (!run.input.empty()) run.command_file_read = read_file(run.input, run.command_file_text);
  }
  append_log(run, argc, argv);

  if (const char* name = control(run, "PARENT_FDS")) append_to_file(name, parent_fds() + "\n");
  if (const char* name = control(run, "PARENT_ID"))
    append_to_file(name, parent_id() + " " + run.input + "\n");
  if (control_set(run, "CLOSE_STDOUT")) {
    close(1);
    run.stdout_fd = -1;
  }
  const bool quiet = control_set(run, "QUIET");
  if (!quiet && std::strcmp(run.tool->name, "gcc33") == 0) {
    std::string banner = "GNU C Compiler for E0C33 (stand-in)\n    gcc33 -S -x c ";
    for (int i = 1; i < argc; ++i) banner.append(i > 1 ? " " : "").append(argv[i]);
    write_text(run.stdout_fd, banner + "\n");
  }
  if (!control_set(run, "NO_OUTPUT") && !write_output(run)) return 1;
  if (const char* text = control(run, "PRINT")) write_text(run.stdout_fd, decode_escapes(text));
  if (const char* text = control(run, "STDERR")) write_text(2, decode_escapes(text));
  for (long long i = 1, count = control_number(run, "WARNINGS", 0); i <= count; ++i)
    write_text(run.stdout_fd,
               run.input + ": Warning: stand-in warning " + std::to_string(i) + "\n");
  const long long flood_bytes = control_number(run, "FLOOD", 0);
  const long long line_length = control_number(run, "LINE", 80);
  if (flood_bytes > 0) flood(run, flood_bytes, line_length > 0 ? line_length : 80);
  if (!quiet) write_text(run.stdout_fd, std::string(run.tool->completion_banner) + "\n");
  pause(run, "SLEEP_MS");
  if (const char* text = control(run, "LINGER")) linger(decode_escapes(text));
  if (const long long signal_number = control_number(run, "SIGNAL", 0); signal_number > 0)
    die_by_signal(static_cast<int>(signal_number));
  const char* only_if = control(run, "EXIT_IF");
  if (only_if != nullptr && run.input.find(only_if) == std::string::npos) return 0;
  return static_cast<int>(control_number(run, "EXIT", 0));
}

}  // namespace
