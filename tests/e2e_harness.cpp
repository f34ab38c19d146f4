#include "tests/e2e_harness.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string setting(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

// Relative settings name paths from where the suite started, not from a test's folder.
const fs::path start_directory = fs::current_path();

std::string path_setting(const char* name, const char* fallback) {
  return (start_directory / setting(name, fallback)).lexically_normal().string();
}
std::string driver_path() {
  return path_setting("VEXA_E2E_EXE", VEXA_E2E_DEFAULT_EXE);
}

Lines split(const std::string& text, char separator) {
  Lines parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

// Wine starts a Windows program with the Windows PATH from its prefix plus WINEPATH in
// front, never the Unix PATH (which must still find wine itself), so the folders a test
// puts on PATH go to WINEPATH instead.
Lines child_environment(const Environment& changes) {
  Lines entries;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  for (auto [name, value] : changes) {
    if (EndToEnd::windows_driver() && name == "PATH") {
      std::string folders;
      for (const auto& folder : split(value, ':')) {
        if (!folder.empty())
          folders += (folders.empty() ? "" : ";") + EndToEnd::driver_path_of(folder);
      }
      name = "WINEPATH", value = folders;
    }
    const std::string prefix = name + "=";
    std::erase_if(entries,
                  [&prefix](const std::string& entry) { return entry.starts_with(prefix); });
    entries.push_back(prefix + value);
  }
  return entries;
}

// Text-mode output ends its lines in CR LF on Windows.
// One pass: erasing each CR in place would take hours on a tool's 100 MB flood.
std::string as_posix_text(const std::string& text) {
  if (!EndToEnd::windows_driver()) return text;
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') lines += text[i];
  }
  return lines;
}

std::vector<char*> pointers(Lines& texts) {
  std::vector<char*> result;
  for (auto& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// Sorted, and each name once: an input folder holds several input files.
Lines sorted(Lines names) {
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace

std::string ToolRecord::command_line() const {
  std::string line = tool;
  for (const auto& word : words)
    line += word.find(' ') == std::string::npos ? " " + word : " \"" + word + "\"";
  return line;
}

bool EndToEnd::windows_driver() {
  return driver_path().ends_with(".exe");
}

std::string EndToEnd::tools_folder() {
  return path_setting("VEXA_E2E_STUB_BIN", VEXA_E2E_DEFAULT_STUB_BIN);
}

// Wine's default prefix maps drive Z: to the Unix root.
std::string EndToEnd::driver_path_of(const fs::path& path) {
  std::string text = fs::absolute(path).lexically_normal().string();
  if (!windows_driver()) return text;
  std::replace(text.begin(), text.end(), '/', '\\');
  return "Z:" + text;
}

std::string EndToEnd::folder_as_json() const {
  std::string folder;
  for (char c : driver_path_of(work_)) folder += c == '\\' ? "\\\\" : std::string(1, c);
  return folder;
}

std::string EndToEnd::installation_dir(const char* leaf) const {
  return driver_path_of(driver_.parent_path().parent_path() / leaf);
}

int EndToEnd::seen_exit_code(int windows_status) {
  return (windows_status & 0xff) == 0 && windows_status != 0 ? 1 : windows_status & 0xff;
}

fs::path EndToEnd::use_driver_copy_in(const fs::path& directory) {
  fs::create_directories(directory);
  fs::copy_file(driver_, directory / driver_.filename(), fs::copy_options::overwrite_existing);
  return driver_ = directory / driver_.filename();
}

void EndToEnd::SetUp() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::to_string(getpid()) + "-" + test->test_suite_name() + "-" + test->name();
  std::replace(name.begin(), name.end(), '/', '-');  // a row's test is named Prefix/Rows.Run/row
  root_ = fs::temp_directory_path() / ("vexa-e2e-" + name);
  work_ = root_ / "work";
  fs::remove_all(root_);
  fs::create_directories(work_);
  driver_ = driver_path();
  fs::current_path(work_);
}

// Every process a test starts leads a process group of its own, and ends with the test: a
// group not yet waited for when its test ends is killed then, and a watchdog process kills
// every group still listed once this program is gone however it ended (a crash, or ctest's
// timeout), so that a driver stuck in a loop never outlives its test.
namespace {

class ProcessGroups {
 public:
  void started(pid_t group) {
    if (watchdog_ < 0) start_watchdog();
    tell('+', group);
  }
  void ended(pid_t group) { tell('-', group); }
  void kill_running() {
    for (pid_t group : running_) kill(-group, SIGKILL);
    running_.clear();
  }

 private:
  void tell(char change, pid_t group) {
    if (change == '+') running_.push_back(group);
    if (change == '-') std::erase(running_, group);
    const std::string line = change + std::to_string(group) + "\n";
    if (watchdog_ >= 0 && write(watchdog_, line.data(), line.size()) < 0) watchdog_ = -1;
  }
  // The watchdog reads the changes until the pipe's writing end is closed, by this
  // program's end, then kills the groups still listed.
  void start_watchdog() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    if (fork() == 0) {
      close(ends[1]);
      std::vector<pid_t> groups;
      std::string text;
      char buffer[256];
      for (ssize_t count; (count = read(ends[0], buffer, sizeof buffer)) != 0;) {
        if (count > 0) text.append(buffer, count);
      }
      std::istringstream changes(text);
      for (std::string line; std::getline(changes, line);) {
        const pid_t group = std::stoi(line.substr(1));
        if (line[0] == '+') groups.push_back(group);
        if (line[0] == '-') std::erase(groups, group);
      }
      for (pid_t group : groups) kill(-group, SIGKILL);
      _exit(0);
    }
    close(ends[0]);
    watchdog_ = ends[1];
  }
  int watchdog_ = -1;
  std::vector<pid_t> running_;
};
ProcessGroups process_groups;

}  // namespace

void EndToEnd::TearDown() {
  process_groups.kill_running();
  fs::current_path(start_directory);
  if (!HasFailure()) fs::remove_all(root_);
}

// Starts `argv` with the environment the driver gets: the stand-in tools first on PATH (for
// a Windows driver through WINEPATH), VSTUB_LOG, then `environment`. Its standard output and
// error go to files in `root`.
static int start_with_tools(const fs::path& root, Lines argv, const Environment& environment,
                            const Launch& launch) {
  // Under Wine the PATH holds the tools' folder alone (see child_environment), and Wine's own
  // diagnostics, which would mix with the driver's standard error, are off.
  const std::string path = EndToEnd::windows_driver() ? "" : ":" + setting("PATH", "/usr/bin:/bin");
  Environment changes = {{"PATH", EndToEnd::tools_folder() + path},
                         {"VSTUB_LOG", EndToEnd::driver_path_of(root / "tools.log")},
                         {"WINEDEBUG", "-all"}};
  changes.insert(changes.end(), environment.begin(), environment.end());
  Lines env = child_environment(changes);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  for (int fd : {1, 2}) {
    const std::string name = (root / std::to_string(fd)).string();
    posix_spawn_file_actions_addopen(&actions, fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  int reader_gone[2] = {-1, -1};  // the reader closes before the driver starts
  if (launch.output == Launch::closed_pipe && pipe2(reader_gone, O_CLOEXEC) == 0) {
    close(reader_gone[0]);
    posix_spawn_file_actions_adddup2(&actions, reader_gone[1], 1);
  }
  if (launch.output == Launch::full_device)
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
  // Signal dispositions set to ignore and resource limits pass to a child through exec, so
  // this process takes them on while it starts the driver and restores its own afterwards.
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction ignore = {}, saved[3];
  ignore.sa_handler = SIG_IGN;
  for (int i = 0; i < 3; ++i)
    sigaction(signals[i], launch.interrupts_ignored ? &ignore : nullptr, &saved[i]);
  rlimit saved_limit = {};
  getrlimit(RLIMIT_FSIZE, &saved_limit);
  rlimit limit = saved_limit;
  if (launch.file_size_limit >= 0) limit.rlim_cur = static_cast<rlim_t>(launch.file_size_limit);
  EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0) << "cannot limit the file size";
  rlimit saved_files = {};
  getrlimit(RLIMIT_NOFILE, &saved_files);
  rlimit files = saved_files;
  if (launch.open_files_limit >= 0) files.rlim_cur = static_cast<rlim_t>(launch.open_files_limit);
  rlimit saved_processes = {};
  getrlimit(RLIMIT_NPROC, &saved_processes);
  rlimit processes = saved_processes;
  if (launch.processes_limit >= 0) processes.rlim_cur = static_cast<rlim_t>(launch.processes_limit);
  EXPECT_EQ(setrlimit(RLIMIT_NPROC, &processes), 0);
  // A child takes on the affinity of the thread that starts it.
  cpu_set_t saved_processors;
  sched_getaffinity(0, sizeof saved_processors, &saved_processors);
  if (launch.processors > 0) {
    cpu_set_t first;
    CPU_ZERO(&first);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < launch.processors; ++cpu) {
      if (CPU_ISSET(cpu, &saved_processors)) CPU_SET(cpu, &first), ++taken;
    }
    EXPECT_EQ(sched_setaffinity(0, sizeof first, &first), 0);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  auto child_argv = pointers(argv), child_env = pointers(env);
  // Lowered for the spawn alone: this process holds more descriptors than the driver may,
  // and the driver gets only its three streams (a test runner may leave others inheritable).
  if (launch.open_files_limit >= 0) {
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
  }
  const int failed =
      posix_spawnp(&pid, child_argv[0], &actions, &attributes, child_argv.data(), child_env.data());
  posix_spawnattr_destroy(&attributes);
  if (failed == 0) process_groups.started(pid);
  setrlimit(RLIMIT_FSIZE, &saved_limit);
  setrlimit(RLIMIT_NOFILE, &saved_files);
  setrlimit(RLIMIT_NPROC, &saved_processes);
  if (launch.processors > 0) sched_setaffinity(0, sizeof saved_processors, &saved_processors);
  if (reader_gone[1] >= 0) close(reader_gone[1]);
  for (int i = 0; i < 3; ++i) sigaction(signals[i], &saved[i], nullptr);
  posix_spawn_file_actions_destroy(&actions);
  if (failed == 0) return pid;
  ADD_FAILURE() << "cannot start " << argv[0];
  return -1;
}

int EndToEnd::start_driver(const Lines& words, const Environment& environment,
                           const Launch& launch) {
  Lines argv;
  for (const auto& part : split(setting("VEXA_E2E_LAUNCHER", ""), ' ')) {
    if (!part.empty()) argv.push_back(part);
  }
  argv.push_back(driver_.string());
  argv.insert(argv.end(), words.begin(), words.end());
  return start_with_tools(root_, argv, environment, launch);
}

// Make finds itself and wine on the Unix PATH, which a Windows driver's environment keeps.
RunResult EndToEnd::run_make(const Lines& arguments, const Environment& environment) {
  Lines argv = {"make", "VEXA=" + setting("VEXA_E2E_LAUNCHER", "") + " " + driver_.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return run_program(argv, environment);
}

RunResult EndToEnd::run_program(const Lines& argv, const Environment& environment) {
  return wait_for_driver(start_with_tools(root_, argv, environment, {}));
}

RunResult EndToEnd::wait_for_driver(int pid) {
  RunResult result;
  int status = 0, ended = -1;
  while (pid > 0 && (ended = waitpid(pid, &status, 0)) < 0 && errno == EINTR) continue;
  EXPECT_TRUE(pid < 0 || ended == pid) << "lost the driver: " << std::strerror(errno);
  if (pid < 0 || ended != pid) return result;
  process_groups.ended(pid);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = as_posix_text(read_file((root_ / "1").string()));
  result.err = as_posix_text(read_file((root_ / "2").string()));
  return result;
}

RunResult EndToEnd::run(const Lines& words, const Environment& environment, const Launch& launch) {
  return wait_for_driver(start_driver(words, environment, launch));
}

// A source word names a chain: the rows that name two or more run again with --jobs=4.
static bool names_sources(const Lines& words) {
  return std::count_if(words.begin(), words.end(), [](const std::string& word) {
           const auto dot = word.rfind('.');
           const std::string type = dot == std::string::npos ? "" : word.substr(dot);
           return type == ".c" || type == ".s" || type == ".ps" || type == ".ms";
         }) >= 2;
}

static Lines preceded(const char* word, Lines words) {
  words.insert(words.begin(), word);
  return words;
}

// Each check does one thing; a row's run is the sequence of them.
void EndToEnd::expect_row(const Row& row) {
  if (row.posix_only && windows_driver()) GTEST_SKIP() << "a POSIX host's row";
  // A launcher (valgrind) needs descriptors of its own beyond the few such a row leaves, and
  // writes files of its own, which a small file size limit kills it for.
  const bool tight_limit =
      (row.launch.open_files_limit >= 0 && row.launch.open_files_limit < 12) ||
      (row.launch.file_size_limit >= 0 && row.launch.file_size_limit < 64 * 1024);
  // valgrind starts the driver's tools by a fork and an exec of its own: a program that
  // cannot be run fails in the child, as an exit code, not as a start the driver sees fail;
  // and a signal can come while it holds signals back around that fork, and be lost.
  const bool launcher_starts_tools =
      row.signal != 0 ||
      std::ranges::any_of(row.files, [](const auto& file) { return file.first.back() == '*'; });
  if ((tight_limit || launcher_starts_tools) && !setting("VEXA_E2E_LAUNCHER", "").empty())
    GTEST_SKIP() << "the launcher cannot run within the row's limits or starts";
  // The limit on processes counts all of the user's, but none of the superuser's.
  if (row.launch.processes_limit >= 0 && geteuid() != 0)
    GTEST_SKIP() << "a limit on processes gives a known room to the superuser only";
  set_up_files(row.files);
  Environment environment = {{"VEXA_INC", "inc"}, {"VEXA_LIB", "lib"}};
  environment.insert(environment.end(), row.environment.begin(), row.environment.end());
  const std::string dry = row.dry_run_too ? expect_dry_run(row, environment) : "";
  expect_run(row, row.words, environment);
  if (row.dry_run_too) expect_dry_run_showed(row, dry);
  if (!row.timing && row.signal == 0 && names_sources(row.words))
    expect_jobs_rerun(row, environment);
}

// The chains side by side show what the serial run showed, from the same files.
void EndToEnd::expect_jobs_rerun(const Row& row, const Environment& environment) {
  SCOPED_TRACE("again with --jobs=4");
  for (const auto& entry : fs::directory_iterator(work_)) fs::remove_all(entry.path());
  fs::remove(root_ / "tools.log");
  set_up_files(row.files);
  expect_run(row, preceded("--jobs=4", row.words), environment);
}

// A name ending in '/' is a folder, in '@' a link to the bytes, in '*' a file anyone may run.
void EndToEnd::set_up_files(const Files& files) {
  for (const auto& [name, bytes] : files) {
    const fs::path path = name.substr(0, name.find_last_not_of("/@*") + 1);
    fs::create_directories(fs::absolute(path).parent_path());
    if (name.back() == '/') fs::create_directory(path);
    if (name.back() == '@') fs::create_symlink(bytes, path);
    if (name.back() != '/' && name.back() != '@') write_file(path.string(), bytes);
    if (name.back() == '*') fs::permissions(path, fs::perms::all, fs::perm_options::add);
  }
}

// The words after "-###" run no tool and leave the inputs alone; returns what they showed.
std::string EndToEnd::expect_dry_run(const Row& row, const Environment& environment) {
  const RunResult dry = run(preceded("-###", row.words), environment, row.launch);
  EXPECT_EQ(dry.exit_code, row.exit_code);
  EXPECT_EQ(dry.err, row.err);
  EXPECT_EQ(tool_names(), Lines{});
  EXPECT_EQ(files(), input_names(row.files));
  return dry.out;
}

// The dry run showed the command lines and the command file the real run passed, and after
// them a refusal's message.
void EndToEnd::expect_dry_run_showed(const Row& row, const std::string& dry) const {
  std::string shown;
  for (const auto& record : tools()) {
    shown += record.command_line() + "\n";
    if (record.words.empty() || record.words.back() != "__tmp__.cm") continue;
    for (const auto& line : record.command_file) shown += "  " + line + "\n";
  }
  EXPECT_EQ(dry, shown + (row.exit_code != 0 ? row.out : ""));
}

// Runs `words`, the row's own or with --jobs. Each chain then runs the same tools with the
// same words, in an order among chains that may differ, so the tools are compared sorted;
// and after a failure, chains that had started beside the failing one may have left objects.
void EndToEnd::expect_run(const Row& row, const Lines& words, const Environment& environment) {
  const bool jobs = words != row.words;
  const RunResult result = run_signalled(row, words, environment);
  EXPECT_EQ(result.exit_code, row.exit_code);
  EXPECT_EQ(result.out, row.out);
  EXPECT_EQ(result.err, row.err);
  expect_files_left(row, jobs && row.exit_code != 0);
  expect_tool_words(row, jobs);
  if (row.command_file) expect_command_file(*row.command_file);
}

// Sends the row's signal once its file is there; the tool got the signal too, so the run
// does not wait out the tool's sleep.
RunResult EndToEnd::run_signalled(const Row& row, const Lines& words,
                                  const Environment& environment) {
  const auto begin = std::chrono::steady_clock::now();
  const int pid = start_driver(words, environment, row.launch);
  auto waited = [&begin] { return std::chrono::steady_clock::now() - begin; };
  while (row.signal != 0 && !fs::exists(row.signal_after) && waited() < 20s) usleep(10000);
  if (row.signal != 0 && pid > 0) kill(pid, row.signal);
  const RunResult result = wait_for_driver(pid);
  // An ignored signal interrupts nothing: such a run takes its tools' whole time.
  EXPECT_TRUE((row.signal == 0 && row.launch.output != Launch::closed_pipe) ||
              row.launch.interrupts_ignored || waited() < 6s);
  return result;
}

// `got` holds what is expected, and nothing else unless `extras_allowed`.
static bool same_or_more(Lines expected, Lines got, bool extras_allowed) {
  std::sort(expected.begin(), expected.end());
  std::sort(got.begin(), got.end());
  return extras_allowed ? std::includes(got.begin(), got.end(), expected.begin(), expected.end())
                        : got == expected;
}

// The inputs with their bytes and the row's `left`; "@DIR@" in `contents` is folder_as_json().
void EndToEnd::expect_files_left(const Row& row, bool extras_allowed) const {
  Lines left = input_names(row.files);
  left.insert(left.end(), row.left.begin(), row.left.end());
  EXPECT_PRED3(same_or_more, sorted(left), files(), extras_allowed);
  Files bytes_after = row.contents;
  auto changed = [&row](const std::string& name) {
    return std::ranges::any_of(row.contents,
                               [&name](const auto& file) { return file.first == name; });
  };
  for (const auto& [name, bytes] : row.files) {
    if (name.back() != '/' && name.back() != '@' && !changed(name))
      bytes_after.emplace_back(name.substr(0, name.find_last_not_of('*') + 1), bytes);
  }
  for (auto [name, bytes] : bytes_after) {
    for (std::size_t at; (at = bytes.find("@DIR@")) != std::string::npos;)
      bytes.replace(at, 5, folder_as_json());
    EXPECT_EQ(read_file(name), bytes) << name;
  }
}

void EndToEnd::expect_tool_words(const Row& row, bool jobs) const {
  Lines lines;
  for (const auto& record : tools()) lines.push_back(record.command_line());
  if (jobs) {
    EXPECT_PRED3(same_or_more, row.tools.value_or(lines), lines, row.exit_code != 0);
  } else {
    EXPECT_EQ(lines, row.tools.value_or(lines));
  }
}

// The linker read these lines; a command file kept with -b ends them as the host's text
// files do.
void EndToEnd::expect_command_file(const Lines& lines) const {
  const auto records = tools();
  EXPECT_EQ(records.empty() ? Lines{} : records.back().command_file, lines);
  std::string text;
  for (const auto& line : lines) text += line + (windows_driver() ? "\r\n" : "\n");
  EXPECT_EQ(fs::exists("__tmp__.cm") ? read_file("__tmp__.cm") : text, text);
}

// Each input file or folder once; a folder holds several input files.
Lines EndToEnd::input_names(const Files& files) {
  Lines names;
  for (const auto& file : files)
    names.push_back(
        file.first.substr(0, file.first.find_first_of(file.first.back() == '*' ? "/@*" : "/@")));
  return sorted(names);
}

std::string row_name(const ::testing::TestParamInfo<Row>& info) {
  std::string name = info.param.name;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

TEST_P(Rows, Run) {
  expect_row(GetParam());
}

std::vector<ToolRecord> EndToEnd::tools() const {
  std::vector<ToolRecord> records;
  for (const auto& line : split(read_file((root_ / "tools.log").string()), '\n')) {
    auto fields = split(line, '\t');
    if (line.starts_with("cm|") && !records.empty()) {
      // The stand-in keeps the CR of a command file written in text mode on Windows.
      const bool text_mode_end = windows_driver() && line.ends_with('\r');
      records.back().command_file.push_back(line.substr(3, line.size() - 3 - text_mode_end));
    } else if (!fields.empty()) {
      records.push_back({fields[0], Lines(fields.begin() + 1, fields.end()), {}});
    }
  }
  return records;
}

Lines EndToEnd::tool_names() const {
  Lines names;
  for (const auto& record : tools()) names.push_back(record.tool);
  return names;
}

Lines EndToEnd::files() const {
  Lines names;
  for (const auto& entry : fs::directory_iterator(work_)) names.push_back(entry.path().filename());
  return sorted(names);
}

void EndToEnd::write_file(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

std::string EndToEnd::read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
