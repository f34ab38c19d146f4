// A process layer for unit tests: tools run in-process from a script, and every start is
// recorded, so the logic above it can be tested without starting a process.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct FakeTool {
  std::string output;            // what the tool writes on its standard output
  int exit_code = 0;
  int start_result = 0;          // pipe_failed or start_failed to refuse the start
  std::size_t read_size = 4096;  // bytes handed over per read, to split lines across reads
  std::function<void(const std::string& arguments)> action;  // runs when the tool starts
};

struct FakeRun {
  std::string tool;
  std::string arguments;
};

// Forgets scripts, runs, the module path and any interruption.
void fake_platform_reset();
// Every later start of `tool_name` follows `script`; unscripted tools print nothing, exit 0.
void fake_tool(const std::string& tool_name, const FakeTool& script);
const std::vector<FakeRun>& fake_runs();
// What module_file_name reports; an empty path means it cannot be had.
void fake_module_path(const std::string& path);
// Makes interrupt_signal() report `signal` from now on.
void fake_interrupt(int signal);
