#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

ScopedTempDir::ScopedTempDir() {
  std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    std::filesystem::path dir = base / ("telmar-test-" + std::to_string(random() % 1000000000u));
    if (std::filesystem::create_directory(dir)) path_ = dir.string();
  }
  if (path_.empty()) throw std::runtime_error("no temporary directory could be made");
  previous_ = std::filesystem::current_path().string();
  std::filesystem::current_path(path_);
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
  std::filesystem::remove_all(path_, ec);
}

void ScopedTempDir::WriteFile(const std::string& name, const std::string& contents) const {
  std::ofstream out(path_ + "/" + name, std::ios::binary | std::ios::trunc);
  out << contents;
}

std::string ScopedTempDir::ReadFile(const std::string& name) const {
  std::ifstream in(path_ + "/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
