// Sektorian's rescue of damaged files on the badmedia fixture, through the
// real main window (the settings dialog's level and rescue mode, the file
// list, the destination folder, "Rozpocznij"), for bench/rescue_vs_ddrescue.sh
// which runs GNU ddrescue on the same files and compares.
//
//   rescue_ddrescue_bench.exe MOUNT DEST LEVEL ROUNDS NAME...
//
// MOUNT is the fixture's mount as a Windows path ending in '\' (Z:\...\),
// DEST the destination folder (ending in '\'; on a real disk, as ddrescue's
// output is). For each NAME (a file of MOUNT\v\) it prints one line per round:
//   "sektorian NAME: time T s, rescued S of D bytes, failing reads F, map areas A, peak working set W MiB"
// The destination and its map are deleted before each round.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "core/Rescue.h"
#include "core/RescueMap.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/SettingsForm.h"
#include "ui/Window.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace {

using sk::bench::Seconds;
using sk::bench::PeakWorkingSetMiB;

std::string ReadText(const std::string& path) {
  HANDLE h = CreateFileW(sk::win::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  std::string text;
  if (h == INVALID_HANDLE_VALUE) return text;
  char buf[256];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) text.append(buf, got);
  CloseHandle(h);
  return text;
}

void ClearFails(const std::string& mount) {
  HANDLE h = CreateFileW(sk::win::Widen(mount + "ctl\\fails").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         TRUNCATE_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

std::vector<std::string> g_reports;
void Collect(const std::string& text) { g_reports.push_back(text); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 6) {
    std::fprintf(stderr, "usage: rescue_ddrescue_bench.exe MOUNT DEST LEVEL ROUNDS NAME...\n");
    return 2;
  }
  const std::string mount = sk::win::Narrow(argv[1]);
  const std::string folder = sk::win::Narrow(argv[2]);
  const int level = _wtoi(argv[3]);
  const int rounds = _wtoi(argv[4]);
  sk::ui::SetErrorSink(Collect);
  sk::ui::StartUp();
  sk::ui::TForm1& form = *sk::ui::App().form1;
  sk::ui::TForm2& settings = *sk::ui::App().form2;
  ShowWindow(form.hwnd(), SW_SHOWNORMAL);
  UpdateWindow(form.hwnd());
  settings.SetLevel(level);
  settings.SetRescueMode(true);
  settings.SetActionIndex(0);  // "Nic nie rób"
  settings.SetSizeCheck(true);
  CreateDirectoryW(sk::win::Widen(folder).c_str(), nullptr);
  form.SetText("Edit1", folder);

  sk::win::WinFileSystem files;
  for (int i = 5; i < argc; ++i) {
    const std::string name = sk::win::Narrow(argv[i]);
    const std::string source = mount + "v\\" + name, destination = folder + name;
    const int64_t size = sk::win::FileSizeByName(source);
    for (int round = 0; round < rounds; ++round) {
      DeleteFileW(sk::win::Widen(destination).c_str());
      DeleteFileW(sk::win::Widen(sk::MapPathFor(destination)).c_str());
      form.Button4Click();  // "Wyczyść listę"
      form.AddFileToList(source);
      sk::ui::PumpMessages();
      ClearFails(mount);
      const double t0 = Seconds();
      form.Button8Click();
      const double seconds = Seconds() - t0;
      const long long fails = std::atoll(ReadText(mount + "ctl\\fails").c_str());
      int64_t rescued = size;
      size_t areas = 1;
      try {
        const sk::RescueMap map = sk::LoadMapFile(files, sk::MapPathFor(destination));
        rescued = map.Size() - map.Unfinished();
        areas = map.AreaCount();
      } catch (const sk::FileError&) {
        // no map: every byte was rescued
      }
      std::printf("sektorian %s: time %.3f s, rescued %lld of %lld bytes, failing reads %lld, map areas %zu, "
                  "peak working set %.1f MiB\n",
                  name.c_str(), seconds, static_cast<long long>(rescued), static_cast<long long>(size), fails, areas,
                  PeakWorkingSetMiB());
    }
  }
  for (const std::string& r : g_reports) std::printf("reported: %s\n", r.c_str());
  sk::ui::ShutDown();
  return 0;
}
