// What the update check needs from Windows besides the fetch: deleting a file
// whatever its attributes, and the list of running processes.
#pragma once
#include <string>

namespace sk::win {

// Deletes the file even when it is read-only. True when the file does not
// exist or was deleted; on failure its attributes are put back.
bool ForceDeleteFile(const std::string& path);

// As ForceDeleteFile, and also while a writer that allows deletion
// (FILE_SHARE_DELETE: a fetch left behind) still holds the file: it is moved
// to a name of its own beside it first, so that its name is free at once; its
// bytes go when that writer closes it.
bool DeleteFileFreeingItsName(const std::string& path);

// The locale's lower case of a text (for comparing executable names).
std::string LowerCase(const std::string& utf8);

// Whether two paths name the same file as Windows compares paths: ordinally,
// without regard to letter case. Empty paths name nothing.
bool SamePath(const std::string& a, const std::string& b);

struct ProcessEntry {
  unsigned long id = 0;
  std::string exeFile;  // the executable's file name as the snapshot lists it
  std::string path;     // the executable's full path; empty when it cannot be asked
};

// A walk over a snapshot of the running processes, in the snapshot's order,
// and the termination of one of them.
class IProcessList {
 public:
  virtual ~IProcessList() = default;
  // Takes the snapshot; false when none can be taken (nothing is walked).
  virtual bool Snapshot() = 0;
  virtual bool First(ProcessEntry& entry) = 0;
  virtual bool Next(ProcessEntry& entry) = 0;
  virtual void CloseSnapshot() = 0;
  // Opens the process with the terminate right only and ends it with exit code 0.
  virtual bool Terminate(unsigned long id) = 0;
};

// The system's process list through Tool Help. The entry points are looked up
// by name in kernel32.dll at first use; when they are missing the snapshot
// cannot be taken.
class ToolHelpProcessList : public IProcessList {
 public:
  ToolHelpProcessList() = default;
  ToolHelpProcessList(const ToolHelpProcessList&) = delete;
  ToolHelpProcessList& operator=(const ToolHelpProcessList&) = delete;
  ~ToolHelpProcessList() override { CloseSnapshot(); }
  bool Snapshot() override;
  bool First(ProcessEntry& entry) override;
  bool Next(ProcessEntry& entry) override;
  void CloseSnapshot() override;
  bool Terminate(unsigned long id) override;

 private:
  void* snapshot_ = nullptr;
};

}  // namespace sk::win
