// What a --jobs worker is handed comes back as it was packed, and no shorter part of it is
// taken: a worker never builds from half a state. (The end-to-end runs see only whole ones.)
#include "driver/worker_state.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(WorkerState, ComesBackWholeAndNoShorterPartIsTaken) {
  DriverState before;
  before.sjis_mode = 0;
  std::strcpy(before.program_name, "out/blink.srf");
  before.compiler_options.append({"-O2 ", "-DBOARD=\"a b\" "});
  before.object_list.append({"x.o\n"});
  before.launcher = "ccache";
  const std::string bytes = pack_worker_state(before, "src/main.c");

  DriverState after;
  std::string launcher;
  std::string word;
  ASSERT_TRUE(unpack_worker_state(bytes, after, launcher, word));
  EXPECT_EQ(after.sjis_mode, 0);
  EXPECT_STREQ(after.program_name, "out/blink.srf");
  EXPECT_STREQ(after.compiler_options.c_str(), "-O2 -DBOARD=\"a b\" ");
  EXPECT_STREQ(after.object_list.c_str(), "x.o\n");
  EXPECT_STREQ(after.launcher, "ccache");
  EXPECT_EQ(word, "src/main.c");

  for (std::size_t size = 0; size < bytes.size(); ++size) {
    DriverState part;
    EXPECT_FALSE(unpack_worker_state(std::string_view(bytes).substr(0, size), part, launcher, word))
        << "the first " << size << " of " << bytes.size() << " bytes";
  }
}
