#include "tests/e2e_harness.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

extern char** environ;

namespace {

std::string setting(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

// Relative settings name paths from where the suite started, not from a test's folder.
const std::filesystem::path start_directory = std::filesystem::current_path();

std::string from_start(const std::string& path) {
  return (start_directory / path).lexically_normal().string();
}

std::string driver_path() {
  return from_start(setting("VEXA_E2E_EXE", VEXA_E2E_DEFAULT_EXE));
}
std::string stub_bin() {
  return from_start(setting("VEXA_E2E_STUB_BIN", VEXA_E2E_DEFAULT_STUB_BIN));
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

// The environment of this process with `changes` applied.
std::vector<std::string> child_environment(const Environment& changes) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  for (const auto& change : changes) {
    const std::string prefix = change.first + "=";
    auto same_name = [&prefix](const std::string& entry) { return entry.rfind(prefix, 0) == 0; };
    entries.erase(std::remove_if(entries.begin(), entries.end(), same_name), entries.end());
    entries.push_back(prefix + change.second);
  }
  return entries;
}

// Wine starts a Windows program with the Windows PATH from its prefix plus WINEPATH in
// front, never the Unix PATH (which must still find wine itself), so the folders a test
// puts on PATH go to WINEPATH instead.
Environment for_the_driver(const Environment& changes) {
  if (!EndToEnd::windows_driver()) return changes;
  Environment translated;
  for (const auto& [name, value] : changes) {
    if (name != "PATH") {
      translated.emplace_back(name, value);
      continue;
    }
    std::string folders;
    for (const auto& folder : split(value, ':')) {
      if (!folder.empty())
        folders += (folders.empty() ? "" : ";") + EndToEnd::driver_path_of(folder);
    }
    translated.emplace_back("WINEPATH", folders);
  }
  return translated;
}

// Text-mode output ends its lines in CR LF on Windows.
// One pass: erasing each CR in place would take hours on a tool's 100 MB flood.
std::string as_posix_text(const std::string& text) {
  if (!EndToEnd::windows_driver()) return text;
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') lines += text[i];
  }
  return lines;
}

// Signal dispositions set to ignore and resource limits pass to a child through exec, so
// this process takes them on while it starts the driver and restores its own afterwards.
class InheritedConditions {
 public:
  explicit InheritedConditions(const Launch& launch) {
    if (launch.file_size_limit >= 0) {
      getrlimit(RLIMIT_FSIZE, &saved_limit_);
      rlimit limit = saved_limit_;
      limit.rlim_cur = static_cast<rlim_t>(launch.file_size_limit);
      limit_set_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
      EXPECT_TRUE(limit_set_) << "cannot limit the file size";
      ignore(SIGXFSZ);
    }
    if (launch.interrupts_ignored) {
      ignore(SIGINT);
      ignore(SIGTERM);
      ignore(SIGHUP);
    }
  }
  ~InheritedConditions() {
    if (limit_set_) setrlimit(RLIMIT_FSIZE, &saved_limit_);
    for (const auto& [number, action] : saved_actions_) sigaction(number, &action, nullptr);
  }
  InheritedConditions(const InheritedConditions&) = delete;
  InheritedConditions& operator=(const InheritedConditions&) = delete;

 private:
  void ignore(int number) {
    struct sigaction action = {};
    struct sigaction previous;
    action.sa_handler = SIG_IGN;
    if (sigaction(number, &action, &previous) == 0) saved_actions_.emplace_back(number, previous);
  }
  rlimit saved_limit_ = {};
  bool limit_set_ = false;
  std::vector<std::pair<int, struct sigaction>> saved_actions_;
};

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (auto& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

std::string ToolRecord::command_line() const {
  std::string line = tool;
  for (const auto& word : words) line += " " + word;
  return line;
}

bool EndToEnd::windows_driver() {
  std::string exe = driver_path();
  return exe.size() > 4 && exe.compare(exe.size() - 4, 4, ".exe") == 0;
}

std::string EndToEnd::tools_folder() {
  return stub_bin();
}

// Wine's default prefix maps drive Z: to the Unix root.
std::string EndToEnd::driver_path_of(const std::filesystem::path& path) {
  std::string text = std::filesystem::absolute(path).lexically_normal().string();
  if (!windows_driver()) return text;
  std::replace(text.begin(), text.end(), '/', '\\');
  return "Z:" + text;
}

std::string EndToEnd::installation_dir(const char* leaf) const {
  std::filesystem::path root = driver_.parent_path().parent_path();
  return driver_path_of(root) + (windows_driver() ? "\\" : "/") + leaf;
}

int EndToEnd::seen_exit_code(int windows_status) {
  int low_byte = windows_status & 0xff;
  return low_byte == 0 && windows_status != 0 ? 1 : low_byte;
}

std::filesystem::path EndToEnd::use_driver_copy_in(const std::filesystem::path& directory) {
  std::filesystem::create_directories(directory);
  std::filesystem::path copy = directory / std::filesystem::path(driver_).filename();
  std::filesystem::copy_file(driver_, copy, std::filesystem::copy_options::overwrite_existing);
  driver_ = copy;
  return copy;
}

void EndToEnd::SetUp() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  root_ = std::filesystem::temp_directory_path() / ("vexa-e2e-" + std::to_string(getpid()) + "-" +
                                                    test->test_suite_name() + "-" + test->name());
  std::filesystem::remove_all(root_);
  work_ = root_ / "work";
  std::filesystem::create_directories(work_);
  previous_ = std::filesystem::current_path();
  driver_ = driver_path();
  std::filesystem::current_path(work_);
}

void EndToEnd::TearDown() {
  std::filesystem::current_path(previous_);
  if (!HasFailure()) std::filesystem::remove_all(root_);
}

// Starts `argv` with the environment the driver gets: the stand-in tools first on PATH (for
// a Windows driver through WINEPATH), VSTUB_LOG, then `environment`.
static int start_with_tools(const std::filesystem::path& root, std::vector<std::string> argv,
                            const Environment& environment, const Launch& launch) {
  Environment changes = {{"PATH", stub_bin() + ":" + setting("PATH", "/usr/bin:/bin")},
                         {"VSTUB_LOG", EndToEnd::driver_path_of(root / "tools.log")}};
  if (EndToEnd::windows_driver()) {
    changes[0].second = stub_bin();
    // Wine's own diagnostics would mix with what the driver writes to standard error.
    changes.emplace_back("WINEDEBUG", "-all");
  }
  changes.insert(changes.end(), environment.begin(), environment.end());
  std::vector<std::string> env = child_environment(for_the_driver(changes));

  std::string out_name = (root / "stdout").string();
  std::string err_name = (root / "stderr").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  auto child_argv = pointers(argv);
  auto child_env = pointers(env);
  pid_t pid = -1;
  int failed;
  {
    InheritedConditions conditions(launch);
    failed =
        posix_spawnp(&pid, child_argv[0], &actions, nullptr, child_argv.data(), child_env.data());
  }
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return -1;
  }
  return pid;
}

int EndToEnd::start_driver(const std::vector<std::string>& words, const Environment& environment,
                           const Launch& launch) {
  std::vector<std::string> argv;
  for (const auto& part : split(setting("VEXA_E2E_LAUNCHER", ""), ' ')) {
    if (!part.empty()) argv.push_back(part);
  }
  argv.push_back(driver_.string());
  argv.insert(argv.end(), words.begin(), words.end());
  return start_with_tools(root_, argv, environment, launch);
}

// Make finds itself and wine on the Unix PATH, which a Windows driver's environment keeps.
RunResult EndToEnd::run_make(const std::vector<std::string>& arguments,
                             const Environment& environment) {
  std::vector<std::string> argv = {
      "make", "VEXA=" + setting("VEXA_E2E_LAUNCHER", "") + " " + driver_.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return wait_for_driver(start_with_tools(root_, argv, environment, {}));
}

RunResult EndToEnd::wait_for_driver(int pid) {
  RunResult result;
  int wait_status = 0;
  if (pid < 0) return result;
  while (waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) {
      ADD_FAILURE() << "lost the driver: " << std::strerror(errno);
      return result;
    }
  }
  result.exit_code =
      WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  result.out = as_posix_text(read_file((root_ / "stdout").string()));
  result.err = as_posix_text(read_file((root_ / "stderr").string()));
  return result;
}

RunResult EndToEnd::run(const std::vector<std::string>& words, const Environment& environment,
                        const Launch& launch) {
  return wait_for_driver(start_driver(words, environment, launch));
}

// SIGINT reaches a Windows program under Wine as a Ctrl-C console event.
RunResult EndToEnd::run_interrupted_in(const std::string& tool,
                                       const std::vector<std::string>& words,
                                       const Environment& environment, int signal,
                                       const Launch& launch) {
  pid_t pid = start_driver(words, environment, launch);
  auto started = [this, &tool] {
    auto names = tool_names();
    return std::find(names.begin(), names.end(), tool) != names.end();
  };
  for (int waited = 0; pid > 0 && waited < 20000 && !started(); waited += 10) usleep(10000);
  if (pid > 0) kill(pid, signal);
  return wait_for_driver(pid);
}

void EndToEnd::expect_runs(const std::vector<ExpectedRun>& rows, const Environment& environment) {
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RunResult result = run(row.words, environment);
    EXPECT_EQ(result.exit_code, row.exit_code);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, row.err);
  }
}

std::vector<ToolRecord> EndToEnd::tools() const {
  std::vector<ToolRecord> records;
  for (const auto& line : split(read_file((root_ / "tools.log").string()), '\n')) {
    if (line.rfind("cm|", 0) == 0 && !records.empty()) {
      std::string text = line.substr(3);
      // The stand-in keeps the CR of a command file written in text mode on Windows.
      if (windows_driver() && text.ends_with('\r')) text.pop_back();
      records.back().command_file.push_back(text);
      continue;
    }
    auto fields = split(line, '\t');
    if (fields.empty()) continue;
    ToolRecord record;
    record.tool = fields[0];
    record.words.assign(fields.begin() + 1, fields.end());
    records.push_back(record);
  }
  return records;
}

std::vector<std::string> EndToEnd::tool_names() const {
  std::vector<std::string> names;
  for (const auto& record : tools()) names.push_back(record.tool);
  return names;
}

std::vector<std::string> EndToEnd::files() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(work_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void EndToEnd::write_file(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

std::string EndToEnd::read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
