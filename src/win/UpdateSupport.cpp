#include <windows.h>
#include "win/UpdateSupport.h"

#include <tlhelp32.h>

#include <string>

#include "win/ProcAddress.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::win {

bool ForceDeleteFile(const std::string& path) {
  const std::wstring p = LongPath(path);
  const DWORD attributes = GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(p.c_str())) return true;
  SetFileAttributesW(p.c_str(), attributes);
  return false;
}

bool DeleteFileFreeingItsName(const std::string& path) {
  if (GetFileAttributesW(LongPath(path).c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  // Moved first: a file marked for deletion can no longer be moved.
  static unsigned counter = 0;
  const std::string aside = path + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) +
                            ".deleted";
  if (MoveFileExW(LongPath(path).c_str(), LongPath(aside).c_str(), 0)) return ForceDeleteFile(aside);
  return ForceDeleteFile(path);
}

std::string LowerCase(const std::string& utf8) {
  std::wstring w = Widen(utf8);
  if (!w.empty()) CharLowerBuffW(w.data(), static_cast<DWORD>(w.size()));
  return Narrow(w);
}

bool SamePath(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  const std::wstring wa = Widen(a), wb = Widen(b);
  return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()),
                              TRUE) == CSTR_EQUAL;
}

namespace {

// The full path of a process's executable; empty when it cannot be asked.
std::string ImagePath(DWORD id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (!process) return {};
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  const bool ok = QueryFullProcessImageNameW(process, 0, path.data(), &size) != FALSE;
  CloseHandle(process);
  if (!ok) return {};
  path.resize(size);
  return Narrow(path);
}

using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using WalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);

struct ToolHelp {
  CreateSnapshotFn createSnapshot = nullptr;
  WalkFn first = nullptr;
  WalkFn next = nullptr;
};

const ToolHelp& Entries() {
  static const ToolHelp entries = [] {
    ToolHelp t;
    if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
      t.createSnapshot = ProcAddress<CreateSnapshotFn>(kernel, "CreateToolhelp32Snapshot");
      t.first = ProcAddress<WalkFn>(kernel, "Process32FirstW");
      t.next = ProcAddress<WalkFn>(kernel, "Process32NextW");
    }
    return t;
  }();
  return entries;
}

bool Walk(WalkFn fn, void* snapshot, ProcessEntry& entry) {
  if (!fn || !snapshot) return false;
  PROCESSENTRY32W record{};
  record.dwSize = sizeof record;
  if (!fn(snapshot, &record)) return false;
  entry.id = record.th32ProcessID;
  record.szExeFile[MAX_PATH - 1] = L'\0';
  entry.exeFile = Narrow(record.szExeFile);
  entry.path = ImagePath(record.th32ProcessID);
  return true;
}

}  // namespace

bool ToolHelpProcessList::Snapshot() {
  CloseSnapshot();
  const ToolHelp& t = Entries();
  if (!t.createSnapshot || !t.first || !t.next) return false;
  HANDLE h = t.createSnapshot(TH32CS_SNAPPROCESS, 0);
  if (h == INVALID_HANDLE_VALUE) return false;
  snapshot_ = h;
  return true;
}

bool ToolHelpProcessList::First(ProcessEntry& entry) { return Walk(Entries().first, snapshot_, entry); }
bool ToolHelpProcessList::Next(ProcessEntry& entry) { return Walk(Entries().next, snapshot_, entry); }

void ToolHelpProcessList::CloseSnapshot() {
  if (snapshot_) CloseHandle(snapshot_);
  snapshot_ = nullptr;
}

bool ToolHelpProcessList::Terminate(unsigned long id) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
  if (!process) return false;
  const bool ok = TerminateProcess(process, 0) != FALSE;
  CloseHandle(process);
  return ok;
}

}  // namespace sk::win
