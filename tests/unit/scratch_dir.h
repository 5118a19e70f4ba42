// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes; unit tests that need real files
// make their own and never touch anything outside it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvo-unit-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make " << pattern;
    // Without links, as the process reports the directory it stands in.
    path_ = std::filesystem::canonical(pattern).string();
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string PathOf(std::string_view name) const { return path_ + "/" + std::string(name); }

  // Writes `bytes` exactly, NUL bytes and line ends included.
  std::string Put(std::string_view name, std::string_view bytes) const {
    std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
  }
  std::string MakeDir(std::string_view name) const {
    std::string path = PathOf(name);
    std::filesystem::create_directories(path);
    return path;
  }

 private:
  std::string path_;
};
