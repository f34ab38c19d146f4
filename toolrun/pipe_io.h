// Blocking reads and writes of a whole count of bytes on a pipe, which each host's process
// layer provides, and the frame a worker's chain goes in: the worker's channel is built on
// them the same way on every host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Writes all of `bytes` to the descriptor or handle, waiting for room; false on failure, the
// system's reason left where the host keeps it (errno, GetLastError).
bool write_whole(std::intptr_t handle, std::string_view bytes);

// Reads `size` bytes unless the pipe ends or fails first; the count read.
std::size_t read_whole(std::intptr_t handle, char* buffer, std::size_t size);

// The bytes of one chain as they go to a worker: their length, then themselves.
std::string handed_frame(std::string_view handed);
