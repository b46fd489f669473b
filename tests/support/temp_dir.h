// tests/support/temp_dir.h: a temporary directory that removes itself.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace brevick::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path; }
  // Writes `bytes` to the relative path, creating directories on the way.
  std::filesystem::path WriteFile(const std::string& relative, std::string_view bytes) const;

 private:
  std::filesystem::path path;
};

std::string ReadFileBytes(const std::filesystem::path& file);

}  // namespace brevick::testing
