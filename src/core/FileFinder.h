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
  int64_t size = 0;        // a file's size in bytes
  uint64_t writeTime = 0;  // the time of its last write (the file system's count; 0 where none is known)
};

// One open search over a folder: entries in the order the file system returns
// them.
class IDirListing {
 public:
  virtual ~IDirListing() = default;
  // The next entry; false when there is none left.
  virtual bool Next(DirEntry& entry) = 0;
  // After Next returned false: whether the listing broke off with an error
  // (an unreadable folder) rather than ending after its last entry.
  virtual bool Failed() const { return false; }
};

// Which folder a path leads to, links followed: the volume's serial number and
// the folder's index on it.
struct FolderId {
  uint64_t volume = 0, index = 0;
  bool operator==(const FolderId&) const = default;
};

class IDirectory {
 public:
  virtual ~IDirectory() = default;
  // Starts a search for `pattern` (a folder path ending in '\' followed by a
  // wildcard mask). nullptr when there is nothing to list (missing folder,
  // nothing matches); a folder that is there but cannot be read gives a
  // listing that fails at once.
  virtual std::unique_ptr<IDirListing> Open(const std::string& pattern) = 0;
  // The identity of the folder `folder` leads to; false when it cannot be told.
  virtual bool Identify(const std::string& folder, FolderId& id) {
    (void)folder, (void)id;
    return false;
  }
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

  // The folders met by the last search that could not be read (missing
  // files, perhaps), as walked, without a trailing backslash.
  std::vector<std::string> FoldersUnreadable;

  // Clears FilesFound and FoldersUnreadable and collects every file below
  // Path. Folder links are followed, except where one leads back to a folder
  // on the current walk path. Always true: a folder that cannot be read
  // contributes nothing, and the walk goes on.
  bool FindFiles();
  // Ends a search in progress at its next directory entry (called from the
  // pump); the files found so far stay in FilesFound.
  void Stop() { stop_ = true; }
  bool Stopped() const { return stop_; }

 private:
  void ScanFolder(const std::string& folder);
  // The files pass of one folder; false when its listing failed.
  bool ListFiles(const std::string& base);
  void Pump();

  IDirectory& directory_;
  std::function<void()> pump_;
  std::function<void(bool)> waitPointer_;
  bool stop_ = false;
};

}  // namespace sk
