// What the read map window costs, under Wine with the real window shown and
// its drawing area 1000 x 700 pixels:
// - opening a map of 100,000 areas over a 4.7 GB file and drawing it (read,
//   parse, the picture's totals, every cell drawn and painted);
// - a redraw of the whole grid (the cells' colours from the areas, every cell
//   drawn, painted);
// - a live refresh during a rescue of a 4.7 GB file read in order (what a
//   drawn refresh of a rescue costs with the window shown).
// Medians and maxima of 21 rounds (39 refreshes). Prints "map: ..." lines.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "core/MapPicture.h"
#include "core/Rescue.h"
#include "ui/Application.h"
#include "ui/MapForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace {

using sk::bench::Seconds;

struct Times {
  std::vector<double> ms;
  void Add(double seconds) { ms.push_back(seconds * 1000); }
  double Median() {
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
  }
  double Max() { return *std::max_element(ms.begin(), ms.end()); }
};

}  // namespace

int wmain() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  sk::ui::InitControls();
  sk::ui::TForm4 form;
  form.Create();
  // A drawing area of 1000 x 700 pixels: the window grows by what it lacks.
  ShowWindow(form.hwnd(), SW_SHOWNORMAL);
  RECT box{}, frame{};
  GetClientRect(form.Control("PaintBox1"), &box);
  GetWindowRect(form.hwnd(), &frame);
  SetWindowPos(form.hwnd(), nullptr, 0, 0, frame.right - frame.left + 1000 - box.right,
               frame.bottom - frame.top + 700 - box.bottom, SWP_NOZORDER);
  sk::ui::PumpMessages();
  GetClientRect(form.Control("PaintBox1"), &box);

  // 50,000 unreadable spots of 1000 bytes, one every 94,000 bytes: 100,001 areas.
  const int64_t size = 4700000000;
  sk::RescueMap map(size, '+');
  for (int64_t i = 0; i < 50000; ++i) map.Set(23500 + i * 94000, 1000, '-');
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::string path = sk::win::Narrow(temp) + "sk_map_bench_" + std::to_string(GetCurrentProcessId()) + ".map";
  sk::win::WinFileSystem files;
  files.ReplaceContent(path, map.ToText({"Mapfile of the map benchmark"}));

  Times open, parse, redraw, live, readOnly, parseOnly, pictureOnly;
  for (int round = 0; round < 21; ++round) {
    const double t0 = Seconds();
    const sk::MapPicture picture = sk::ReadMapFile(files, path);
    parse.Add(Seconds() - t0);
    {
      const double a = Seconds();
      auto file = files.Open(path, sk::OpenMode::ReadShared);
      std::string text;
      char chunk[65536];
      for (size_t got; (got = file->Read(chunk, sizeof chunk)) > 0;) text.append(chunk, got);
      const double b = Seconds();
      sk::MapText m = sk::ReadMapText(text);
      const double c = Seconds();
      const sk::MapPicture p(std::move(m));
      const double d = Seconds();
      readOnly.Add(b - a);
      parseOnly.Add(c - b);
      pictureOnly.Add(d - c);
    }
    const double t1 = Seconds();
    if (!form.OpenMap(path)) return 1;
    sk::ui::PumpMessages();
    open.Add(Seconds() - t1);
    const double t2 = Seconds();
    form.FormResize();
    UpdateWindow(form.Control("PaintBox1"));
    redraw.Add(Seconds() - t2);
    sk::ui::PumpMessages();
  }
  std::printf("map: drawing area %ldx%ld, %lld cells of %d px, %zu areas\n", box.right, box.bottom,
              static_cast<long long>(form.Grid().cells), form.Grid().cell, form.Picture().AreaCount());
  std::printf("map: open and draw of 100,000 areas over 4.7 GB: median %.1f ms, max %.1f ms (without drawing: "
              "median %.1f ms)\n",
              open.Median(), open.Max(), parse.Median());
  std::printf("map: of which reading the file %.1f ms, parsing %.1f ms, the picture's copy and totals %.1f ms\n",
              readOnly.Median(), parseOnly.Median(), pictureOnly.Median());
  std::printf("map: redraw of the whole %ldx%ld grid: median %.1f ms, max %.1f ms\n", box.right, box.bottom,
              redraw.Median(), redraw.Max());

  // A rescue read in order, each refresh 1/40 of the file further, given
  // when the window's interval between drawings is up (so each is drawn).
  sk::RescueMap rescue(size);
  const std::string livePath = sk::win::Narrow(temp) + "film.iso.map";
  for (int step = 0; step <= 40; ++step) {
    rescue.Set(0, size / 40 * step, '+');
    rescue.currentPos = size / 40 * step;
    Sleep(300);
    const double t = Seconds();
    form.ShowRescueMap(livePath, rescue, step < 40);
    if (step > 0 && step < 40) live.Add(Seconds() - t);
    if (form.DrawPending()) std::printf("map: a refresh was not drawn at once\n");
    sk::ui::PumpMessages();
  }
  std::printf("map: live refresh of a rescue read in order (1/40 of the file further): median %.2f ms, max %.2f ms\n",
              live.Median(), live.Max());
  DeleteFileW(sk::win::Widen(path).c_str());
  return 0;
}
