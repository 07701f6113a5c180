// What rescue mode costs on a healthy file. Under Wine with the real main
// window shown, it times a rescue-mode copy of a 64 MiB file (as a run copies
// it: log entries and paced window work included) against a bare loop of
// 64 KiB reads and writes of the same file, in the same process (the median
// of 31 rounds each, alternating), and how much faster it is than the
// level copy without rescue mode at levels 0 and 4. Every timed loop starts
// as a run's copy does, with no destination file yet: overwriting the
// previous round's 64 MiB would time the file system dropping its pages
// (tens of milliseconds, landing on either loop) instead of the copy.
//
// Then the same rescue with the read map window shown (as it opens, and
// maximised) against the window closed, alternating, 31 rounds each.
//
// Prints "rescue: ratio R (..)", "rescue: N x faster than level 0, M x
// faster than level 4" and "rescue: map window shown ...".
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
#include "ui/MapForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace {

using sk::bench::Seconds;
using sk::ui::TForm1;

// A file of `size` pseudo-random bytes, written in 1 MiB pieces.
void MakeFile(const std::string& path, size_t size) {
  sk::win::WinFileSystem files;
  auto out = files.Open(path, sk::OpenMode::CreateReadWrite);
  std::string piece(1 << 20, '\0');
  uint32_t x = 777;
  for (auto& c : piece) c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
  for (size_t done = 0; done < size; done += piece.size())
    out->Write(piece.data(), std::min(piece.size(), size - done));
  out->Close();
}

// `path` (and a map beside it) gone, before a timed loop writes it anew.
void Fresh(const std::string& path) {
  DeleteFileW(sk::win::Widen(path).c_str());
  DeleteFileW(sk::win::Widen(path + ".map").c_str());
}

// 64 KiB reads and writes of the whole file, nothing else.
double Bare(const std::string& from, const std::string& to) {
  Fresh(to);
  const double t0 = Seconds();
  sk::win::WinFileSystem files;
  auto in = files.Open(from, sk::OpenMode::ReadShared);
  auto out = files.Open(to, sk::OpenMode::CreateReadWrite);
  std::vector<unsigned char> buffer(64 * 1024);
  for (;;) {
    const size_t n = in->Read(buffer.data(), buffer.size());
    if (n == 0) break;
    out->Write(buffer.data(), n);
  }
  in->Close();
  out->Close();
  return Seconds() - t0;
}

// One file as a run copies it: inside the run's bracket, whose closing
// refresh of the window (about 20 ms, once a run, in either mode) is not
// the file's.
double Routine(TForm1& form, const std::string& from, const std::string& to, int level, bool rescue) {
  form.SetRescueModeSource([rescue] { return rescue; });
  Fresh(to);
  form.BeginCopy();
  const double t0 = Seconds();
  form.CopyFileAtLevel(from, to, level);
  const double t = Seconds() - t0;
  form.EndCopy();
  sk::ui::PumpMessages();
  return t;
}

bool SameContent(const std::string& a, const std::string& b) {
  auto read = [](const std::string& path) {
    HANDLE h = CreateFileW(sk::win::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    std::string s;
    std::vector<char> chunk(1 << 20);
    DWORD got = 0;
    while (ReadFile(h, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0)
      s.append(chunk.data(), got);
    CloseHandle(h);
    return s;
  };
  return read(a) == read(b);
}

}  // namespace

int wmain() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  sk::ui::InitControls();
  TForm1 form;
  const std::string dir = sk::bench::ShowFormForCopy(form, "sk_rescue_bench_");

  const size_t big = 64 << 20, small = 1 << 20;
  const std::string src = dir + "healthy.bin", dst = dir + "healthy.copy", bare = dir + "healthy.bare";
  const std::string src0 = dir + "level0.bin";
  MakeFile(src, big);
  MakeFile(src0, small);
  form.SetOverallProgress(static_cast<int64_t>(big), 0);

  // Medians of 31 rounds each, alternating: a run of tens of milliseconds
  // on a shared machine is easily held up, either way.
  std::vector<double> bares, rescues;
  for (int round = 0; round < 31; ++round) {
    bares.push_back(Bare(src, bare));
    rescues.push_back(Routine(form, src, dst, 0, true));
  }
  std::sort(bares.begin(), bares.end());
  std::sort(rescues.begin(), rescues.end());
  const double bareTime = bares[bares.size() / 2], rescueTime = rescues[rescues.size() / 2];
  if (!SameContent(src, dst)) std::printf("rescue: THE COPY DIFFERS FROM ITS SOURCE\n");
  std::printf("rescue: ratio %.2f (%.0f ms against %.0f ms for 64 MiB)\n", rescueTime / bareTime, rescueTime * 1000,
              bareTime * 1000);

  // The level copy without rescue mode: level 4 on the same 64 MiB, level 0
  // on 1 MiB (64 MiB would take minutes), compared per byte.
  const double level4 = Routine(form, src, dst, 4, false);
  const double level0 = Routine(form, src0, dst, 0, false) * static_cast<double>(big / small);
  std::printf("rescue: %.0f x faster than level 0 (%.1f s per 64 MiB), %.1f x faster than level 4 (%.0f ms)\n",
              level0 / rescueTime, level0, level4 / rescueTime, level4 * 1000);

  // The read map window shown against closed: the window follows each file
  // at its start, paced refreshes and end; closed, it only keeps a copy.
  sk::ui::TForm4& map = form.MapWindow();
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  for (const bool maximised : {false, true}) {
    std::vector<double> closed, shown;
    for (int round = 0; round < 31; ++round) {
      for (int turn = 0; turn < 2; ++turn) {
        const bool show = (turn + round) % 2 == 1;
        if (show) {
          map.ShowModeless();
          ShowWindow(map.hwnd(), maximised ? SW_MAXIMIZE : SW_RESTORE);
        } else {
          map.Hide();
        }
        sk::ui::PumpMessages();
        (show ? shown : closed).push_back(Routine(form, src, dst, 0, true));
      }
    }
    const double closedTime = median(closed), shownTime = median(shown);
    std::printf("rescue: map window shown%s against closed: ratio %.2f (%.0f ms against %.0f ms for 64 MiB)\n",
                maximised ? " maximised" : "", shownTime / closedTime, shownTime * 1000, closedTime * 1000);
  }

  for (const auto& f : {src, dst, bare, src0}) DeleteFileW(sk::win::Widen(f).c_str());
  DeleteFileW(sk::win::Widen(dst + ".map").c_str());
  RemoveDirectoryW(sk::win::Widen(dir).c_str());
  return 0;
}
