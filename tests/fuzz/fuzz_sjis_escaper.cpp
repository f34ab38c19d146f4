// Arbitrary bytes through the block escaper, against the byte-at-a-time model. A first
// byte 0xFF puts plain filler in front, so that the bytes after it straddle a block bound.
#include <cstdint>

#include "tests/byte_models.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  if (size > 0 && data[0] == 0xFF) input.insert(0, escaper_block - 4, 'x');
  if (stream_escaped(input) != model_escape(input)) std::abort();
  return 0;
}
