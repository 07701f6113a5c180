// The steps every copy of one file shares, plain or rescuing (LevelCopy.cpp,
// CopyRescue.cpp): opening the pair, the size check, abandoning and closing
// it, with their entries in the log. Not for the windows.
#pragma once
#include <memory>
#include <string>

#include "core/FileApi.h"
#include "core/LevelCopy.h"

namespace sk::copy {

// An operation on a file that did not open. Its open already logged the
// error, so this ends the copy without another entry.
class NotOpenError : public FileError {
 public:
  NotOpenError() : FileError("I/O error 103", 103) {}
};

// The file, or NotOpenError when it did not open.
IFile& Opened(const std::unique_ptr<IFile>& file);

// Close on the way out of a failed copy; the failure that ended the copy is
// the one that counts.
void CloseQuietly(std::unique_ptr<IFile>& file);

// The start of a copy: announce, bind, open. A file that does not open is
// logged and left null; a destination that is the source itself is refused.
// In rescue mode a map left beside the destination by an earlier rescue is
// deleted once the destination has been created anew (it would describe a
// file that no longer exists), never before: while the create fails, the
// earlier file still has the holes its map names. Any other file of that
// name is left alone. `renamed`: the log names the destination right after
// the first entry. `fresh`: nothing had the destination's name when the run
// began and the run has not written it since, so it cannot be the source;
// it is created new, and a file that has appeared there meanwhile ends the
// copy with FileExistsError (unlogged, nothing written) instead of being
// replaced. In rescue mode `fresh` says the same of the map's name: there is
// no earlier map to delete.
struct OpenedPair {
  std::unique_ptr<IFile> src, dst;
};
OpenedPair OpenPair(const CopyEnvironment& env, const std::string& source, const std::string& destination,
                    const std::string* staleMap, bool renamed, bool fresh = false);

// The size check, when it is on: sizes only, never contents. Equal sizes
// with bytes left unread (rescue mode) are no success.
void CheckSizes(ICopyView& view, OpenedPair& files, int64_t unread);

// Inside a catch handler: the failure that ends the copy is logged (unless
// its open already was, or `logged`), and both files are closed.
void AbandonPair(ICopyView& view, OpenedPair& files, bool logged);

// The end of a copy: close both files (a failure is logged and the other is
// closed still) and say that the file is done (`ended`, the last entry).
void ClosePair(ICopyView& view, OpenedPair& files, const std::string& ended, bool stopped);

}  // namespace sk::copy
