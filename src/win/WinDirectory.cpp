#include <windows.h>

#include "win/WinDirectory.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::win {
namespace {

class WinListing : public IDirListing {
 public:
  WinListing(HANDLE find, const WIN32_FIND_DATAW& first) : find_(find), data_(first) {}
  ~WinListing() override { FindClose(find_); }
  WinListing(const WinListing&) = delete;
  WinListing& operator=(const WinListing&) = delete;

  bool Next(DirEntry& entry) override {
    if (pending_) {
      pending_ = false;
    } else if (!FindNextFileW(find_, &data_)) {
      return false;
    }
    entry.name = Narrow(data_.cFileName);
    entry.attributes = data_.dwFileAttributes;
    return true;
  }

 private:
  HANDLE find_;
  WIN32_FIND_DATAW data_;
  bool pending_ = true;  // the entry FindFirstFileW returned is still to be read
};

}  // namespace

std::unique_ptr<IDirListing> WinDirectory::Open(const std::string& pattern) {
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(LongPath(pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WinListing>(find, data);
}

}  // namespace sk::win
