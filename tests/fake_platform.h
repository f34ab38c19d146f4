// A process layer for unit tests: every tool started runs in-process, writes
// `fake_output`, `fake_read_size` bytes a read, and exits 0; no real pipe can be made to
// hand its output over in reads of a chosen size.
#pragma once

#include <cstddef>
#include <string>

extern std::string fake_output;
extern std::size_t fake_read_size;
