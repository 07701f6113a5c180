#include <windows.h>

#include <algorithm>
#include <utility>

#include "win/WinFile.h"
#include "win/Utf.h"

namespace sk::win {
namespace {

[[noreturn]] void Fail(DWORD code) { throw FileError(FileErrorText(code), code); }

class WinFile : public IFile {
 public:
  WinFile(HANDLE h, std::wstring path) : h_(h), path_(std::move(path)) {}
  ~WinFile() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  HANDLE handle() const { return h_; }

  int64_t Position() override {
    LARGE_INTEGER zero{}, at{};
    if (!SetFilePointerEx(Handle(), zero, &at, FILE_CURRENT)) Fail(GetLastError());
    return at.QuadPart;
  }
  void Seek(int64_t position) override {
    LARGE_INTEGER to{};
    to.QuadPart = position;
    if (!SetFilePointerEx(Handle(), to, nullptr, FILE_BEGIN)) Fail(GetLastError());
  }
  int64_t Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(Handle(), &size)) Fail(GetLastError());
    return size.QuadPart;
  }
  size_t Read(void* buffer, size_t count) override {
    DWORD got = 0;
    if (!ReadFile(Handle(), buffer, static_cast<DWORD>(count), &got, nullptr)) Fail(GetLastError());
    return got;
  }
  size_t Write(const void* buffer, size_t count) override {
    DWORD done = 0;
    if (!WriteFile(Handle(), buffer, static_cast<DWORD>(count), &done, nullptr)) Fail(GetLastError());
    return done;
  }
  void Flush() override {
    if (!FlushFileBuffers(Handle())) Fail(GetLastError());
  }
  void SetSize(int64_t size) override {
    const int64_t at = Position();
    Seek(size);
    const BOOL ok = SetEndOfFile(Handle());
    const DWORD error = GetLastError();
    Seek(at);
    if (!ok) Fail(error);
  }
  void Close() override {
    HANDLE h = Handle();
    h_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(h)) Fail(GetLastError());
  }
  // The bytes a sector of the volume holding the file: asked of the file's
  // folder (a volume mounted in a folder answers for itself), else of the
  // volume's root; 0 when neither answers.
  int64_t SectorSize() override {
    auto ask = [](const std::wstring& folder) -> int64_t {
      DWORD perCluster = 0, bytes = 0, free = 0, total = 0;
      return GetDiskFreeSpaceW(folder.c_str(), &perCluster, &bytes, &free, &total) ? bytes : 0;
    };
    const size_t slash = path_.find_last_of(L"\\/");
    int64_t bytes = slash == std::wstring::npos ? 0 : ask(path_.substr(0, slash + 1));
    if (bytes == 0) {
      wchar_t root[MAX_PATH + 1] = {};
      if (GetVolumePathNameW(path_.c_str(), root, MAX_PATH + 1)) bytes = ask(root);
    }
    return bytes;
  }

 private:
  HANDLE Handle() const {
    if (h_ == INVALID_HANDLE_VALUE) Fail(ERROR_INVALID_HANDLE);
    return h_;
  }
  HANDLE h_;
  std::wstring path_;  // as opened
};

}  // namespace

std::wstring LongPath(const std::string& path) {
  std::wstring w = Widen(path);
  if (w.size() < MAX_PATH - 12 || w.rfind(L"\\\\?\\", 0) == 0) return w;
  const DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return w;
  std::wstring full(n, L'\0');
  const DWORD got = GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
  full.resize(got);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::unique_ptr<IFile> WinFileSystem::Open(const std::string& path, OpenMode mode) {
  DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::ReadShared: break;
    case OpenMode::CreateReadWrite:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
    case OpenMode::CreateNew:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = CREATE_NEW;
      break;
    case OpenMode::WriteExisting: access = GENERIC_WRITE; break;
    case OpenMode::ReadWriteExisting: access = GENERIC_READ | GENERIC_WRITE; break;
  }
  std::wstring wide = LongPath(path);
  HANDLE h = CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (mode == OpenMode::CreateNew && (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS))
      throw FileExistsError(FileErrorText(code), code);
    Fail(code);
  }
  return std::make_unique<WinFile>(h, std::move(wide));
}

bool WinFileSystem::IsSameFile(IFile& file, const std::string& path) {
  auto* open = dynamic_cast<WinFile*>(&file);
  if (!open) return false;
  // Nothing there (a copy's new destination, as a rule): a look at the
  // attributes says so without opening anything.
  if (GetFileAttributesW(LongPath(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return false;
  }
  // Asking for no access opens even a file that others hold without sharing.
  HANDLE other = CreateFileW(LongPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  const bool same = GetFileInformationByHandle(open->handle(), &a) && GetFileInformationByHandle(other, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                    a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(other);
  return same;
}

int64_t WinFileSystem::FileSizeByName(const std::string& path) { return win::FileSizeByName(path); }

void WinFileSystem::ReplaceContent(const std::string& path, const std::string& text) {
  const std::wstring target = LongPath(path);
  const std::wstring fresh = LongPath(path + ".new");
  HANDLE h = CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) Fail(GetLastError());
  DWORD error = 0;
  size_t done = 0;
  while (done < text.size() && error == 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
    DWORD wrote = 0;
    if (!WriteFile(h, text.data() + done, chunk, &wrote, nullptr))
      error = GetLastError();
    else if (wrote != chunk)
      error = ERROR_DISK_FULL;
    done += wrote;
  }
  if (error == 0 && !FlushFileBuffers(h)) error = GetLastError();
  if (!CloseHandle(h) && error == 0) error = GetLastError();
  if (error == 0 && !MoveFileExW(fresh.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = GetLastError();
  if (error != 0) {
    DeleteFileW(fresh.c_str());
    Fail(error);
  }
}

void WinFileSystem::RemoveFile(const std::string& path) {
  if (DeleteFileW(LongPath(path).c_str())) return;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
  Fail(error);
}

bool WinFileSystem::Present(const std::string& path) {
  return GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t FileSizeByName(const std::string& path) {
  if (path.empty()) return 0;
  std::wstring w = Widen(path);
  const DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n != 0) {
    std::wstring full(n, L'\0');
    full.resize(GetFullPathNameW(w.c_str(), n, full.data(), nullptr));
    w = LongPath(Narrow(full));
  }
  // A name without wildcards is looked at directly: a folder search for it
  // costs, where it is missing, a read of the whole folder under Wine.
  if (path.find_first_of("*?") == std::string::npos) {
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(w.c_str(), GetFileExInfoStandard, &attributes)) return 0;
    return (static_cast<int64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
  }
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(w.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  FindClose(find);
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

double WinClock::Now() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  // FILETIME counts 100 ns from 1601-01-01; the date-time counts days from 1899-12-30.
  constexpr double kDaysFrom1601To1899 = 109205.0;
  return static_cast<double>(ticks) / 864000000000.0 - kDaysFrom1601To1899;
}

bool WinClock::CounterFrequency(int64_t& frequency) {
  LARGE_INTEGER f{};
  if (!QueryPerformanceFrequency(&f) || f.QuadPart <= 0) return false;
  frequency = f.QuadPart;
  return true;
}

int64_t WinClock::Counter() {
  LARGE_INTEGER c{};
  QueryPerformanceCounter(&c);
  return c.QuadPart;
}

int64_t WinClock::Milliseconds() { return static_cast<int64_t>(GetTickCount64()); }

}  // namespace sk::win
