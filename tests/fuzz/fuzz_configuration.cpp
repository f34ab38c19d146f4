// Arbitrary bytes as a configuration file, compared with a model written from the line
// rules: CR LF reads as LF, lines come in chunks of at most 1023 characters, a zero byte
// ends a line's text, and a value or library that does not fit is refused and ends the
// reading. Also: every field stays terminated, and a message comes exactly with a refusal.
#include <cstdint>
#include <string>

#include "driver/configuration.h"
#include "driver/driver_state.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Configuration {
  std::string include_dir;
  std::string lib_dir;
  std::string default_libraries;
  bool refused = false;
};

bool ends_with_lib(const std::string& line) {
  if (line.size() < 4) return false;
  std::string tail = line.substr(line.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return tail == ".lib";
}

// Applies one line; false when it is refused.
bool apply(Configuration& model, std::string line) {
  if (line.size() < 5 || line[0] == ';') return true;
  if (line.back() == '\n') line.pop_back();
  std::string* directory = line.starts_with("INC=")   ? &model.include_dir
                           : line.starts_with("LIB=") ? &model.lib_dir
                                                      : nullptr;
  if (directory != nullptr) {
    if (line.size() - 4 >= name_size) return false;
    *directory = line.substr(4);
  } else if (ends_with_lib(line)) {
    if (model.default_libraries.size() + line.size() + 1 >= list_size) return false;
    model.default_libraries += line + "\n";
  }
  return true;
}

Configuration model_of(const std::uint8_t* data, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    text += static_cast<char>(data[i]);
  }
  Configuration model;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t feed = text.find('\n', at);
    std::size_t end = feed == std::string::npos ? text.size() : feed + 1;
    if (end - at > list_size - 1) end = at + list_size - 1;
    std::string line = text.substr(at, end - at);
    at = end;
    if (!apply(model, line.substr(0, line.find('\0')))) {
      model.refused = true;
      break;
    }
  }
  return model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CountedConsole console;
  if (size == 0) return 0;
  state = DriverState{};
  std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  require(file != nullptr, "fmemopen");
  std::size_t printed = console.count([file] { read_configuration_lines(file); });
  std::fclose(file);
  require_fields_terminated();
  const Configuration model = model_of(data, size);
  require(model.include_dir == state.include_dir, "include_dir as the model");
  require(model.lib_dir == state.lib_dir, "lib_dir as the model");
  require(model.default_libraries == state.default_libraries, "default_libraries as the model");
  require(model.refused == (state.status != 0), "refused as the model");
  require((printed > 0) == model.refused, "a message exactly with a refusal");
  return 0;
}
