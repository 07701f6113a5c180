// How much the window costs a copy. Under Wine with the real main window
// shown, it times the level copy routine against a bare loop that makes the
// same file calls with no window work, at every level and for many small
// files, and how long "Zatrzymaj" takes to end a level-0 copy.
//
// Prints one line per case: "level N: ratio R", "refresh: T ms" (what one
// refresh of the status area and the log costs), "small files: ratio R",
// "stop: T ms", and the memory figures.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "BenchForm.h"
#include "core/LevelCopy.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace {

using sk::ui::TForm1;

using sk::bench::Seconds;

void MakeFile(const std::string& path, size_t size) {
  HANDLE h = CreateFileW(sk::win::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  std::vector<char> chunk(1 << 20);
  uint32_t x = 12345;
  for (auto& c : chunk) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  for (size_t done = 0; done < size;) {
    const DWORD n = static_cast<DWORD>(std::min(chunk.size(), size - done));
    DWORD wrote = 0;
    WriteFile(h, chunk.data(), n, &wrote, nullptr);
    done += wrote;
  }
  CloseHandle(h);
}

// The routine's file calls and nothing else.
void BareCopy(const std::string& from, const std::string& to, int level) {
  sk::win::WinFileSystem files;
  auto in = files.Open(from, sk::OpenMode::ReadShared);
  if (files.IsSameFile(*in, to)) return;
  auto out = files.Open(to, sk::OpenMode::CreateReadWrite);
  std::vector<unsigned char> buffer(sk::BlockSize(level));
  in->Size();
  while (in->Position() < in->Size()) {
    const size_t n = in->Read(buffer.data(), buffer.size());
    out->Write(buffer.data(), n);
    out->Size();
  }
  out->Size();
  in->Size();
  in->Close();
  out->Close();
}

struct Bench {
  TForm1& form;
  std::string dir;

  double Routine(const std::vector<std::string>& sources, int level) {
    const double t0 = Seconds();
    form.BeginCopy();
    for (const auto& s : sources) form.CopyFileAtLevel(s, s + ".copy", level);
    form.EndCopy();
    sk::ui::PumpMessages();  // the paint the refresh asked for
    return Seconds() - t0;
  }
  // Every timed loop starts from the same state, that of a fresh copy run: no
  // copy in the destination yet. (Otherwise only the very first loop creates
  // its files and every later one writes over the last one's.)
  static void RemoveCopies(const std::vector<std::string>& sources) {
    for (const auto& s : sources) DeleteFileW(sk::win::Widen(s + ".copy").c_str());
  }
  double Bare(const std::vector<std::string>& sources, int level) {
    const double t0 = Seconds();
    for (const auto& s : sources) BareCopy(s, s + ".copy", level);
    return Seconds() - t0;
  }
  // Both ways `rounds` times, alternating which goes first (the machine's
  // write-back drifts over a run); the best time of each (other work on the
  // machine only ever adds time).
  double Ratio(const std::vector<std::string>& sources, int level, int rounds = 2) {
    double bare = 1e9, routine = 1e9;
    auto timeBare = [&] {
      RemoveCopies(sources);
      bare = std::min(bare, Bare(sources, level));
    };
    auto timeRoutine = [&] {
      RemoveCopies(sources);
      routine = std::min(routine, Routine(sources, level));
    };
    for (int round = 0; round < rounds; ++round) {
      if (round % 2 == 0) {
        timeBare();
        timeRoutine();
      } else {
        timeRoutine();
        timeBare();
      }
    }
    lastBare = bare;
    lastRoutine = routine;
    return routine / bare;
  }
  double lastBare = 0, lastRoutine = 0;
};

double g_stopPosted = 0;
HWND g_stopButton = nullptr;
void CALLBACK PressStop(HWND, UINT, UINT_PTR, DWORD) {
  if (g_stopPosted != 0) return;
  g_stopPosted = Seconds();
  PostMessageW(g_stopButton, BM_CLICK, 0, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool smallOnly = argc > 1 && std::wstring(argv[1]) == L"small";  // one case, when tuning
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  sk::ui::InitControls();
  TForm1 form;
  const std::string dir = sk::bench::ShowFormForCopy(form, "sk_copy_bench_");
  Bench bench{form, dir};
  std::vector<std::string> made;

  const size_t sizes[] = {1 << 20, 4 << 20, 16 << 20, 32 << 20, 64 << 20};
  for (int level = 0; level <= 4; ++level) {
    if (smallOnly && level < 4) continue;
    const std::string src = dir + "level" + std::to_string(level) + ".bin";
    MakeFile(src, sizes[level]);
    made.push_back(src);
    form.SetOverallProgress(static_cast<int64_t>(sizes[level]), 0);
    if (smallOnly) continue;
    const double ratio = bench.Ratio({src}, level);
    std::printf("level %d: ratio %.2f (%.0f ms against %.0f ms)\n", level, ratio, bench.lastRoutine * 1000,
                bench.lastBare * 1000);
    std::fflush(stdout);
  }

  std::vector<std::string> small;
  for (int i = 0; i < 500; ++i) {
    small.push_back(dir + "small" + std::to_string(i) + ".bin");
    MakeFile(small.back(), 2048);
  }
  form.SetOverallProgress(500 * 2048, 0);
  {
    // What one refresh of the status area and the log costs (it paints what
    // it changed), with what a small file changes in between: its name,
    // sizes, bars and ten entries. The copy paces its refreshes by it.
    double show = 0;
    const int n = 20;
    form.BeginCopy();
    for (int i = 0; i < n; ++i) {
      for (int e = 0; e < 10; ++e) form.LogEvent("Zakończono kopiowanie pliku plik" + std::to_string(i), sk::ekInfo);
      form.SetOverallProgress(500 * 2048, i * 2048);
      const double t0 = Seconds();
      form.ShowCopyStatus();
      show += Seconds() - t0;
    }
    form.EndCopy();
    sk::ui::PumpMessages();
    std::printf("refresh: %.1f ms\n", show * 1000 / n);
  }
  const double smallRatio = bench.Ratio(small, 4, 10);
  std::printf("small files: ratio %.2f (%.0f ms against %.0f ms)\n", smallRatio, bench.lastRoutine * 1000,
              bench.lastBare * 1000);
  std::fflush(stdout);

  // Stop: a click posted to "Zatrzymaj" during a level-0 copy.
  g_stopButton = form.Control("Button65");
  form.Enable("Button65", true);
  form.SetStopRequested(false);
  const UINT_PTR timer = SetTimer(nullptr, 0, 300, PressStop);
  form.CopyFileAtLevel(made.back(), made.back() + ".copy", 0);
  const double stopMs = (Seconds() - g_stopPosted) * 1000;
  KillTimer(nullptr, timer);
  std::printf("stop: %.1f ms\n", stopMs);

  // Memory: flat whatever the file size; the log's entries are all it keeps.
  std::printf("peak working set after the copies: %.1f MiB\n", sk::bench::PeakWorkingSetMiB());
  // As a run writes them: shown at the paced refreshes, at once at the end.
  const double t0 = Seconds();
  form.BeginCopy();
  for (int i = 0; i < 100000; ++i) {
    form.LogEvent("Zakończono kopiowanie pliku plik" + std::to_string(i), sk::ekInfo);
    if (i % 1000 == 0) form.ShowCopyStatus();
  }
  form.EndCopy();
  sk::ui::PumpMessages();
  std::printf("100000 log entries: %.2f s\n", Seconds() - t0);
  std::printf("peak working set with %zu log entries: %.1f MiB\n", form.EventLog().Count(),
              sk::bench::PeakWorkingSetMiB());

  for (const auto& f : made) {
    DeleteFileW(sk::win::Widen(f).c_str());
    DeleteFileW(sk::win::Widen(f + ".copy").c_str());
  }
  for (const auto& f : small) {
    DeleteFileW(sk::win::Widen(f).c_str());
    DeleteFileW(sk::win::Widen(f + ".copy").c_str());
  }
  RemoveDirectoryW(sk::win::Widen(dir).c_str());
  return 0;
}
