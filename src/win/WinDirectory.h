// Folder listings through FindFirstFileW / FindNextFileW, for the file finder.
#pragma once
#include "core/FileFinder.h"

namespace sk::win {

// Any path length (long ones through the "\\?\" form) and any script.
class WinDirectory : public IDirectory {
 public:
  std::unique_ptr<IDirListing> Open(const std::string& pattern) override;
};

}  // namespace sk::win
