// A tool's output through the tool runner in reads of a chosen size (the first two bytes
// say which), against the model of its line cutting.
#include <cstdint>

#include "tests/byte_models.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string output(reinterpret_cast<const char*>(data + 2), size - 2);
  if (runner_shown(output, 1 + (data[0] | data[1] << 8) % 2048) != model_shown(output))
    std::abort();
  return 0;
}
