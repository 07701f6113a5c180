// Folders on Windows: listings through FindFirstFileW / FindNextFileW for the
// file finder, a folder's identity, and the folder checks of the copy run.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "core/FileFinder.h"

namespace sk::win {

// Any path length (long ones through the "\\?\" form) and any script.
class WinDirectory : public IDirectory {
 public:
  std::unique_ptr<IDirListing> Open(const std::string& pattern) override;
  bool Identify(const std::string& folder, FolderId& id) override;
};

// Whether a folder exists at `path`, and creating one folder (its parent must
// exist); failures throw FileError with the program's texts ("Invalid
// filename" for a missing parent).
bool FolderExists(const std::string& path);
void CreateFolder(const std::string& path);

// The names of everything in `folder`, each under its long name and its
// short (8.3) one where it has another; none when the folder cannot be listed.
std::optional<std::vector<std::string>> FolderNames(const std::string& folder);

}  // namespace sk::win
