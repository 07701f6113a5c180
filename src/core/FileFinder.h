// The recursive file finder: collects the paths of all files below a folder,
// files of a folder before the contents of its subfolders, depth first. It
// reads folders through a small listing interface and lets the window work go
// on through a pump called once per directory entry.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sk {

// Attribute bits of a directory entry, as the file system gives them.
inline constexpr uint32_t kAttrVolumeLabel = 0x08;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrReparsePoint = 0x400;

struct DirEntry {
  std::string name;  // the entry's own name, UTF-8 ("." and ".." included)
  uint32_t attributes = 0;
};

// One open search over a folder: entries in the order the file system returns
// them.
class IDirListing {
 public:
  virtual ~IDirListing() = default;
  // The next entry; false when there is none left.
  virtual bool Next(DirEntry& entry) = 0;
};

class IDirectory {
 public:
  virtual ~IDirectory() = default;
  // Starts a search for `pattern` (a folder path ending in '\' followed by a
  // wildcard mask). nullptr when the search cannot be opened (missing folder,
  // access denied, nothing matches).
  virtual std::unique_ptr<IDirListing> Open(const std::string& pattern) = 0;
};

class FileFinder {
 public:
  // `pump` runs the pending window messages; `waitPointer` shows (true) and
  // takes back (false) the hourglass pointer around a search.
  FileFinder(IDirectory& directory, std::function<void()> pump, std::function<void(bool)> waitPointer = {});

  // Wildcard pattern that a file's name must match to be collected.
  std::string FileMask = "*.*";
  // The result of the last search: one path per file, in the order found.
  std::vector<std::string> FilesFound;
  // Folder where the search starts.
  std::string Path = "C:\\";

  // Clears FilesFound and collects every file below Path. Always true: a
  // folder that cannot be listed contributes nothing.
  bool FindFiles();

 private:
  void ScanFolder(const std::string& folder);
  void ListFiles(const std::string& base);

  IDirectory& directory_;
  std::function<void()> pump_;
  std::function<void(bool)> waitPointer_;
};

}  // namespace sk
