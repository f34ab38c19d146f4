#include "tests/fake_platform.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "driver/platform.h"
#include "toolrun/output_file.h"
#include "toolrun/process.h"

namespace {

struct FakeWorld {
  std::map<std::string, FakeTool> scripts;
  std::vector<FakeRun> runs;
  std::string module_path = "/opt/vexa/bin/vexa";
  int interrupted = 0;
  FakeTool current;
  std::size_t position = 0;
};

FakeWorld& world() {
  static FakeWorld instance;
  return instance;
}

}  // namespace

void fake_platform_reset() { world() = FakeWorld{}; }

void fake_tool(const std::string& tool_name, const FakeTool& script) {
  world().scripts[tool_name] = script;
}

const std::vector<FakeRun>& fake_runs() { return world().runs; }

void fake_module_path(const std::string& path) { world().module_path = path; }

void fake_interrupt(int signal) { world().interrupted = signal; }

int start_tool(ToolProcess& tool, const char* tool_name, const char* argument_text) {
  FakeWorld& w = world();
  auto found = w.scripts.find(tool_name);
  w.current = found == w.scripts.end() ? FakeTool{} : found->second;
  w.position = 0;
  if (w.current.start_result != 0) return w.current.start_result;
  w.runs.push_back({tool_name, argument_text});
  if (w.current.action) w.current.action(argument_text);
  tool.process = 1;
  tool.output = 1;
  return 0;
}

// The launcher is tested end to end only: here no tool is ever found for one.
const char* find_tool_path(const char*) {
  return nullptr;
}

int start_launched_tool(ToolProcess&, const char*, const char*, const char*) {
  return start_failed;
}

long read_tool_output(ToolProcess&, char* buffer, std::size_t size) {
  FakeWorld& w = world();
  std::size_t count = std::min({size, w.current.read_size, w.current.output.size() - w.position});
  std::memcpy(buffer, w.current.output.data() + w.position, count);
  w.position += count;
  return static_cast<long>(count);
}

int finish_tool(ToolProcess& tool) {
  tool = ToolProcess{};
  return world().current.exit_code;
}

int interrupt_signal() { return world().interrupted; }

void install_interrupt_handlers() {}

std::size_t module_file_name(char* buffer, std::size_t size) {
  const std::string& path = world().module_path;
  if (path.empty() || path.size() >= size) return 0;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return path.size();
}

std::FILE* create_output_file(const char* name, const char* mode) {
  return std::fopen(name, mode);
}
