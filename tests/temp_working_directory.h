// A fresh directory under the test temporary directory that is the working
// directory while the object lives, for code that writes files there (the
// network training writes "materialwerte.mat" and "NeuroLrn.txt").
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace korvane::testing {

class TempWorkingDirectory {
 public:
  TempWorkingDirectory() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::path(::testing::TempDir()) /
            ("korvane_cwd_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~TempWorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempWorkingDirectory(const TempWorkingDirectory&) = delete;
  TempWorkingDirectory& operator=(const TempWorkingDirectory&) = delete;
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

}  // namespace korvane::testing
