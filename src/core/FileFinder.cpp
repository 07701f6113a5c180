#include "core/FileFinder.h"

#include <utility>

namespace sk {
namespace {

std::string WithBackslash(const std::string& folder) {
  if (!folder.empty() && folder.back() == '\\') return folder;
  return folder + '\\';
}

// A subfolder to descend into. Folders that are reparse points (junctions,
// symbolic links, mount points) are not entered: one leading back to an
// ancestor would send the walk down the same tree again and again.
bool IsFolderToEnter(const DirEntry& e) {
  if (!(e.attributes & kAttrDirectory) || (e.attributes & kAttrReparsePoint)) return false;
  return e.name != "." && e.name != "..";
}

class WaitPointer {
 public:
  explicit WaitPointer(const std::function<void(bool)>& set) : set_(set) {
    if (set_) set_(true);
  }
  ~WaitPointer() {
    if (set_) set_(false);
  }
  WaitPointer(const WaitPointer&) = delete;
  WaitPointer& operator=(const WaitPointer&) = delete;

 private:
  const std::function<void(bool)>& set_;
};

}  // namespace

FileFinder::FileFinder(IDirectory& directory, std::function<void()> pump, std::function<void(bool)> waitPointer)
    : directory_(directory), pump_(std::move(pump)), waitPointer_(std::move(waitPointer)) {}

bool FileFinder::FindFiles() {
  FilesFound.clear();
  WaitPointer wait(waitPointer_);
  ScanFolder(Path);
  return true;
}

void FileFinder::ListFiles(const std::string& base) {
  auto files = directory_.Open(base + FileMask);
  if (!files) return;
  DirEntry e;
  while (files->Next(e)) {
    if (pump_) pump_();
    if (e.attributes & (kAttrDirectory | kAttrVolumeLabel)) continue;
    FilesFound.push_back(base + e.name);
  }
}

// Depth first with an explicit stack of open folder searches, so that a very
// deep tree cannot exhaust the thread's stack. Each folder: its files first,
// then its subfolders, each finished completely before the next entry is read.
void FileFinder::ScanFolder(const std::string& folder) {
  struct Level {
    std::string base;
    std::unique_ptr<IDirListing> folders;
  };
  std::vector<Level> stack;
  auto enter = [&](const std::string& path) {
    std::string base = WithBackslash(path);
    ListFiles(base);
    auto folders = directory_.Open(base + "*.*");
    stack.push_back({std::move(base), std::move(folders)});
  };
  enter(folder);
  DirEntry e;
  while (!stack.empty()) {
    Level& top = stack.back();
    if (!top.folders || !top.folders->Next(e)) {
      stack.pop_back();
      continue;
    }
    if (pump_) pump_();
    if (IsFolderToEnter(e)) enter(top.base + e.name + '\\');
  }
}

}  // namespace sk
