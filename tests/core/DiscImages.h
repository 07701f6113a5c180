// Images that genisoimage makes here for the disc tests, in a folder of the
// test program's own that goes at the end.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "core/RunCommand.h"

namespace sk::test {

namespace fs = std::filesystem;

inline const fs::path& ImageDir() {
  static const fs::path dir = [] {
    const fs::path d = fs::temp_directory_path() / ("disc_images." + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
  }();
  return dir;
}
struct RemoveImageDir : ::testing::Environment {
  void TearDown() override { fs::remove_all(ImageDir()); }
};
inline const auto* const kRemoveImageDir = ::testing::AddGlobalTestEnvironment(new RemoveImageDir);

inline std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Writes `files` (by their paths on the disc, "\\a\\b.txt") under `dir`.
inline void WriteTree(const fs::path& dir, const std::map<std::string, std::string>& files) {
  for (const auto& [path, data] : files) {
    fs::path p = dir;
    for (size_t at = 1, next; at <= path.size(); at = next + 1) {
      next = std::min(path.find('\\', at), path.size());
      p /= path.substr(at, next - at);
    }
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << data;
  }
}

// genisoimage's image, labelled "Etykieta", of `what` (a folder, or its own
// arguments naming the files) as `name` in ImageDir().
inline fs::path Genisoimage(const std::string& options, const std::string& what, const std::string& name) {
  const fs::path out = ImageDir() / name;
  int status = 0;
  RunCommand("genisoimage -quiet " + options + " -V Etykieta -o '" + out.string() + "' " + what, status);
  EXPECT_EQ(status, 0) << options;
  return out;
}

}  // namespace sk::test
