// A fresh folder under the temporary directory, made the working folder
// while the guard lives: however the test ends, the previous working folder
// comes back and the folder is removed.
#pragma once

#include <filesystem>
#include <string>

#include <unistd.h>

namespace testsupport {

struct ScratchDir {
  std::filesystem::path dir;
  std::filesystem::path here = std::filesystem::current_path();

  explicit ScratchDir(const std::string& name)
      : dir(std::filesystem::temp_directory_path() /
            ("pedseg_" + name + "_" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
  }
  ~ScratchDir() {
    std::filesystem::current_path(here);
    std::filesystem::remove_all(dir);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
};

}  // namespace testsupport
