// -o, the output file as other compilers name it, read from the whole command line before
// any word is handled: under -c, -S or -E the one source makes that file, and its chain has
// to know it when the source's word comes, wherever -o stands.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Looks over the first `count` of `words` as the run will take them. With -o (the last one
// wins) it sets `output_file` and takes the last of -c, -S and -E as the run's stage limit;
// it refuses (status 1) an -o, -MF, -MT or -MQ without its word, an output that is one of
// the inputs, more than one source under a stage limit, and, for a link, two sources that
// would make the same files in the output's folder. Returns false when it refused.
bool take_output_option(const std::vector<std::string>& words, std::size_t count);
