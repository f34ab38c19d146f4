#include "driver/worker_state.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace {

static_assert(std::is_trivially_copyable_v<DriverState>);

constexpr char magic[] = "vexa worker state 1";
// The layout of DriverState is this program's, checked by its size.
constexpr std::uint32_t state_size = sizeof(DriverState);

void put_text(std::string& bytes, std::string_view text) {
  const auto length = static_cast<std::uint32_t>(text.size());
  bytes.append(reinterpret_cast<const char*>(&length), sizeof length).append(text);
}

bool take(std::string_view& bytes, void* into, std::size_t count) {
  if (bytes.size() < count) return false;
  std::memcpy(into, bytes.data(), count);
  bytes.remove_prefix(count);
  return true;
}

bool take_text(std::string_view& bytes, std::string& text) {
  std::uint32_t length = 0;
  if (!take(bytes, &length, sizeof length) || bytes.size() < length) return false;
  text.assign(bytes.substr(0, length));
  bytes.remove_prefix(length);
  return true;
}

}  // namespace

std::string pack_worker_state(const DriverState& before, const char* word) {
  std::string bytes(magic, sizeof magic);
  bytes.append(reinterpret_cast<const char*>(&state_size), sizeof state_size);
  bytes.append(reinterpret_cast<const char*>(&before), sizeof before);
  bytes.push_back(before.launcher != nullptr ? 1 : 0);
  put_text(bytes, before.launcher != nullptr ? before.launcher : "");
  put_text(bytes, word);
  return bytes;
}

bool unpack_worker_state(std::string_view bytes, DriverState& state, std::string& launcher,
                         std::string& word) {
  char mark[sizeof magic];
  std::uint32_t size = 0;
  char has_launcher = 0;
  if (!take(bytes, mark, sizeof mark) || std::memcmp(mark, magic, sizeof magic) != 0 ||
      !take(bytes, &size, sizeof size) || size != state_size || !take(bytes, &state, size) ||
      !take(bytes, &has_launcher, 1) || !take_text(bytes, launcher) || !take_text(bytes, word) ||
      !bytes.empty()) {
    return false;
  }
  state.launcher = has_launcher ? launcher.c_str() : nullptr;
  return true;
}
