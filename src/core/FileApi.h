// The file operations the copy loops need, so that they run on Windows files
// and, in the tests, on files that fail where a test wants them to.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace sk {

// A failed file operation. what() is the text the program reports, e.g.
// "File not found" or "I/O error 21"; code() is the system's error code (0
// when there is none).
class FileError : public std::runtime_error {
 public:
  explicit FileError(const std::string& text, unsigned long code = 0) : std::runtime_error(text), code_(code) {}
  unsigned long code() const { return code_; }

 private:
  unsigned long code_;
};

// A write that took fewer bytes than it was given: the disk is full.
inline constexpr unsigned long kDiskFull = 112;
inline FileError DiskFullError() { return FileError("I/O error 112", kDiskFull); }

// A new file refused because a file (or folder) of that name is already there
// (OpenMode::CreateNew).
inline constexpr unsigned long kFileExists = 80;
class FileExistsError : public FileError {
 public:
  explicit FileExistsError(const std::string& text, unsigned long code = kFileExists) : FileError(text, code) {}
};

// The refusal of a copy or a resume whose destination is its source.
inline constexpr const char* kSameFileText = "Plik docelowy jest tym samym plikiem co źródłowy";

enum class OpenMode {
  ReadShared,       // a source: read only, must exist, others may read and write it
  CreateReadWrite,  // a copy's destination: created, or truncated when it exists; read and write
  CreateNew,        // a copy's destination under a free name: created, read and write; FileExistsError
                    // when anything of that name is there (it is never replaced)
  WriteExisting,    // a resumed destination: write only, must exist, neither created nor truncated
  ReadWriteExisting,  // a disc image going on: read and write, must exist, neither created nor truncated
};

// An open file. Sizes and positions are 64-bit. Every operation throws
// FileError on failure.
class IFile {
 public:
  virtual ~IFile() = default;
  virtual int64_t Position() = 0;
  virtual void Seek(int64_t position) = 0;
  virtual int64_t Size() = 0;
  // Reads up to `count` bytes at the position; returns how many were read
  // (0 at the end of the file).
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes `count` bytes at the position; returns how many were written.
  virtual size_t Write(const void* buffer, size_t count) = 0;
  // Closes the file; later operations fail.
  virtual void Close() = 0;
  // Puts what was written on the disk itself (not only in caches).
  virtual void Flush() {}
  // The bytes of the medium's own sector (of the volume holding the file, of
  // a device); 0 where it is not known.
  virtual int64_t SectorSize() { return 0; }
  // Makes the file `size` bytes long: bytes added at the end read as zeros.
  // The position does not move.
  virtual void SetSize(int64_t size) {
    (void)size;
    throw FileError("I/O error 50", 50);
  }
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  virtual std::unique_ptr<IFile> Open(const std::string& path, OpenMode mode) = 0;
  // Whether `path` names an existing file that is the very file open as
  // `file` (same volume and file identity, however the path is spelt).
  virtual bool IsSameFile(IFile& file, const std::string& path) = 0;
  // The size recorded in the directory entry of the first file matching
  // `path`; 0 when none matches. The file is not opened.
  virtual int64_t FileSizeByName(const std::string& path) = 0;
  // Makes `text` the whole content of the file `path` so that the file on
  // disk is at every moment either the old one or the new one, complete: a
  // new file beside it, written and flushed, then moved over it.
  virtual void ReplaceContent(const std::string& path, const std::string& text) {
    (void)path;
    (void)text;
    throw FileError("I/O error 50", 50);
  }
  // Deletes the file; a file that does not exist counts as deleted. Throws
  // FileError when it cannot be deleted.
  virtual void RemoveFile(const std::string& path) {
    (void)path;
    throw FileError("I/O error 50", 50);
  }
  // Whether the attributes of `path` can still be read: false once the
  // medium holding it has been taken out of its drive.
  virtual bool Present(const std::string& path) {
    (void)path;
    return true;
  }
  // Runs `calls` (calls of this object and of the files it opened) as one
  // piece: where calls are handed to another thread, the piece is handed
  // over whole. Whatever it throws passes through.
  virtual void Together(const std::function<void()>& calls) { calls(); }
  // Work of the calling thread (e.g. bringing a window up to date) to do
  // while the next call is under way, where calls are handed to another
  // thread; elsewhere it is done at once. An empty one drops work still
  // waiting for a call.
  virtual void Alongside(std::function<void()> work) {
    if (work) work();
  }
};

}  // namespace sk
