// Images that genisoimage and mkudffs make here for the disc tests, in a
// folder of the test program's own that goes at the end.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

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
  std::ifstream in(p, std::ios::binary | std::ios::ate);
  std::string bytes(static_cast<size_t>(std::max<std::streamoff>(0, in.tellg())), '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
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

// A multisession CD-R's sector space in one flat file: each of `sessions`
// (folders' files) burnt by genisoimage after the one before it (`-C` and
// `-M`: its tree holds the earlier sessions' files too), the standard gap
// (11,400 sectors after the first session, 6,900 after later ones) left as
// zeros between them, after `runOut` sectors more at each session's end (2
// where a track was written at once). `starts` gets each session's first
// sector.
inline fs::path MultisessionImage(const std::vector<std::map<std::string, std::string>>& sessions,
                                  const std::string& name, std::vector<int64_t>& starts, int runOut = 0) {
  const fs::path out = ImageDir() / name;
  starts.clear();
  int64_t end = 0, last = 0;
  for (size_t i = 0; i < sessions.size(); ++i) {
    const fs::path dir = ImageDir() / (name + ".s" + std::to_string(i + 1));
    WriteTree(dir, sessions[i]);
    const int64_t start = i == 0 ? 0 : end + runOut + (i == 1 ? 11400 : 6900);
    std::string options = "-J -R";
    if (i > 0) options += " -C " + std::to_string(last) + "," + std::to_string(start) + " -M '" + out.string() + "'";
    const fs::path session =
        Genisoimage(options, "'" + dir.string() + "'", name + ".s" + std::to_string(i + 1) + ".iso");
    const std::string bytes = ReadBytes(session);
    if (i == 0) std::ofstream(out, std::ios::binary).flush();
    fs::resize_file(out, static_cast<uintmax_t>(start) * 2048);
    std::ofstream(out, std::ios::binary | std::ios::app) << bytes;
    starts.push_back(start);
    last = start;
    end = start + static_cast<int64_t>(bytes.size()) / 2048;
  }
  return out;
}

// mkudffs's empty UDF image of `blocks` 2048-byte blocks for `media`
// ("cdr", "cdrw", "dvdr", "dvdrw", "bdr"...) and UDF revision `revision`
// ("0x0150"...). A write-once medium's image holds only what was written.
inline fs::path Mkudffs(const std::string& media, const std::string& revision, int blocks) {
  const fs::path out = ImageDir() / ("mkudffs-" + media + "-" + revision + ".img");
  if (fs::exists(out)) return out;
  std::ofstream(out, std::ios::binary).flush();
  int status = 0;
  RunCommand("mkudffs --media-type=" + media + " --udfrev=" + revision + " --blocksize=2048 --label=Etykieta '" +
                 out.string() + "' " + std::to_string(blocks),
             status);
  EXPECT_EQ(status, 0) << media << " " << revision;
  return out;
}

}  // namespace sk::test
