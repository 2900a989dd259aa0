// A fresh directory that is the working directory while the object lives,
// for code that writes files there (the network training writes
// "materialwerte.mat" and "NeuroLrn.txt").
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace korvane::testing {

class TempWorkingDirectory {
 public:
  TempWorkingDirectory() : previous_(std::filesystem::current_path()) {
    std::string name = ::testing::TempDir() + "korvane_cwd_XXXXXX";
    path_ = mkdtemp(name.data()) ? name : ::testing::TempDir();
    std::filesystem::current_path(path_);
  }
  ~TempWorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    if (path_ != ::testing::TempDir()) std::filesystem::remove_all(path_, ignored);
  }
  TempWorkingDirectory(const TempWorkingDirectory&) = delete;
  TempWorkingDirectory& operator=(const TempWorkingDirectory&) = delete;
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::filesystem::path previous_;
  std::string path_;
};

}  // namespace korvane::testing
