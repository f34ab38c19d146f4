// A fresh driver for every test: default state, the fake platform, an empty temporary
// working directory, and the driver's console output captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/driver_state.h"
#include "tests/fake_platform.h"
#include "toolrun/console.h"

class DriverFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_directory_ = std::filesystem::current_path();
    directory_ = std::filesystem::temp_directory_path() /
                 ("vexa-unit-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
    std::filesystem::current_path(directory_);
    fresh_start();
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
  }

  void TearDown() override {
    finish_capture();
    // Failure messages went into the capture too.
    if (HasFailure()) std::fputs((out_ + err_).c_str(), stdout);
    std::filesystem::current_path(previous_directory_);
    std::filesystem::remove_all(directory_);
  }

  // Default state, a fake platform with no scripts and an empty working directory.
  void fresh_start() {
    state = DriverState{};
    fake_platform_reset();
    for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
      std::filesystem::remove_all(entry.path());
    }
  }

  // Ends the capture (once) and keeps what was written.
  void finish_capture() {
    if (captured_) return;
    flush_out();
    out_ = ::testing::internal::GetCapturedStdout();
    err_ = ::testing::internal::GetCapturedStderr();
    captured_ = true;
  }
  const std::string& out() { return finish_capture(), out_; }
  const std::string& err() { return finish_capture(), err_; }

  // What the driver wrote since the last look; the capture goes on.
  static std::string take_out() {
    flush_out();
    std::string text = ::testing::internal::GetCapturedStdout();
    ::testing::internal::CaptureStdout();
    return text;
  }
  static std::string take_err() {
    std::string text = ::testing::internal::GetCapturedStderr();
    ::testing::internal::CaptureStderr();
    return text;
  }

  static void write_file(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
  }
  static std::string read_file(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static bool exists(const std::string& name) { return std::filesystem::exists(name); }

  // The files left in the working directory, sorted.
  static std::vector<std::string> files() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path previous_directory_;
  std::filesystem::path directory_;
  std::string out_;
  std::string err_;
  bool captured_ = false;
};

// A fake tool action that writes the output a real tool would: the last word of its
// argument text with its extension replaced.
inline std::function<void(const std::string&)> writes_output(const std::string& extension) {
  return [extension](const std::string& arguments) {
    std::string input = arguments.substr(arguments.rfind(' ') + 1);
    std::string output = input.substr(0, input.rfind('.')) + extension;
    std::ofstream(output) << "output of " << input << "\n";
  };
}
