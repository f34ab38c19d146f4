// The least a driver can do, as the yardstick for vexa's own cost: run the tools of a plan
// one after another, each with its standard output drained through a pipe, and wait for
// each. No lookup, no filtering, no files of its own.
//   baseline_runner PLAN
// Each line of PLAN is one tool run: the tool's path, then its words, separated by blanks.
// The exit code is that of the first tool that fails, or 0.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

char plan[64 * 1024];
char drain[64 * 1024];
constexpr int max_words = 256;

int run(char* const argv[]) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return 126;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  pid_t pid;
  int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (started != 0) {
    close(ends[0]);
    return 127;
  }
  ssize_t got;
  do {
    got = read(ends[0], drain, sizeof drain);
  } while (got > 0 || (got < 0 && errno == EINTR));
  close(ends[0]);
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 126;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int file = open(argv[1], O_RDONLY);
  if (file < 0) return 2;
  ssize_t size = read(file, plan, sizeof plan - 1);
  close(file);
  if (size < 0 || size == sizeof plan - 1) return 2;  // unreadable, or too long to hold
  char* words[max_words + 1];
  for (char* line = plan; *line != '\0';) {
    char* end = line + std::strcspn(line, "\n");
    bool last = *end == '\0';
    *end = '\0';
    int count = 0;
    for (char* word = std::strtok(line, " \t"); word != nullptr && count < max_words;
         word = std::strtok(nullptr, " \t"))
      words[count++] = word;
    words[count] = nullptr;
    if (count > 0) {
      if (int code = run(words)) return code;
    }
    if (last) break;
    line = end + 1;
  }
  return 0;
}
