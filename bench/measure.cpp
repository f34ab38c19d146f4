// Benchmark helper: runs a command, or a two-command pipeline, or one command per line of a
// list, and prints the wall time, the peak resident memory of the first command's own
// process, and the number of runs that did not exit 0:
//   bench_measure [--rss] [--repeat N] [--each LIST] [--out FILE] COMMAND ARGS...
//                 ['|' COMMAND ARGS...]
// --repeat N   runs it all N times, one after another (for runs too short to time alone).
// --each LIST  runs COMMAND ARGS... LINE for every line of LIST, one after another.
// --out FILE   standard output of the last command (default /dev/null); standard input is
//              /dev/null.
// --rss        reads the first command's peak memory as it exits. Its children are not
//              counted, unlike getrusage's RUSAGE_CHILDREN, which takes the largest process
//              of the whole tree. The tracing costs time: timed runs go without it.
// Output: "<milliseconds> <peak KiB, 0 without --rss> <failed runs>".
#include <fcntl.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Options {
  bool rss = false;
  long repeat = 1;
  const char* each = nullptr;
  const char* out = "/dev/null";
  char** first = nullptr;   // argv of the first command, null-terminated
  char** second = nullptr;  // after '|', or nullptr
};

// The high-water mark of a stopped process's resident set, from /proc.
long peak_kib(pid_t pid) {
  char name[64];
  std::snprintf(name, sizeof name, "/proc/%d/status", static_cast<int>(pid));
  std::FILE* status = std::fopen(name, "r");
  if (status == nullptr) return 0;
  char line[256];
  long kib = 0;
  while (std::fgets(line, sizeof line, status) != nullptr)
    if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atol(line + 6);
  std::fclose(status);
  return kib;
}

[[noreturn]] void fail(const char* what) {
  std::perror(what);
  std::exit(2);
}

void move_fd(int from, int to) {
  if (from != to && (dup2(from, to) < 0 || close(from) < 0)) _exit(127);
}

// Starts argv with the given standard input and output; with `traced`, stopped at its exec
// under this process's control, so that its exit can be caught.
void start(char** argv, int input, int output, bool traced) {
  pid_t pid = fork();
  if (pid < 0) fail("fork");
  if (pid > 0) return;
  move_fd(input, STDIN_FILENO);
  move_fd(output, STDOUT_FILENO);
  if (traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(127);
  execvp(argv[0], argv);
  _exit(127);
}

// Waits for both processes. The traced one stops at its exec, at every signal it gets
// (passed on unchanged) and just before it exits, where its peak is read.
void wait_all(int running, long& peak, int& failures) {
  while (running > 0) {
    int status;
    pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) fail("waitpid");
    if (WIFSTOPPED(status)) {
      int signal = WSTOPSIG(status);
      if (status >> 8 == (SIGTRAP | PTRACE_EVENT_EXIT << 8)) {
        long kib = peak_kib(pid);
        if (kib > peak) peak = kib;
        signal = 0;
      } else if (signal == SIGTRAP) {  // the exec stop
        ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
        signal = 0;
      }
      ptrace(PTRACE_CONT, pid, nullptr, signal);
      continue;
    }
    --running;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
}

void run_once(const Options& options, char** first, long& peak, int& failures) {
  int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int output = open(options.out, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (input < 0 || output < 0) fail(options.out);
  if (options.second == nullptr) {
    start(first, input, output, options.rss);
    wait_all(1, peak, failures);
  } else {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) fail("pipe");
    start(first, input, ends[1], options.rss);
    close(ends[1]);
    start(options.second, ends[0], output, false);
    close(ends[0]);
    wait_all(2, peak, failures);
  }
  close(input);
  close(output);
}

// Runs the first command once per line of the list, the line as its last word.
void run_each(const Options& options, long& peak, int& failures) {
  std::FILE* list = std::fopen(options.each, "r");
  if (list == nullptr) fail(options.each);
  int words = 0;
  while (options.first[words] != nullptr) ++words;
  char** argv = new char*[words + 2];
  std::memcpy(argv, options.first, words * sizeof *argv);
  argv[words + 1] = nullptr;
  char line[4096];
  while (std::fgets(line, sizeof line, list) != nullptr) {
    line[std::strcspn(line, "\n")] = '\0';
    argv[words] = line;
    run_once(options, argv, peak, failures);
  }
  std::fclose(list);
  delete[] argv;
}

Options parse(int argc, char** argv) {
  Options options;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (std::strcmp(argv[i], "--rss") == 0) {
      options.rss = true;
    } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      options.repeat = std::atol(argv[++i]);
    } else if (std::strcmp(argv[i], "--each") == 0 && i + 1 < argc) {
      options.each = argv[++i];
    } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      options.out = argv[++i];
    } else {
      break;
    }
  }
  options.first = argv + i;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "|") == 0) {
      argv[i] = nullptr;
      options.second = argv + i + 1;
    }
  }
  if (options.first[0] == nullptr || (options.second != nullptr && options.second[0] == nullptr)) {
    std::fprintf(stderr,
                 "usage: bench_measure [--rss] [--repeat N] [--each LIST] [--out FILE] "
                 "COMMAND... ['|' COMMAND...]\n");
    std::exit(2);
  }
  return options;
}

double now_ms() {
  timespec time;
  clock_gettime(CLOCK_MONOTONIC, &time);
  return time.tv_sec * 1e3 + time.tv_nsec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse(argc, argv);
  long peak = 0;
  int failures = 0;
  double started = now_ms();
  for (long i = 0; i < options.repeat; ++i) {
    if (options.each != nullptr) {
      run_each(options, peak, failures);
    } else {
      run_once(options, options.first, peak, failures);
    }
  }
  std::printf("%.3f %ld %d\n", now_ms() - started, peak, failures);
  return 0;
}
