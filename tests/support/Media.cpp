#include <windows.h>
#include <winioctl.h>
#include "support/Media.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "support/UiTest.h"
#include "win/Utf.h"

namespace sk::test {

namespace {

uint64_t Mix(uint64_t z) {
  z ^= z >> 30;
  z *= 0xBF58476D1CE4E5B9ULL;
  z ^= z >> 27;
  z *= 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return z;
}

}  // namespace

uint8_t MediaByte(uint64_t salt, uint64_t i) {
  const uint64_t w = Mix((i / 8) * 0x9E3779B97F4A7C15ULL + salt);
  return static_cast<uint8_t>(w >> (8 * (i % 8)));
}

std::string MediaBytes(uint64_t salt, uint64_t offset, size_t count) {
  std::string s(count, '\0');
  for (size_t k = 0; k < count; ++k) s[k] = static_cast<char>(MediaByte(salt, offset + k));
  return s;
}

std::string VirtualFile::Name() const {
  std::string n = "size=" + std::to_string(size);
  if (salt) n += ",salt=" + std::to_string(salt);
  for (const auto& [first, last] : bad) n += ",bad=" + std::to_string(first) + "-" + std::to_string(last);
  for (const Every& e : every) {
    n += ",badevery=" + std::to_string(e.stride) + "-" + std::to_string(e.length);
    if (e.from || e.count) n += "-" + std::to_string(e.from);
    if (e.count) n += "-" + std::to_string(e.count);
  }
  if (sector) n += ",sector=" + std::to_string(sector);
  if (slowMs) n += ",slow=" + std::to_string(slowMs);
  if (stallMs) n += ",stall=" + std::to_string(stallMs);
  if (!id.empty()) n += ",id=" + id;
  if (!from.empty()) n += ",from=" + from;
  return n + ext;
}

std::string VirtualFile::Bytes(uint64_t offset, size_t count) const {
  if (offset >= size) return {};
  return MediaBytes(salt, offset, static_cast<size_t>(std::min<uint64_t>(count, size - offset)));
}

uint64_t VirtualFile::FirstBad() const {
  uint64_t first = size;
  for (const auto& r : bad) first = std::min(first, r.first);
  for (const Every& e : every) first = std::min(first, e.from);
  return first;
}

bool VirtualFile::IsBad(uint64_t i) const {
  for (const auto& [first, last] : bad)
    if (i >= first && i <= last) return true;
  for (const Every& e : every)
    if (i >= e.from && (i - e.from) % e.stride < e.length && (!e.count || (i - e.from) / e.stride < e.count))
      return true;
  return false;
}

bool VirtualFile::ReadFails(uint64_t offset, uint64_t count) const {
  if (count == 0 || offset >= size) return false;
  uint64_t first = offset, last = std::min(offset + count, size) - 1;
  if (sector) {
    first -= first % sector;
    last = std::min(last - last % sector + sector, size) - 1;
  }
  for (const auto& r : BadRanges())
    if (r.first <= last && r.second >= first) return true;
  return false;
}

std::vector<std::pair<uint64_t, uint64_t>> VirtualFile::BadRanges() const {
  std::vector<std::pair<uint64_t, uint64_t>> all;
  for (const auto& [first, last] : bad)
    if (first < size) all.emplace_back(first, std::min(last, size - 1));
  for (const Every& e : every)
    for (uint64_t k = 0, at = e.from; at < size && (!e.count || k < e.count); ++k, at += e.stride)
      all.emplace_back(at, std::min(at + e.length, size) - 1);
  std::sort(all.begin(), all.end());
  std::vector<std::pair<uint64_t, uint64_t>> merged;
  for (const auto& r : all) {
    if (!merged.empty() && r.first <= merged.back().second + 1)
      merged.back().second = std::max(merged.back().second, r.second);
    else
      merged.push_back(r);
  }
  return merged;
}

std::string ReadAt(HANDLE h, uint64_t offset, DWORD count, DWORD* error) {
  LARGE_INTEGER pos;
  pos.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(h, pos, nullptr, FILE_BEGIN)) throw std::runtime_error("SetFilePointerEx failed");
  std::string buf(count, '\0');
  DWORD got = 0;
  *error = ::ReadFile(h, buf.data(), count, &got, nullptr) ? 0 : GetLastError();
  buf.resize(*error ? 0 : got);
  return buf;
}

Media::Media() {
  const char* mount = std::getenv("SEKTORIAN_MEDIA");
  if (!mount || !*mount)
    throw std::runtime_error(
        "badmedia: SEKTORIAN_MEDIA is not set; run these tests through ctest (which mounts the fixture) "
        "or mount it with tests/fuse/badmedia.sh up and set SEKTORIAN_MEDIA to the mount point");
  std::string unix = mount;
  if (unix.back() != '/') unix += '/';
  root_ = "Z:" + unix;
  std::replace(root_.begin(), root_.end(), '/', '\\');
  if (GetFileAttributesW(win::Widen(root_ + "ctl\\budget").c_str()) == INVALID_FILE_ATTRIBUTES)
    throw std::runtime_error("badmedia: the fixture is not mounted at " + unix + " (" + root_ +
                             "ctl\\budget is missing); the test \"media_mount\" mounts it");
  PutIn();
  StopTrace();
  ClearOpenLog();
  ClearFails();
  Unheal();
  ClearBudget();
  EmptyDisk();
}

Media::~Media() {
  try {
    PutIn();
    StopTrace();
    EmptyDisk();
    ClearBudget();
    Unheal();
  } catch (...) {
  }
}

std::string Media::Control(const char* name) const { return ReadFile(root_ + "ctl\\" + name); }

void Media::SetControl(const char* name, const std::string& text, bool truncate) const {
  const std::string path = root_ + "ctl\\" + name;
  HANDLE h = CreateFileW(win::Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         truncate ? TRUNCATE_EXISTING : OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("badmedia: cannot open " + path);
  DWORD done = 0;
  const bool ok = text.empty() || (::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
                                   done == text.size());
  CloseHandle(h);
  if (!ok) throw std::runtime_error("badmedia: cannot write \"" + text + "\" to " + path);
}

std::string Media::MakeFolder(const std::string& folder, const std::vector<VirtualFile>& files) const {
  std::string path = Disc();
  std::stringstream parts(folder);
  for (std::string part; std::getline(parts, part, '\\');) {
    if (part.empty()) continue;
    path += part + "\\";
    if (!CreateDirectoryW(win::Widen(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      throw std::runtime_error("badmedia: cannot make the virtual folder " + path);
  }
  for (const auto& f : files) {
    HANDLE h = CreateFileW(win::Widen(path + f.Name()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("badmedia: cannot make the virtual file " + path + f.Name());
    CloseHandle(h);
  }
  return path;
}

void Media::MakeLink(const std::string& link, const std::string& target) const {
  std::string path = "/v/" + link;
  for (char& c : path)
    if (c == '\\') c = '/';
  SetControl("link", path + " " + target + "\n", false);
}

void Media::Heal(const VirtualFile& f) const { SetControl("heal", f.Name() + "\n", false); }
void Media::HealAll() const { SetControl("heal", "*\n", false); }
void Media::Unheal() const { SetControl("heal", "", true); }

void Media::SetBudget(uint64_t bytes) const { SetControl("budget", std::to_string(bytes) + "\n", true); }
void Media::ClearBudget() const { SetControl("budget", "unlimited\n", true); }

int64_t Media::Budget() const {
  const std::string text = Control("budget");
  return text.rfind("unlimited", 0) == 0 ? -1 : std::stoll(text);
}

uint64_t Media::Fails() const { return std::stoull(Control("fails")); }
void Media::ClearFails() const { SetControl("fails", "", true); }

void Media::TakeOut(uint64_t afterReads) const {
  SetControl("medium", afterReads ? "out " + std::to_string(afterReads) + "\n" : "out\n", false);
}
void Media::PutIn() const { SetControl("medium", "in\n", false); }
std::string Media::MediumState() const {
  std::string s = Control("medium");
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

void Media::StartTrace() const { SetControl("trace", "", true); }
void Media::StopTrace() const { SetControl("trace", "off\n", false); }

std::vector<TraceRecord> Media::Trace() const {
  std::vector<TraceRecord> out;
  std::stringstream lines(Control("trace"));
  for (std::string line; std::getline(lines, line);) {
    std::stringstream in(line);
    TraceRecord r;
    in >> r.seq >> r.result >> r.offset >> r.size;
    std::getline(in >> std::ws, r.path);
    out.push_back(r);
  }
  return out;
}

std::string Media::OpenLogText() const { return Control("log"); }

std::vector<OpenRecord> Media::OpenLog() const {
  std::vector<OpenRecord> out;
  std::stringstream lines(OpenLogText());
  for (std::string line; std::getline(lines, line);) {
    std::stringstream in(line);
    OpenRecord r;
    std::string access;
    in >> r.op >> access >> r.result;
    std::getline(in >> std::ws, r.path);
    const std::string mode = access.substr(0, access.find('+'));
    r.read = mode == "r" || mode == "rw";
    r.write = mode == "w" || mode == "rw";
    r.trunc = access.find("+trunc") != std::string::npos;
    r.ok = r.result == "ok";
    out.push_back(r);
  }
  return out;
}

void Media::ClearOpenLog() const { SetControl("log", "", true); }

bool Media::OpenedForWriting(const std::string& path) const {
  for (const auto& r : OpenLog())
    if (r.path == path && r.write) return true;
  return false;
}

void Media::EmptyDisk() const {
  WIN32_FIND_DATAW fd;
  const std::string disk = Disk();
  HANDLE find = FindFirstFileW(win::Widen(disk + "*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return;
  std::wstring from;  // double-NUL-terminated list for SHFileOperation
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    from += win::Widen(disk) + name;
    from.push_back(L'\0');
  } while (FindNextFileW(find, &fd));
  FindClose(find);
  if (from.empty()) return;
  from.push_back(L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  if (SHFileOperationW(&op) != 0) throw std::runtime_error("badmedia: cannot empty " + disk);
}

int Media::RunUnix(const std::string& command) const {
  const std::string done = std::getenv("SEKTORIAN_MEDIA") + std::string("/w/done"), doneHere = Disk() + "done";
  DeleteFileW(win::Widen(doneHere).c_str());
  std::wstring line = L"/bin/sh -c \"(" + win::Widen(command) + L"); echo $? >" + win::Widen(done) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  auto ended = [&] { return FileExists(doneHere) && ReadFile(doneHere).ends_with("\n"); };
  if (!PumpUntil(ended, 60000)) return -1;
  return std::atoi(ReadFile(doneHere).c_str());
}

namespace {

struct MountRequest {
  ULONG size, type, fsType;
  DWORD serial;
  ULONGLONG unixDev;
  WCHAR letter;
  USHORT mountPointOffset, deviceOffset, labelOffset;
};
constexpr DWORD kDefineDrive = CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr DWORD kQueryDrive = CTL_CODE(0x6D, 33, METHOD_BUFFERED, FILE_READ_ACCESS);

// The mount manager's answer to `code`, `in` its request.
bool AskMountManager(DWORD code, std::vector<char>& in, DWORD inSize, DWORD outSize) {
  HANDLE m = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD got = 0;
  const bool ok = m != INVALID_HANDLE_VALUE &&
                  DeviceIoControl(m, code, in.data(), inSize, outSize ? in.data() : nullptr, outSize, &got, nullptr);
  if (m != INVALID_HANDLE_VALUE) CloseHandle(m);
  return ok;
}

}  // namespace

CdDrive::CdDrive(const Media& media, char letter)
    : media_(media), letter_(static_cast<wchar_t>(std::tolower(static_cast<unsigned char>(letter)))) {
  char link[32];
  std::snprintf(link, sizeof link, "/tmp/sk-cd-%c%07lu", static_cast<char>(letter_),
                GetCurrentProcessId() % 10000000UL);
  if (media_.RunUnix("ln -sfn '" + std::string(std::getenv("SEKTORIAN_MEDIA")) + "' " + link) != 0)
    throw std::runtime_error(std::string("badmedia: cannot make the link ") + link);
  link_ = link;
  CreateDirectoryW(win::Widen(media_.Disk() + "drive").c_str(), nullptr);
  had_ = Query(oldType_, oldFolder_, oldDevice_);
}

CdDrive::~CdDrive() {
  if (had_) Define(oldType_, oldFolder_, oldDevice_);
  else Define(DRIVE_UNKNOWN, "", "");
  media_.RunUnix("rm -f " + link_);
}

bool CdDrive::Insert(const VirtualFile& disc) const {
  return Define(DRIVE_CDROM, link_ + "/w/drive", link_ + "/v/" + disc.Name());
}

bool CdDrive::Define(ULONG type, const std::string& folder, const std::string& device) const {
  std::vector<char> buffer(sizeof(MountRequest) + folder.size() + device.size() + 2, 0);
  auto* r = reinterpret_cast<MountRequest*>(buffer.data());
  r->type = type;
  r->letter = letter_;
  size_t at = sizeof(MountRequest);
  for (auto [text, offset] : {std::pair{&folder, &r->mountPointOffset}, std::pair{&device, &r->deviceOffset}})
    if (!text->empty()) {
      std::memcpy(buffer.data() + at, text->c_str(), text->size() + 1);
      *offset = static_cast<USHORT>(at);
      at += text->size() + 1;
    }
  r->size = static_cast<ULONG>(at);
  return AskMountManager(kDefineDrive, buffer, static_cast<DWORD>(at), 0);
}

bool CdDrive::Query(ULONG& type, std::string& folder, std::string& device) const {
  std::vector<char> buffer(4096, 0);
  auto* r = reinterpret_cast<MountRequest*>(buffer.data());
  r->letter = letter_;
  if (!AskMountManager(kQueryDrive, buffer, sizeof(MountRequest), 4095)) return false;
  type = r->type;
  if (r->mountPointOffset) folder = buffer.data() + r->mountPointOffset;
  if (r->deviceOffset) device = buffer.data() + r->deviceOffset;
  return true;
}

}  // namespace sk::test
