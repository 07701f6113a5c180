#include <windows.h>

#include "core/FileApi.h"
#include "win/WinDirectory.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::win {
namespace {

class WinListing : public IDirListing {
 public:
  WinListing(HANDLE find, const WIN32_FIND_DATAW& first) : find_(find), data_(first) {}
  ~WinListing() override {
    if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
  }
  WinListing(const WinListing&) = delete;
  WinListing& operator=(const WinListing&) = delete;
  // A folder that is there but whose listing could not even begin.
  static std::unique_ptr<WinListing> Broken() {
    auto listing = std::make_unique<WinListing>(INVALID_HANDLE_VALUE, WIN32_FIND_DATAW{});
    listing->pending_ = false;
    listing->failed_ = true;
    return listing;
  }

  bool Next(DirEntry& entry) override {
    if (failed_) return false;
    if (pending_) {
      pending_ = false;
    } else if (!FindNextFileW(find_, &data_)) {
      failed_ = GetLastError() != ERROR_NO_MORE_FILES;
      return false;
    }
    entry.name = Narrow(data_.cFileName);
    entry.attributes = data_.dwFileAttributes;
    entry.size = static_cast<int64_t>(static_cast<uint64_t>(data_.nFileSizeHigh) << 32 | data_.nFileSizeLow);
    entry.writeTime = static_cast<uint64_t>(data_.ftLastWriteTime.dwHighDateTime) << 32 |
                      data_.ftLastWriteTime.dwLowDateTime;
    return true;
  }
  bool Failed() const override { return failed_; }

 private:
  HANDLE find_;
  WIN32_FIND_DATAW data_;
  bool pending_ = true;  // the entry FindFirstFileW returned is still to be read
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<IDirListing> WinDirectory::Open(const std::string& pattern) {
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(LongPath(pattern).c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) return std::make_unique<WinListing>(find, data);
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:  // nothing matches
    case ERROR_PATH_NOT_FOUND:  // no such folder
    case ERROR_NO_MORE_FILES:
      return nullptr;
    default:  // the folder is there and cannot be read
      return WinListing::Broken();
  }
}

bool WinDirectory::Identify(const std::string& folder, FolderId& id) {
  // No access asked: only the identity is wanted. Links are followed.
  std::string path = folder;
  if (path.size() > 1 && path.back() == '\\' && path[path.size() - 2] != ':') path.pop_back();
  HANDLE h = CreateFileW(LongPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(h, &info) != FALSE;
  CloseHandle(h);
  if (!ok) return false;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::vector<std::string>> FolderNames(const std::string& folder) {
  std::string pattern = folder;
  if (pattern.empty() || pattern.back() != '\\') pattern += '\\';
  pattern += '*';
  std::vector<std::string> names;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(LongPath(pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    // An empty folder (a new one, as a rule) has no entries at all on some
    // file systems; one that cannot be read is no listing.
    if (GetLastError() == ERROR_FILE_NOT_FOUND && FolderExists(folder)) return names;
    return std::nullopt;
  }
  do {
    names.push_back(Narrow(data.cFileName));
    if (data.cAlternateFileName[0] && lstrcmpiW(data.cAlternateFileName, data.cFileName) != 0)
      names.push_back(Narrow(data.cAlternateFileName));
  } while (FindNextFileW(find, &data));
  const bool whole = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(find);
  if (!whole) return std::nullopt;
  return names;
}

void CreateFolder(const std::string& path) {
  if (!CreateDirectoryW(LongPath(path).c_str(), nullptr)) {
    const DWORD code = GetLastError();
    throw FileError(FileErrorText(code), code);
  }
}

}  // namespace sk::win
