// Sektorian's rescue of damaged files on the badmedia fixture, through the
// real main window (the settings dialog's level and rescue mode, the file
// list, the destination folder, "Rozpocznij"), for bench/rescue_vs_ddrescue.sh
// which runs GNU ddrescue on the same files and compares.
//
//   rescue_ddrescue_bench.exe MOUNT DEST LEVEL ROUNDS RUN...
//
// MOUNT is the fixture's mount as a Windows path ending in '\' (Z:\...\),
// DEST the destination folder (ending in '\'; on a real disk, as ddrescue's
// output is). Each RUN names the files of MOUNT\v\ listed for one copy run,
// separated by '|' (one name: a run of one file). For each RUN (the K-th,
// from 0) it prints one line per round R (from 0):
//   "sektorian RUN: time T s, rescued S of D bytes, failing reads F, map areas A, peak working set W MiB"
// (bytes and areas summed over the run's files; T from "Rozpocznij" to the
// run's end, without the program's start) and leaves the fixture's trace of
// the round's reads in DEST\trace-K-R.txt. The destinations and their maps
// are deleted before each round.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "BenchFixture.h"
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
using sk::bench::Control;
using sk::bench::ReadText;

void WriteText(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileW(sk::win::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  CloseHandle(h);
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  for (size_t from = 0;;) {
    const size_t to = text.find(sep, from);
    parts.push_back(text.substr(from, to - from));
    if (to == std::string::npos) return parts;
    from = to + 1;
  }
}

std::vector<std::string> g_reports;
void Collect(const std::string& text) { g_reports.push_back(text); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 6) {
    std::fprintf(stderr, "usage: rescue_ddrescue_bench.exe MOUNT DEST LEVEL ROUNDS RUN...\n");
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
    const std::string run = sk::win::Narrow(argv[i]);
    const std::vector<std::string> names = Split(run, '|');
    for (int round = 0; round < rounds; ++round) {
      form.Button4Click();  // "Wyczyść listę"
      for (const std::string& name : names) {
        const std::string destination = folder + name;
        DeleteFileW(sk::win::Widen(destination).c_str());
        DeleteFileW(sk::win::Widen(sk::MapPathFor(destination)).c_str());
        form.AddFileToList(mount + "v\\" + name);
      }
      sk::ui::PumpMessages();
      Control(mount, "fails");
      Control(mount, "trace");
      const double t0 = Seconds();
      form.Button8Click();
      const double seconds = Seconds() - t0;
      const long long fails = std::atoll(ReadText(mount + "ctl\\fails").c_str());
      WriteText(folder + "trace-" + std::to_string(i - 5) + "-" + std::to_string(round) + ".txt",
                ReadText(mount + "ctl\\trace"));
      int64_t size = 0, rescued = 0;
      size_t areas = 0;
      for (const std::string& name : names) {
        const std::string destination = folder + name;
        const int64_t bytes = sk::win::FileSizeByName(mount + "v\\" + name);
        size += bytes;
        try {
          const sk::RescueMap map = sk::LoadMapFile(files, sk::MapPathFor(destination));
          rescued += map.Size() - map.Unfinished();
          areas += map.AreaCount();
        } catch (const sk::FileError&) {
          rescued += bytes;  // no map: every byte was rescued
          areas += 1;
        }
      }
      std::printf("sektorian %s: time %.3f s, rescued %lld of %lld bytes, failing reads %lld, map areas %zu, "
                  "peak working set %.1f MiB\n",
                  run.c_str(), seconds, static_cast<long long>(rescued), static_cast<long long>(size), fails, areas,
                  PeakWorkingSetMiB());
    }
  }
  Control(mount, "trace", "off\n");
  for (const std::string& r : g_reports) std::printf("reported: %s\n", r.c_str());
  sk::ui::ShutDown();
  return 0;
}
