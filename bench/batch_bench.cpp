// What a file of a large batch costs. Through the real main window (the
// settings dialog at level 4 with the size check, the folder added as
// "Dodaj pliki z wpisanej ścieżki" adds it, a new destination folder,
// "Rozpocznij"), it copies 1,000 and 10,000 files of 1 KiB, of two kinds:
//   camera  DCIM\100CANON ... 109CANON, the same names IMG_0001.JPG ... in
//           each folder (nine of every ten files saved as "name (n).JPG");
//   unique  the same folders, every name different;
//   rescue  the unique files copied in rescue mode;
//   resume  the unique files as "Resumak" pairs (added to its list, then
//           "Rozpocznij"), each destination holding all but the last 24
//           bytes.
// A bare loop making the least file calls a copy needs (open the source,
// create the destination new, one read and one write, close both, read both
// sizes by name) into a new folder is timed in the same run: what the disk
// and Wine cost. Under Wine, creating a file looks for its name through the
// whole folder (names compare without case there, not on Linux), so that
// cost grows with the files already in the destination folder.
//
//   batch_bench.exe [ROUNDS [KIND [COUNT]]]
//
// ROUNDS: default 1, the best round of each counts; KIND and COUNT run one
// kind (camera, unique) or one case alone.
//
// Prints for each kind and count: the listing time, the copy time, the cost
// of a file of each, the bare loop's cost of a file and the program's own
// (the copy's less the bare loop's), and then the ratios of the cost of a
// file, 10,000 against 1,000.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "core/CopyRun.h"
#include "core/LevelCopy.h"
#include "core/Rescue.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace {

using sk::bench::Seconds;

constexpr int kFolders = 10;
constexpr size_t kFileSize = 1024;

void MakeFile(const std::string& path, const std::vector<char>& bytes) {
  HANDLE h = CreateFileW(sk::win::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD wrote = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
  CloseHandle(h);
}

// Deletes the folder with every file in it (one level: the destinations).
void RemoveFolder(const std::string& folder) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(sk::win::Widen(folder + "\\*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileW((sk::win::Widen(folder + "\\") + found.cFileName).c_str());
    } while (FindNextFileW(h, &found));
    FindClose(h);
  }
  RemoveDirectoryW(sk::win::Widen(folder).c_str());
}

std::string Number(int n, int width) {
  std::string s = std::to_string(n);
  return std::string(width > static_cast<int>(s.size()) ? width - s.size() : 0, '0') + s;
}

// The source tree of `count` files of one kind under `root`; returns the files.
std::vector<std::string> MakeTree(const std::string& root, size_t count, bool sameNames) {
  std::vector<char> bytes(kFileSize);
  uint32_t x = 12345;
  for (auto& c : bytes) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  std::vector<std::string> files;
  CreateDirectoryW(sk::win::Widen(root).c_str(), nullptr);
  CreateDirectoryW(sk::win::Widen(root + "\\DCIM").c_str(), nullptr);
  const size_t perFolder = count / kFolders;
  for (int f = 0; f < kFolders; ++f) {
    const std::string folder = root + "\\DCIM\\" + std::to_string(100 + f) + "CANON";
    CreateDirectoryW(sk::win::Widen(folder).c_str(), nullptr);
    for (size_t i = 0; i < perFolder; ++i) {
      const size_t n = sameNames ? i + 1 : f * perFolder + i + 1;
      files.push_back(folder + "\\IMG_" + Number(static_cast<int>(n), sameNames ? 4 : 5) + ".JPG");
      MakeFile(files.back(), bytes);
    }
  }
  return files;
}

void RemoveTree(const std::string& root) {
  for (int f = 0; f < kFolders; ++f) RemoveFolder(root + "\\DCIM\\" + std::to_string(100 + f) + "CANON");
  RemoveDirectoryW(sk::win::Widen(root + "\\DCIM").c_str());
  RemoveDirectoryW(sk::win::Widen(root).c_str());
}

enum class Mode { kCopy, kRescue, kResume };

// The destinations of a resume: every source's bytes but the last 24.
void MakeResumeDestinations(const std::vector<std::string>& sources, const std::string& folder) {
  CreateDirectoryW(sk::win::Widen(folder).c_str(), nullptr);
  std::vector<char> bytes(kFileSize - 24);
  for (const auto& s : sources) {
    HANDLE h = CreateFileW(sk::win::Widen(s).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(h);
    MakeFile(sk::DestinationPath(folder, s), bytes);
  }
}

// The file calls a resume cannot do without: both files opened, the map
// beside the destination looked for, the rest appended a byte at a time.
double BareResume(const std::vector<std::string>& sources, const std::string& folder) {
  const double t0 = Seconds();
  sk::win::WinFileSystem files;
  for (const auto& s : sources) {
    const std::string target = sk::DestinationPath(folder, s);
    auto in = files.Open(s, sk::OpenMode::ReadShared);
    GetFileAttributesW(sk::win::Widen(sk::MapPathFor(target)).c_str());
    auto out = files.Open(target, sk::OpenMode::WriteExisting);
    const int64_t start = out->Size();
    in->Seek(start);
    out->Seek(start);
    unsigned char byte = 0;
    while (in->Position() < in->Size()) {
      in->Read(&byte, 1);
      out->Write(&byte, 1);
      out->Size();
    }
    in->Close();
    out->Close();
  }
  return Seconds() - t0;
}

// The file calls a copy cannot do without, every file into `folder` under
// the name a run gives it (computed before the timing: the baseline holds no
// search for a free name).
double Bare(const std::vector<std::string>& sources, const std::string& folder) {
  std::vector<std::string> targets;
  std::map<std::string, int> times;
  for (const auto& s : sources) {
    const std::string name = sk::DestinationPath(folder, s);
    const int n = ++times[name];
    targets.push_back(n == 1 ? name : sk::NumberedName(name, n));
  }
  const double t0 = Seconds();
  CreateDirectoryW(sk::win::Widen(folder).c_str(), nullptr);
  sk::win::WinFileSystem files;
  std::vector<unsigned char> buffer(sk::BlockSize(4));
  for (size_t i = 0; i < sources.size(); ++i) {
    sk::win::FileSizeByName(sources[i]);
    auto in = files.Open(sources[i], sk::OpenMode::ReadShared);
    auto out = files.Open(targets[i], sk::OpenMode::CreateNew);
    while (in->Position() < in->Size()) {
      const size_t n = in->Read(buffer.data(), buffer.size());
      out->Write(buffer.data(), n);
      out->Size();
    }
    in->Size();
    out->Size();
    in->Close();
    out->Close();
    sk::win::FileSizeByName(targets[i]);
  }
  return Seconds() - t0;
}

struct Result {
  double list = 1e9, copy = 1e9, bare = 1e9;
};

std::vector<std::string> g_reports;
void Collect(const std::string& text) { g_reports.push_back(text); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 1;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  sk::ui::SetErrorSink(Collect);
  sk::ui::StartUp();
  sk::ui::TForm1& form = *sk::ui::App().form1;
  sk::ui::TForm2& settings = *sk::ui::App().form2;
  ShowWindow(form.hwnd(), SW_SHOWNORMAL);
  UpdateWindow(form.hwnd());
  settings.SetLevel(4);
  settings.SetRescueMode(false);
  settings.SetActionIndex(0);  // "Nic nie rób"
  settings.SetSizeCheck(true);

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::string dir = sk::win::Narrow(temp) + "sk_batch_bench_" + std::to_string(GetCurrentProcessId());
  CreateDirectoryW(sk::win::Widen(dir).c_str(), nullptr);
  const std::string out = dir + "\\wynik";

  sk::ui::TForm3& resumak = *sk::ui::App().form3;
  struct Case {
    const char* kind;
    bool sameNames;
    Mode mode;
    size_t count;
    Result best;
  };
  Case cases[] = {{"camera", true, Mode::kCopy, 1000, {}},    {"camera", true, Mode::kCopy, 10000, {}},
                  {"unique", false, Mode::kCopy, 1000, {}},   {"unique", false, Mode::kCopy, 10000, {}},
                  {"rescue", false, Mode::kRescue, 1000, {}}, {"rescue", false, Mode::kRescue, 10000, {}},
                  {"resume", false, Mode::kResume, 1000, {}}, {"resume", false, Mode::kResume, 10000, {}}};
  // Only one kind, or one kind and count, when tuning.
  const std::string onlyKind = argc > 2 ? sk::win::Narrow(argv[2]) : "";
  const size_t onlyCount = argc > 3 ? static_cast<size_t>(_wtoi(argv[3])) : 0;
  for (Case& c : cases) {
    if ((!onlyKind.empty() && onlyKind != c.kind) || (onlyCount && onlyCount != c.count)) continue;
    const std::string root = dir + "\\" + c.kind + std::to_string(c.count);
    const std::vector<std::string> sources = MakeTree(root, c.count, c.sameNames);
    for (int round = 0; round < rounds; ++round) {
      // The run first in even rounds, the bare loop first in odd ones.
      settings.SetRescueMode(c.mode == Mode::kRescue);
      auto resume = [&] {
        MakeResumeDestinations(sources, out);
        resumak.Button5Click();  // "Wyczyść listę"
        sk::ui::PumpMessages();
        double t0 = Seconds();
        for (const auto& s : sources) resumak.AddPair(s, sk::DestinationPath(out, s));
        sk::ui::PumpMessages();
        c.best.list = std::min(c.best.list, Seconds() - t0);
        t0 = Seconds();
        resumak.Button1Click();
        sk::ui::PumpMessages();
        c.best.copy = std::min(c.best.copy, Seconds() - t0);
        RemoveFolder(out);
      };
      auto run = [&] {
        if (c.mode == Mode::kResume) return resume();
        form.Button4Click();  // "Wyczyść listę"
        sk::ui::PumpMessages();
        double t0 = Seconds();
        form.AddFolderToList(root);
        sk::ui::PumpMessages();  // the list painted
        c.best.list = std::min(c.best.list, Seconds() - t0);
        if (form.ListCount() != static_cast<int>(c.count))
          std::printf("listed %d files, not %zu\n", form.ListCount(), c.count);
        form.SetText("Edit1", out);
        t0 = Seconds();
        form.Button8Click();
        sk::ui::PumpMessages();
        c.best.copy = std::min(c.best.copy, Seconds() - t0);
        RemoveFolder(out);
      };
      auto bare = [&] {
        if (c.mode == Mode::kResume) MakeResumeDestinations(sources, out);
        c.best.bare = std::min(c.best.bare, c.mode == Mode::kResume ? BareResume(sources, out) : Bare(sources, out));
        RemoveFolder(out);
      };
      if (round % 2 == 0) {
        run();
        bare();
      } else {
        bare();
        run();
      }
    }
    const double n = static_cast<double>(c.count);
    std::printf("%s %5zu: listed in %.2f s (%.3f ms a file), copied in %.2f s (%.3f ms a file), bare loop %.2f s "
                "(%.3f ms a file), the program's own %.3f ms a file\n",
                c.kind, c.count, c.best.list, c.best.list * 1000 / n, c.best.copy, c.best.copy * 1000 / n,
                c.best.bare, c.best.bare * 1000 / n, (c.best.copy - c.best.bare) * 1000 / n);
    RemoveTree(root);
  }
  for (int k = 0; k < 4; ++k) {
    const Case& small = cases[2 * k];
    const Case& large = cases[2 * k + 1];
    if (small.best.copy > 1e8 || large.best.copy > 1e8) continue;
    auto perFile = [](double t, size_t n) { return t / static_cast<double>(n); };
    auto own = [&](const Case& c) { return perFile(c.best.copy - c.best.bare, c.count); };
    std::printf("%s: cost of a file 10000/1000: copy %.2f, listing %.2f, bare loop %.2f, the program's own %.2f\n",
                small.kind, perFile(large.best.copy, large.count) / perFile(small.best.copy, small.count),
                perFile(large.best.list, large.count) / perFile(small.best.list, small.count),
                perFile(large.best.bare, large.count) / perFile(small.best.bare, small.count),
                own(large) / own(small));
  }
  std::printf("peak working set: %.1f MiB, log entries: %zu\n", sk::bench::PeakWorkingSetMiB(),
              form.EventLog().Count());
  for (const std::string& r : g_reports) std::printf("reported: %s\n", r.c_str());
  RemoveDirectoryW(sk::win::Widen(dir).c_str());
  sk::ui::ShutDown();
  return 0;
}
