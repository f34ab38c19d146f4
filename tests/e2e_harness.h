// End-to-end harness: runs the built vexa in an empty temporary directory with the
// stand-in tools first on PATH, and reads back what a user would see.
//
// The driver and the tools it finds come from the environment when set, so the same suite
// can run a cross-built driver under an emulator:
//   VEXA_E2E_EXE       the driver to run (default: this build's vexa)
//   VEXA_E2E_STUB_BIN  the folder of stand-in tools (default: this build's stub-bin)
//   VEXA_E2E_LAUNCHER  a program to start the driver with (for example wine), or empty
//
// A Windows driver (a name ending in ".exe") is run under Wine and sees the host as
// Windows does: each path the harness hands it is the same file on drive Z:, the tools'
// folders come through WINEPATH, and its text-mode output is read back with CR LF as LF.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct RunResult {
  int exit_code = -1;
  std::string out, err;
};

using Environment = std::vector<std::pair<std::string, std::string>>;
using Lines = std::vector<std::string>;

// One tool run as the stand-in recorded it: the name it was started under, its words,
// and for the linker the lines of its command file.
struct ToolRecord {
  std::string tool;
  Lines words, command_file;
  // The name and the words with their bounds, as a dry run shows them: a word with a blank
  // in quotes.
  std::string command_line() const;
};

using Files = std::vector<std::pair<std::string, std::string>>;  // name and bytes

// One control of the stand-in tools: stub("GCC33_EXIT", "2") sets VSTUB_GCC33_EXIT=2.
inline Environment stub(const std::string& control, const std::string& value) {
  return {{"VSTUB_" + control, value}};
}

// What the driver inherits beyond its words and environment (POSIX only).
struct Launch {
  // A file size limit in bytes (RLIMIT_FSIZE), SIGXFSZ at its default action, as `ulimit -f`
  // gives it: the driver ignores the signal, so its write past the limit fails with EFBIG as on
  // a full disk; a tool's write kills the tool. Negative: no limit.
  long file_size_limit = -1;
  // A limit on open descriptors (RLIMIT_NOFILE), as `ulimit -n` gives it. Negative: none set.
  long open_files_limit = -1;
  // A limit on the user's processes (RLIMIT_NPROC), as `ulimit -u` gives it. Negative: none set.
  long processes_limit = -1;
  // The driver may run on the first this many processors only, as `taskset` gives it. 0: all.
  int processors = 0;
  // SIGINT, SIGTERM and SIGHUP ignored when the driver starts, as in a script's background job.
  bool interrupts_ignored = false;
  // Standard output: a file, a pipe whose reader is gone, or a full device (/dev/full).
  enum { to_file, closed_pipe, full_device } output = to_file;
};

// One run of the driver and all it must leave; what a row leaves unset is expected to be
// nothing: exit code 0, no output, no file beyond the inputs.
struct Row {
  std::string name;
  Lines words;
  Environment environment;  // applied after VEXA_INC=inc and VEXA_LIB=lib
  Files files;  // made first; a name ending in '/' is a folder, in '@' a link to the bytes,
                // in '*' a file anyone may run
  int exit_code = 0;
  std::string out, err;
  Lines left;      // besides the inputs, which must be left with their bytes
  Files contents;  // bytes checked after the run, an input's in place of its own; "@DIR@" is
                   // folder_as_json()
  std::optional<Lines> tools;         // each tool run's command line; a word with a blank quoted
  std::optional<Lines> command_file;  // the lines the last tool, the linker, read
  // The same words after "-###" run no tool, leave the files alone and show the command lines
  // and the command file the real run passed, and after them a refusal's message.
  bool dry_run_too = false;
  bool posix_only = false;
  bool timing = false;  // about when chains end: not run again with --jobs=4
  Launch launch;
  int signal = 0;            // sent to the driver once the file `signal_after` is there
  std::string signal_after;  // a tool's output, made before the tool sleeps
  friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};

class EndToEnd : public ::testing::Test {
 public:
  static bool windows_driver();       // the driver under test is a Windows build
  static std::string tools_folder();  // the folder of stand-in tools put first on PATH

  // `path` as the driver names it: on Windows the same file or folder on drive Z:.
  static std::string driver_path_of(const std::filesystem::path& path);
  // The exit code a caller sees for a driver status: Wine hands a Linux parent only the
  // low 8 bits of a 32-bit Windows exit code, and 1 where those are 0 but the code is not.
  static int seen_exit_code(int windows_status);

 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs vexa with `words` in the working directory; `environment` adds or replaces
  // variables (VSTUB_* controls, for example).
  RunResult run(const std::vector<std::string>& words, const Environment& environment = {},
                const Launch& launch = {});
  // Starts the driver without waiting for it; returns its pid, or -1.
  int start_driver(const std::vector<std::string>& words, const Environment& environment,
                   const Launch& launch = {});
  RunResult wait_for_driver(int pid);
  // Runs `row` in the empty working directory and checks all it names, with these checks.
  void expect_row(const Row& row);
  static void set_up_files(const Files& files);
  std::string expect_dry_run(const Row& row, const Environment& environment);
  void expect_dry_run_showed(const Row& row, const std::string& dry) const;
  void expect_run(const Row& row, const Lines& words, const Environment& environment);
  RunResult run_signalled(const Row& row, const Lines& words, const Environment& environment);
  void expect_files_left(const Row& row, bool extras_allowed) const;
  void expect_tool_words(const Row& row, bool jobs) const;
  void expect_command_file(const Lines& lines) const;
  void expect_jobs_rerun(const Row& row, const Environment& environment);
  static Lines input_names(const Files& files);
  // Runs `make` in the working directory with the driver's environment and VEXA=<the
  // driver's command>, so that a Makefile can call $(VEXA).
  RunResult run_make(const std::vector<std::string>& arguments,
                     const Environment& environment = {});
  // Runs any other program the same way (argv[0] looked up on PATH), never through a shell.
  RunResult run_program(const std::vector<std::string>& argv, const Environment& environment = {});

  // The tools run so far, in order.
  std::vector<ToolRecord> tools() const;
  std::vector<std::string> tool_names() const;

  // Files and folders in the working directory, sorted.
  std::vector<std::string> files() const;
  static void write_file(const std::string& name, const std::string& bytes);
  static std::string read_file(const std::string& name);

  const std::filesystem::path& work() const { return work_; }
  // The working folder as the driver names it, in a JSON string.
  std::string folder_as_json() const;
  // The folder `leaf` of the installation root the driver derives from its own location
  // (the folder above the one that holds it), with the driver's separator.
  std::string installation_dir(const char* leaf) const;
  // Runs a copy of the driver placed in `directory` from now on; returns the copy's path.
  std::filesystem::path use_driver_copy_in(const std::filesystem::path& directory);

 private:
  std::filesystem::path root_, work_, driver_;
};

// The table of rows: each row is a test of its own, named after it.
class Rows : public EndToEnd, public ::testing::WithParamInterface<Row> {};
std::string row_name(const ::testing::TestParamInfo<Row>& info);
