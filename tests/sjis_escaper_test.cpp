#include "pipeline/sjis_escaper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "driver/driver_state.h"

namespace {

namespace fs = std::filesystem;

// The escaper reads and writes in blocks of this size (and works in chunks of 64 bytes);
// cases are placed across their bounds.
constexpr std::size_t block = 512 * 1024;

std::string bytes(std::initializer_list<int> values) {
  std::string text;
  for (int value : values) text += static_cast<char>(value);
  return text;
}

// A byte-at-a-time escaper written from the rules, to compare the block copy with.
std::string reference_escape(const std::string& input) {
  std::string out;
  for (std::size_t i = 0; i < input.size();) {
    unsigned char byte = input[i++];
    out += static_cast<char>(byte);
    bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    if (!lead || i == input.size()) continue;
    char trail = input[i++];
    out += trail;
    if (trail != 0x5C) continue;
    out += '\x5C';
    if (i < input.size() && (input[i] == '\n' || input[i] == '\r')) out += ' ';
  }
  return out;
}

// Where a copy first differs from the expected one: a failure shows an offset, not a
// megabyte of bytes.
std::string first_difference(const std::string& actual, const std::string& expected) {
  if (actual == expected) return "";
  auto at = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first;
  return "differs at byte " + std::to_string(at - actual.begin()) + " of " +
         std::to_string(actual.size()) + " (expected " + std::to_string(expected.size()) + ")";
}

std::string read_all(std::FILE* file) {
  std::string text;
  char buffer[4096];
  std::rewind(file);
  while (std::size_t count = std::fread(buffer, 1, sizeof buffer, file)) text.append(buffer, count);
  return text;
}

std::string escape_through_stream(const std::string& input) {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  EXPECT_TRUE(in && out);
  if (!in || !out) return {};
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  EXPECT_TRUE(escape_sjis_stream(in, out));
  std::string result = read_all(out);
  std::fclose(in);
  std::fclose(out);
  return result;
}

struct EscapeCase {
  const char* name;
  std::string input;
  std::string expected;
};

const EscapeCase escape_cases[] = {
    {"empty input", "", ""},
    {"plain text with backslashes", "a\\b \"\\\\\" '\\n'\\\r\n\\\n",
     "a\\b \"\\\\\" '\\n'\\\r\n\\\n"},
    {"0x80 is a single byte", bytes({0x80, 0x5C}), bytes({0x80, 0x5C})},
    {"0x81 is a lead byte", bytes({0x81, 0x5C}), bytes({0x81, 0x5C, 0x5C})},
    {"0x9F is a lead byte", bytes({0x9F, 0x5C}), bytes({0x9F, 0x5C, 0x5C})},
    {"0xA0 is a single byte", bytes({0xA0, 0x5C}), bytes({0xA0, 0x5C})},
    {"half-width 0xB0 is a single byte", bytes({0xB0, 0x5C}), bytes({0xB0, 0x5C})},
    {"0xDF is a single byte", bytes({0xDF, 0x5C}), bytes({0xDF, 0x5C})},
    {"0xE0 is a lead byte", bytes({0xE0, 0x5C}), bytes({0xE0, 0x5C, 0x5C})},
    {"0xFC is a lead byte", bytes({0xFC, 0x5C}), bytes({0xFC, 0x5C, 0x5C})},
    {"0xFD is a single byte", bytes({0xFD, 0x5C}), bytes({0xFD, 0x5C})},
    {"doubled trail then a letter", bytes({0x95, 0x5C, 0x41}), bytes({0x95, 0x5C, 0x5C, 0x41})},
    {"trail byte in the lead range", bytes({0x81, 0x81, 0x5C}), bytes({0x81, 0x81, 0x5C})},
    {"LF as trail byte", bytes({0x81, 0x0A, 0x5C}), bytes({0x81, 0x0A, 0x5C})},
    {"CR as trail byte", bytes({0x81, 0x0D, 0x5C}), bytes({0x81, 0x0D, 0x5C})},
    {"NUL as trail byte", bytes({0x81, 0x00, 0x5C}), bytes({0x81, 0x00, 0x5C})},
    {"lead bytes pair off", bytes({0x95, 0x95, 0x95, 0x5C}), bytes({0x95, 0x95, 0x95, 0x5C, 0x5C})},
    {"byte after doubled starts a character", bytes({0x95, 0x5C, 0x95, 0x5C}),
     bytes({0x95, 0x5C, 0x5C, 0x95, 0x5C, 0x5C})},
    {"doubled before LF", bytes({0x95, 0x5C, 0x0A}), bytes({0x95, 0x5C, 0x5C, 0x20, 0x0A})},
    {"doubled before CR LF", bytes({0x95, 0x5C, 0x0D, 0x0A}),
     bytes({0x95, 0x5C, 0x5C, 0x20, 0x0D, 0x0A})},
    {"one blank before two LF", bytes({0x95, 0x5C, 0x0A, 0x0A}),
     bytes({0x95, 0x5C, 0x5C, 0x20, 0x0A, 0x0A})},
    {"plain backslash after doubled", bytes({0x95, 0x5C, 0x5C, 0x0A}),
     bytes({0x95, 0x5C, 0x5C, 0x5C, 0x0A})},
    {"lead after doubled takes LF as trail", bytes({0x95, 0x5C, 0x81, 0x0A}),
     bytes({0x95, 0x5C, 0x5C, 0x81, 0x0A})},
    {"end after a lead byte", bytes({0x41, 0x95}), bytes({0x41, 0x95})},
    {"end after a doubled 0x5C", bytes({0x95, 0x5C}), bytes({0x95, 0x5C, 0x5C})},
    {"lead byte inside a plain word", "abc" + bytes({0x95, 0x5C}) + "defgh\n",
     "abc" + bytes({0x95, 0x5C, 0x5C}) + "defgh\n"},
    {"lead byte after a plain word", "abcdefgh" + bytes({0x95, 0x5C, 0x0A}),
     "abcdefgh" + bytes({0x95, 0x5C, 0x5C, 0x20, 0x0A})},
};

TEST(SjisEscaperStream, EscapesEveryByteCase) {
  for (const EscapeCase& row : escape_cases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(escape_through_stream(row.input), row.expected);
    EXPECT_EQ(reference_escape(row.input), row.expected);
  }
}

// Each pattern is placed so that the block bound falls after each of its bytes in turn.
TEST(SjisEscaperStream, CarriesCharactersAcrossBlocks) {
  const std::string patterns[] = {bytes({0x95, 0x5C, 0x0A, 0x41}), bytes({0x95, 0x5C, 0x0D, 0x0A}),
                                  bytes({0x95, 0x5C, 0x95, 0x5C}), bytes({0x81, 0x81, 0x5C, 0x5C})};
  for (const std::string& pattern : patterns) {
    for (std::size_t before = 1; before <= pattern.size(); ++before) {
      SCOPED_TRACE(testing::Message() << "pattern " << &pattern - patterns << ", " << before
                                      << " bytes before the bound");
      std::string input = std::string(block - before, 'a') + pattern + "z";
      EXPECT_EQ(first_difference(escape_through_stream(input), reference_escape(input)), "");
    }
  }
}

// A block that begins with the trail byte of the last one's lead byte is taken from its
// second byte on; it too can end on a lead byte.
TEST(SjisEscaperStream, BlockBeginningWithTrailEndsOnLead) {
  std::string input = std::string(block - 1, 'a') + bytes({0x81, 0x41}) +
                      std::string(block - 2, 'a') + bytes({0x81, 0x5C, 0x0A});
  std::string expected = std::string(block - 1, 'a') + bytes({0x81, 0x41}) +
                         std::string(block - 2, 'a') + bytes({0x81, 0x5C, 0x5C, 0x20, 0x0A});
  EXPECT_EQ(first_difference(escape_through_stream(input), expected), "");
}

std::string random_input(std::mt19937& random, std::size_t size, bool mostly_plain) {
  static const unsigned char tricky[] = {0x5C, 0x0A, 0x0D, 0x81, 0x95, 0x9F, 0xE0,
                                         0xFC, 0x80, 0xA0, 0xDF, 0xFD, 0xFF, 0x00};
  std::uniform_int_distribution<int> pick(0, 63);
  std::string input(size, '\0');
  for (char& byte : input) {
    int roll = pick(random);
    bool plain = mostly_plain ? roll < 60 : roll < 16;
    byte = static_cast<char>(plain ? 0x20 + roll : tricky[roll % sizeof tricky]);
  }
  return input;
}

TEST(SjisEscaperStream, MatchesByteAtATimeCopyOnRandomInput) {
  std::mt19937 random(20240611);
  const std::size_t sizes[] = {1, 7, 63, 64, 65, 4095, block - 1, block, block + 1, 2 * block + 3};
  for (std::size_t size : sizes) {
    for (int round = 0; round < 6; ++round) {
      SCOPED_TRACE(testing::Message() << "size " << size << ", round " << round);
      std::string input = random_input(random, size, round % 2 == 0);
      EXPECT_EQ(first_difference(escape_through_stream(input), reference_escape(input)), "");
    }
  }
}

class SjisEscaperFiles : public testing::Test {
 protected:
  void SetUp() override {
    state = DriverState{};
    directory =
        fs::temp_directory_path() / ("vexa_escaper_test_" + std::to_string(std::random_device{}()));
    fs::create_directories(directory);
  }
  void TearDown() override { fs::remove_all(directory); }

  std::string path(const char* name) const { return (directory / name).string(); }
  void write_file(const std::string& name, const std::string& content) const {
    std::ofstream(name, std::ios::binary) << content;
  }
  std::string escape(const std::string& input, const std::string& output) const {
    testing::internal::CaptureStderr();
    if (!escape_sjis_source(input.c_str(), output.c_str())) state.status = 1;
    return testing::internal::GetCapturedStderr();
  }

  fs::path directory;
};

TEST_F(SjisEscaperFiles, WritesTheCopyAndNamesItsLength) {
  std::string input = path("a.c"), output = path("a.$");
  write_file(input, "s = \"" + bytes({0x95, 0x5C}) + "\";\r\n");
  EXPECT_EQ(escape(input, output), "");
  EXPECT_EQ(state.status, 0);
  std::ifstream copy(output, std::ios::binary);
  std::string content(std::istreambuf_iterator<char>(copy), {});
  EXPECT_EQ(content, "s = \"" + bytes({0x95, 0x5C, 0x5C}) + "\";\r\n");
}

TEST_F(SjisEscaperFiles, EmptySourceGivesEmptyCopy) {
  std::string input = path("e.c"), output = path("e.$");
  write_file(input, "");
  EXPECT_EQ(escape(input, output), "");
  EXPECT_EQ(state.status, 0);
  EXPECT_TRUE(fs::exists(output));
  EXPECT_EQ(fs::file_size(output), 0u);
}

TEST_F(SjisEscaperFiles, MissingInputIsReportedAndNothingCreated) {
  std::string input = path("missing.c"), output = path("missing.$");
  EXPECT_EQ(escape(input, output), "Input file open error.'" + input + "'");
  EXPECT_EQ(state.status, 1);
  EXPECT_FALSE(fs::exists(output));
}

TEST_F(SjisEscaperFiles, OutputThatCannotBeOpenedIsReported) {
  std::string input = path("b.c"), output = path("no_such_dir/b.$");
  write_file(input, "int b;\n");
  EXPECT_EQ(escape(input, output), "Output file open error.'" + output + "'");
  EXPECT_EQ(state.status, 1);
}

// A full device fails at the first block written, or, for a small source, only when the
// last buffer is flushed at the close: both are write failures.
TEST_F(SjisEscaperFiles, WriteFailureIsReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  const std::size_t sizes[] = {10, 3 * block};
  for (std::size_t size : sizes) {
    SCOPED_TRACE(testing::Message() << "source of " << size << " bytes");
    state = DriverState{};
    std::string input = path("w.c");
    write_file(input, std::string(size, 'x'));
    EXPECT_EQ(escape(input, "/dev/full"), "Output file write error.'/dev/full'");
    EXPECT_EQ(state.status, 1);
  }
}

TEST_F(SjisEscaperFiles, ReadFailureIsNotTakenForTheEnd) {
  std::string input = directory.string(), output = path("d.$");
  std::FILE* probe = std::fopen(input.c_str(), "rb");
  if (!probe) GTEST_SKIP() << "a directory cannot be opened as a file here";
  std::fclose(probe);
  EXPECT_EQ(escape(input, output), "Input file read error.'" + input + "'");
  EXPECT_EQ(state.status, 1);
}

}  // namespace
