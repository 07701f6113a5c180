#include "core/FileFinder.h"

#include <optional>
#include <utility>

namespace sk {
namespace {

std::string WithBackslash(const std::string& folder) {
  if (!folder.empty() && folder.back() == '\\') return folder;
  return folder + '\\';
}

// A subfolder to descend into (links to folders included).
bool IsFolderToEnter(const DirEntry& e) {
  return (e.attributes & kAttrDirectory) && e.name != "." && e.name != "..";
}

// A folder as the log names it: the walked path without the backslash the
// walk added ("C:\" and "\" stay whole).
std::string Shown(const std::string& base) {
  if (base.size() < 2 || base.back() != '\\' || base[base.size() - 2] == ':') return base;
  return base.substr(0, base.size() - 1);
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
  FoldersUnreadable.clear();
  stop_ = false;
  WaitPointer wait(waitPointer_);
  ScanFolder(Path);
  return true;
}

void FileFinder::Pump() {
  if (pump_ && !stop_) pump_();
}

bool FileFinder::ListFiles(const std::string& base) {
  auto files = directory_.Open(base + FileMask);
  if (!files) return true;
  DirEntry e;
  while (!stop_ && files->Next(e)) {
    Pump();
    if (e.attributes & (kAttrDirectory | kAttrVolumeLabel)) continue;
    FilesFound.push_back(base + e.name);
  }
  return stop_ || !files->Failed();
}

// Depth first with an explicit stack of open folder searches, so that a very
// deep tree cannot exhaust the thread's stack. Each folder: its files first,
// then its subfolders, each finished completely before the next entry is read.
// A link is followed unless it leads to a folder on the current path (by
// identity, not by name): there the same tree would begin again.
void FileFinder::ScanFolder(const std::string& folder) {
  struct Level {
    std::string base;
    std::unique_ptr<IDirListing> folders;
    bool failed = false;             // reported as unreadable
    std::optional<FolderId> id;      // told when a link needs it
    bool idAsked = false;
  };
  std::vector<Level> stack;
  auto unreadable = [&](Level& level) {
    if (level.failed) return;
    level.failed = true;
    FoldersUnreadable.push_back(Shown(level.base));
  };
  auto enter = [&](const std::string& path) {
    std::string base = WithBackslash(path);
    const bool filesRead = ListFiles(base);
    auto folders = stop_ ? nullptr : directory_.Open(base + "*.*");
    stack.emplace_back();
    stack.back().base = std::move(base);
    stack.back().folders = std::move(folders);
    if (!filesRead) unreadable(stack.back());
  };
  auto identity = [&](Level& level) -> const std::optional<FolderId>& {
    if (!level.idAsked) {
      level.idAsked = true;
      FolderId id;
      if (directory_.Identify(level.base, id)) level.id = id;
    }
    return level.id;
  };
  // Whether the folder behind `path` is one on the current walk path.
  auto leadsBack = [&](const FolderId& id) {
    for (Level& level : stack) {
      const auto& known = identity(level);
      if (known && *known == id) return true;
    }
    return false;
  };
  enter(folder);
  DirEntry e;
  while (!stack.empty() && !stop_) {
    Level& top = stack.back();
    if (!top.folders || !top.folders->Next(e)) {
      if (top.folders && top.folders->Failed()) unreadable(top);
      stack.pop_back();
      continue;
    }
    Pump();
    if (stop_ || !IsFolderToEnter(e)) continue;
    const std::string path = top.base + e.name + '\\';
    if (e.attributes & kAttrReparsePoint) {
      FolderId id;
      if (!directory_.Identify(path, id)) {
        // Where a link leads cannot be told: it cannot be read either.
        FoldersUnreadable.push_back(Shown(path));
        continue;
      }
      if (leadsBack(id)) continue;
    }
    enter(path);
  }
}

}  // namespace sk
