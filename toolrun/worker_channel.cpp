// Both ends of a worker's channel past the host's pipes: each chain's bytes framed by their
// length, each chain's status as four bytes.
#include <cstdint>
#include <string>
#include <string_view>

#include "toolrun/pipe_io.h"
#include "toolrun/platform_process.h"

std::string handed_frame(std::string_view handed) {
  const std::uint32_t length = static_cast<std::uint32_t>(handed.size());
  std::string frame(reinterpret_cast<const char*>(&length), sizeof length);
  return frame.append(handed);
}

bool take_handed_bytes(WorkerChannel& channel, std::string& bytes) {
  if (!channel.handed.is_open()) return false;
  const std::intptr_t end = channel.handed.get();
  std::uint32_t length;
  const std::size_t got = read_whole(end, reinterpret_cast<char*>(&length), sizeof length);
  if (got == 0) return false;
  const bool sized = got == sizeof length && length <= most_handed_bytes;
  bytes.assign(sized ? length : 0, '\0');
  if (!sized || read_whole(end, bytes.data(), length) != length) {
    bytes = "unreadable";  // half a state is none, and nothing after it is a state
    channel.handed.reset();
  }
  return true;
}

// A driver gone takes no report; the worker's next read of the channel ends it.
void report_chain_end(WorkerChannel& channel, int status) {
  const std::int32_t reported = status;
  write_whole(channel.reports.get(),
              std::string_view(reinterpret_cast<const char*>(&reported), sizeof reported));
}
