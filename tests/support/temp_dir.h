// A fresh temporary directory that becomes the current directory for the life of the object
// (the driver reads and writes its option file in the current directory).
#pragma once

#include <string>

class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes a file (relative to the directory) with the given contents.
  void WriteFile(const std::string& name, const std::string& contents) const;
  std::string ReadFile(const std::string& name) const;

 private:
  std::string path_;
  std::string previous_;
};
