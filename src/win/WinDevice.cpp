#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "win/WinDevice.h"
#include "core/DiscToc.h"
#include "win/Utf.h"

namespace sk::win {
namespace {

[[noreturn]] void Fail(DWORD code) { throw FileError(FileErrorText(code), code); }

// The table of contents of a CD as IOCTL_CDROM_READ_TOC gives it (MSF
// addresses), declared here: not every set of headers has it.
constexpr DWORD kReadToc = CTL_CODE(0x00000002 /* FILE_DEVICE_CD_ROM */, 0x0000, METHOD_BUFFERED, FILE_READ_ACCESS);
#pragma pack(push, 1)
struct TocTrack {
  UCHAR reserved;
  UCHAR controlAdr;
  UCHAR trackNumber;
  UCHAR reserved1;
  UCHAR address[4];  // 0, minute, second, frame
};
struct Toc {
  UCHAR length[2];
  UCHAR firstTrack;
  UCHAR lastTrack;
  TocTrack tracks[100];
};
#pragma pack(pop)

// The table of contents in its other forms (declared here for the same
// reason): the request of IOCTL_CDROM_READ_TOC_EX (byte 0: the format in bits
// 0-3, MSF addresses in bit 7; byte 1: the session or track asked from), and
// the last session's first track (IOCTL_CDROM_GET_LAST_SESSION, MSF).
constexpr DWORD kReadTocEx = CTL_CODE(0x00000002, 0x0015, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD kGetLastSession = CTL_CODE(0x00000002, 0x000E, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr UCHAR kFormatToc = 0x00, kFormatSession = 0x01, kFormatFullToc = 0x02, kMsf = 0x80;

DeviceReadObserver& Observer() {
  static DeviceReadObserver observer;
  return observer;
}

// The one place a device is read: whole sectors into an aligned buffer.
bool RawRead(HANDLE h, int64_t offset, uint32_t length, void* buffer, uint32_t sector, DWORD& got) {
  if (Observer()) Observer()(offset, length, buffer, sector);
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  got = 0;
  return ReadFile(h, buffer, length, &got, &at) != FALSE;
}

// The disc's length: the drive's own answer, else the lead-out of its table
// of contents, else the handle's size (a drive that Wine maps to an image
// file answers only that).
int64_t DiscLength(HANDLE h) {
  DWORD bytes = 0;
  GET_LENGTH_INFORMATION length{};
  if (DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &bytes, nullptr) &&
      length.Length.QuadPart > 0)
    return length.Length.QuadPart;
  Toc toc{};
  if (DeviceIoControl(h, kReadToc, nullptr, 0, &toc, sizeof toc, &bytes, nullptr) && toc.lastTrack >= toc.firstTrack &&
      toc.lastTrack - toc.firstTrack + 1 < 100) {
    const TocTrack& leadOut = toc.tracks[toc.lastTrack - toc.firstTrack + 1];
    const int64_t lba = (leadOut.address[1] * 60 + leadOut.address[2]) * 75 + leadOut.address[3] - 150;
    if (lba > 0) return lba * 2048;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h, &size)) Fail(GetLastError());
  return size.QuadPart;
}

uint32_t SectorSizeOf(HANDLE h) {
  DWORD bytes = 0;
  DISK_GEOMETRY geometry{};
  if (DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &bytes, nullptr)) {
    const DWORD s = geometry.BytesPerSector;
    if (s >= 512 && s <= 65536 && (s & (s - 1)) == 0) return s;
  }
  return 2048;
}

class DeviceFile : public IFile {
 public:
  DeviceFile(HANDLE h, int64_t size, uint32_t sector) : h_(h), size_(size), sector_(sector) {}
  ~DeviceFile() override {
    if (buffer_) VirtualFree(buffer_, 0, MEM_RELEASE);
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }

  int64_t Position() override { return Handle(), pos_; }
  void Seek(int64_t position) override {
    Handle();
    if (position < 0) Fail(ERROR_NEGATIVE_SEEK);
    pos_ = position;
  }
  int64_t Size() override { return Handle(), size_; }

  size_t Read(void* out, size_t count) override {
    HANDLE h = Handle();
    if (pos_ >= size_ || count == 0) return 0;
    count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - pos_));
    size_t done = 0;
    while (done < count) {
      const int64_t from = pos_ / sector_ * sector_;
      const int64_t want = std::min<int64_t>(pos_ + static_cast<int64_t>(count - done), from + kChunk);
      const uint32_t length = static_cast<uint32_t>((want - from + sector_ - 1) / sector_ * sector_);
      DWORD got = 0;
      if (!RawRead(h, from, length, Buffer(), sector_, got)) {
        const DWORD error = GetLastError();
        if (done > 0) break;  // what was read is given; the next read meets the failure
        Fail(error);
      }
      const int64_t skip = pos_ - from;
      if (static_cast<int64_t>(got) <= skip) break;  // the end of the disc
      const size_t take = static_cast<size_t>(std::min<int64_t>(got - skip, want - pos_));
      std::memcpy(static_cast<char*>(out) + done, static_cast<char*>(buffer_) + skip, take);
      done += take;
      pos_ += static_cast<int64_t>(take);
      if (got < length) break;
    }
    return done;
  }
  size_t Write(const void*, size_t) override { Fail(ERROR_ACCESS_DENIED); }
  int64_t SectorSize() override { return Handle(), sector_; }
  void Close() override {
    HANDLE h = Handle();
    h_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(h)) Fail(GetLastError());
  }

 private:
  static constexpr int64_t kChunk = 1 << 20;  // the most one device read takes
  HANDLE Handle() const {
    if (h_ == INVALID_HANDLE_VALUE) Fail(ERROR_INVALID_HANDLE);
    return h_;
  }
  void* Buffer() {
    // Page-aligned, a sector beyond the largest read.
    if (!buffer_) buffer_ = VirtualAlloc(nullptr, kChunk + 65536, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!buffer_) Fail(GetLastError());
    return buffer_;
  }
  HANDLE h_;
  int64_t size_;
  uint32_t sector_;
  int64_t pos_ = 0;
  void* buffer_ = nullptr;
};

// No "insert a disc" box from the system while a drive is asked.
class QuietErrors {
 public:
  QuietErrors() : old_(SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}
  ~QuietErrors() { SetErrorMode(old_); }

 private:
  UINT old_;
};

}  // namespace

std::string DiscDrive::Caption() const {
  std::string text = std::string(1, letter) + ":";
  if (!hasDisc) return text + " (brak płyty)";
  return label.empty() ? text : text + " (" + label + ")";
}

std::string DiscDrive::DevicePath() const { return std::string("\\\\.\\") + letter + ":"; }

std::vector<DiscDrive> ListDiscDrives() {
  QuietErrors quiet;
  std::vector<DiscDrive> drives;
  const DWORD mask = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(mask & (1u << i))) continue;
    const wchar_t root[] = {static_cast<wchar_t>(L'A' + i), L':', L'\\', 0};
    if (GetDriveTypeW(root) != DRIVE_CDROM) continue;
    DiscDrive drive;
    drive.letter = static_cast<char>('A' + i);
    wchar_t label[MAX_PATH + 1] = {};
    if (GetVolumeInformationW(root, label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0)) {
      drive.hasDisc = true;
      drive.label = Narrow(label);
    } else {
      // A disc the system cannot mount (a damaged directory area, or Wine's
      // image drive) is still there for a device read.
      drive.hasDisc = DiscPresent(drive.DevicePath());
    }
    drives.push_back(std::move(drive));
  }
  return drives;
}

bool IsDevicePath(const std::string& path) {
  return path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && std::isalpha(static_cast<unsigned char>(path[4])) &&
         path[5] == ':';
}

char DriveLetterOf(const std::string& path) {
  std::string p = path;
  if (p.compare(0, 4, "\\\\.\\") == 0 || p.compare(0, 4, "\\\\?\\") == 0) p = p.substr(4);
  if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0])))
    return static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])));
  return 0;
}

void SetDeviceReadObserver(DeviceReadObserver observer) { Observer() = std::move(observer); }

std::unique_ptr<IFile> OpenDevice(const std::string& devicePath) {
  QuietErrors quiet;
  HANDLE h = CreateFileW(Widen(devicePath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
  if (h == INVALID_HANDLE_VALUE) Fail(GetLastError());
  try {
    const int64_t size = DiscLength(h);
    return std::make_unique<DeviceFile>(h, size, SectorSizeOf(h));
  } catch (...) {
    CloseHandle(h);
    throw;
  }
}

std::unique_ptr<IFile> DeviceFileSystem::Open(const std::string& path, OpenMode mode) {
  if (!IsDevicePath(path)) return WinFileSystem::Open(path, mode);
  if (mode != OpenMode::ReadShared) Fail(ERROR_ACCESS_DENIED);
  return OpenDevice(path);
}

bool DeviceFileSystem::Present(const std::string& path) {
  return IsDevicePath(path) ? DiscPresent(path) : WinFileSystem::Present(path);
}

namespace {

// The drive's answer to a table-of-contents request, as many bytes as it gave.
std::vector<unsigned char> AskToc(HANDLE h, DWORD code, const UCHAR* request, DWORD requestSize) {
  std::vector<unsigned char> answer(16 * 1024);
  DWORD bytes = 0;
  if (!DeviceIoControl(h, code, const_cast<UCHAR*>(request), requestSize, answer.data(),
                       static_cast<DWORD>(answer.size()), &bytes, nullptr))
    bytes = 0;
  answer.resize(bytes);
  return answer;
}

}  // namespace

std::optional<DiscLayout> ReadDriveLayout(const std::string& devicePath) {
  QuietErrors quiet;
  HANDLE h = CreateFileW(Widen(devicePath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  const UCHAR full[4] = {kFormatFullToc | kMsf, 1, 0, 0};
  std::vector<unsigned char> answer = AskToc(h, kReadTocEx, full, sizeof full);
  std::optional<DiscLayout> layout = LayoutFromFullToc(answer.data(), answer.size());
  if (!layout) {
    const UCHAR toc[4] = {kFormatToc, 1, 0, 0}, session[4] = {kFormatSession, 0, 0, 0};
    answer = AskToc(h, kReadTocEx, toc, sizeof toc);
    std::vector<unsigned char> last = AskToc(h, kReadTocEx, session, sizeof session);
    layout = LayoutFromToc(answer.data(), answer.size(), last.data(), last.size(), false);
    if (!layout) {
      answer = AskToc(h, kReadToc, nullptr, 0);
      last = AskToc(h, kGetLastSession, nullptr, 0);
      layout = LayoutFromToc(answer.data(), answer.size(), last.data(), last.size(), true);
    }
  }
  CloseHandle(h);
  return layout;
}

bool DiscPresent(const std::string& path) {
  QuietErrors quiet;
  HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD bytes = 0;
  bool present;
  if (DeviceIoControl(h, IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, nullptr, 0, &bytes, nullptr)) {
    present = true;
  } else {
    const DWORD error = GetLastError();
    // A drive that cannot say (Wine's image drive): whether its size can be read.
    LARGE_INTEGER size{};
    present = error != ERROR_NOT_READY && error != ERROR_NO_MEDIA_IN_DRIVE && GetFileSizeEx(h, &size);
  }
  CloseHandle(h);
  return present;
}

}  // namespace sk::win
