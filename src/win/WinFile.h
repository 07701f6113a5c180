// Windows files behind the program's file interface (CreateFileW and friends).
#pragma once
#include "core/Clock.h"
#include "core/FileApi.h"

namespace sk::win {

class WinFileSystem : public IFileSystem {
 public:
  // A file's SectorSize() is its volume's bytes per sector (GetDiskFreeSpaceW).
  std::unique_ptr<IFile> Open(const std::string& path, OpenMode mode) override;
  bool IsSameFile(IFile& file, const std::string& path) override;
  int64_t FileSizeByName(const std::string& path) override;
  // Written to path + ".new", flushed, then moved over `path` (replace,
  // write-through). On failure the new file is deleted and the old one stays.
  void ReplaceContent(const std::string& path, const std::string& text) override;
  void RemoveFile(const std::string& path) override;
  bool Present(const std::string& path) override;
};

// The size in the directory entry of the first file matching `path` (any
// attributes), 0 when none matches. The file is not opened.
int64_t FileSizeByName(const std::string& path);

// The path in the form the wide file functions take for any length: absolute,
// with the "\\?\" prefix when it is longer than MAX_PATH allows.
std::wstring LongPath(const std::string& path);

class WinClock : public IClock {
 public:
  double Now() override;
  bool CounterFrequency(int64_t& frequency) override;
  int64_t Counter() override;
  int64_t Milliseconds() override;
};

}  // namespace sk::win
