// The program itself (its start-up, message loop, close and end) with a
// rescue-mode copy run over a damaged disc of the badmedia fixture, which
// draws the pictures of the documents from its own windows as they are on the
// screen: the main window and the read map window during the run's second
// round, then "Resumak" with the damaged file listed, then the settings
// dialog, then the disc image window after imaging a damaged disc.
// scripts/screenshots mounts the fixture and runs it.
//   screenshot_app OUTPUT-FOLDER DISC DESTINATION
// SEKTORIAN_MEDIA names the fixture's mount; DISC is its virtual folder as the
// user would see a disc (a drive letter, "D:\"), DESTINATION the folder
// the files are rescued into (emptied by the caller).
// Exit code 0 when every picture was written; otherwise the reason on stderr.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "support/Media.h"
#include "support/SettingsKey.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/ImageForm.h"
#include "ui/MainForm.h"
#include "ui/MapForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"
#include "win/WinImage.h"

namespace {

using sk::ui::App;

std::string g_out;
std::vector<std::string> g_written;
std::string g_failure;

// The window as it is on the screen, frame included, into a PNG file. What
// waits to be painted is painted first, without handling other messages (the
// run's loop may be the caller); Wine puts what was painted on the screen
// when the thread next looks at its messages.
void Capture(HWND window, const std::string& name) {
  RedrawWindow(window, nullptr, nullptr, RDW_ALLCHILDREN | RDW_UPDATENOW);
  GdiFlush();
  MSG msg;
  for (int i = 0; i < 5; ++i) {
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    Sleep(40);
  }
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  const bool copied = BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
  GdiFlush();
  std::string png;
  if (copied) png = sk::win::EncodePng(bits, w, h, w * 4);
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!copied) throw std::runtime_error("the screen could not be copied for " + name);
  sk::test::WriteFile(g_out + name, png);
  g_written.push_back(name);
}

// During the run: once the damaged files' narrowing has gone on for a while,
// the main window and the read map window as the user sees them.
DWORD g_roundTwoSince = 0;
bool g_busy = false;
void CALLBACK WhileRunning(HWND, UINT, UINT_PTR timer, DWORD) {
  if (g_busy || !g_failure.empty() || g_written.size() >= 2) return;
  g_busy = true;
  const sk::EventLogModel& log = App().form1->EventLog();
  if (!g_roundTwoSince) {
    for (size_t i = 0; i < log.Count(); ++i)
      if (log.At(i).text.rfind("Rozpoczynanie zawężania", 0) == 0) g_roundTwoSince = GetTickCount();
  } else if (GetTickCount() - g_roundTwoSince > 1200) {
    try {
      SetForegroundWindow(App().form1->hwnd());
      Capture(App().form1->hwnd(), "main-rescue.png");
      SetForegroundWindow(App().form1->MapWindow().hwnd());
      Capture(App().form1->MapWindow().hwnd(), "map.png");
    } catch (const std::exception& e) {
      g_failure = e.what();
    }
    KillTimer(nullptr, timer);
  }
  g_busy = false;
}

void Place(HWND window, int x, int y, int w = 0, int h = 0) {
  SetWindowPos(window, HWND_TOP, x, y, w, h, SWP_NOACTIVATE | (w ? 0 : SWP_NOSIZE));
}

// Outside the run: in front, every message handled and the windows painted.
void Settle(HWND window) {
  SetForegroundWindow(window);
  sk::test::PumpUntil([] { return false; }, 700);
}

// The disc image window after imaging a disc of its own: drive E: made a CD
// drive whose disc is an ISO 9660 image (genisoimage) of a few folders on the
// fixture, with unreadable sectors in two of its files; the damaged files
// listed first.
void DrawDiscImage(const sk::test::Media& media, const std::string& destination) {
  namespace test = sk::test;
  struct File {
    std::string path;
    size_t size;
  };
  const std::vector<File> files = {{"Wakacje_2007\\Zdjęcia\\plaża.jpg", 900000},
                                   {"Wakacje_2007\\Zdjęcia\\góry.jpg", 700000},
                                   {"Wakacje_2007\\Zdjęcia\\ognisko.jpg", 500000},
                                   {"Wakacje_2007\\przewodnik.pdf", 400000},
                                   {"Dokumenty\\umowa.doc", 250000},
                                   {"Dokumenty\\rachunki.xls", 120000},
                                   {"czytaj.txt", 3000}};
  auto content = [&](size_t i) { return test::Pattern(files[i].size, 10 + static_cast<unsigned>(i)); };
  const std::string tree = media.Disk() + "plyta_pliki\\";
  CreateDirectoryW(sk::win::Widen(tree).c_str(), nullptr);
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& path = files[i].path;
    for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
      CreateDirectoryW(sk::win::Widen(tree + path.substr(0, at)).c_str(), nullptr);
    test::WriteFile(tree + path, content(i));
  }
  const std::string w = std::getenv("SEKTORIAN_MEDIA") + std::string("/w/");
  if (media.RunUnix("genisoimage -quiet -J -R -V WAKACJE_2007 -input-charset utf-8 -o " + w + "plyta " + w +
                    "plyta_pliki") != 0)
    throw std::runtime_error("genisoimage could not make the disc");
  const std::string iso = test::ReadFile(media.Disk() + "plyta");
  // Where two files' data lie: a few sectors of each made unreadable.
  test::VirtualFile disc{.size = iso.size(), .slowMs = 1, .stallMs = 20, .sector = 2048, .from = "plyta", .ext = ".iso"};
  for (const auto& [k, first, count] : {std::tuple{0, 120, 6}, std::tuple{4, 30, 2}}) {
    const size_t at = iso.find(content(k).substr(0, 512));
    if (at == std::string::npos) throw std::runtime_error("a file of the disc is not in its image");
    disc.Bad(at + first * 2048, at + (first + count) * 2048 - 1);
  }
  test::CdDrive drive(media, 'E');
  if (!drive.Insert(disc)) throw std::runtime_error("drive E: could not be made a CD drive");
  sk::ui::TForm5& window = App().form1->ImageWindow();
  window.Open();
  Place(window.hwnd(), 8, 8);
  if (!window.SelectDrive('E')) throw std::runtime_error("the disc image window does not list drive E:");
  window.SetText("Edit1", destination + "\\plyta.iso");
  window.Button2Click();
  window.ListView1ColumnClick(4);  // the damaged first
  Settle(window.hwnd());
  Capture(window.hwnd(), "image.png");
  window.Hide();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: screenshot_app OUTPUT-FOLDER DISC DESTINATION\n");
    return 2;
  }
  auto folder = [](const wchar_t* arg) {
    std::string path = sk::win::Narrow(arg);
    if (path.empty() || path.back() != '\\') path += '\\';
    return path;
  };
  g_out = folder(argv[1]);
  try {
    namespace test = sk::test;
    test::Media media;
    // The disc: a film with a long scratch, photos that read, a document with
    // a few bad spots; every read a little slow and every failing read slower,
    // as on a drive. Sectors fail whole, as on a disc.
    test::VirtualFile film{.size = 24u << 20, .salt = 1, .slowMs = 3, .stallMs = 4, .sector = 2048};
    film.Bad(9u << 20, (9u << 20) + 700000).Bad(17u << 20, (17u << 20) + 90000);
    test::VirtualFile photos{.size = 6u << 20, .salt = 2, .slowMs = 3, .sector = 2048};
    test::VirtualFile paper{.size = 3u << 20, .salt = 3, .slowMs = 3, .stallMs = 4, .sector = 2048};
    paper.BadEvery(400000, 3000, 250000, 6);
    media.MakeFolder("Wakacje_2007", {});
    const std::vector<std::pair<std::string, const test::VirtualFile*>> files = {
        {"film_z_wakacji.avi", &film}, {"zdjecia.zip", &photos}, {"przewodnik.pdf", &paper}};
    for (const auto& [name, file] : files) media.MakeLink("Wakacje_2007\\" + name, "../" + file->Name());
    const std::string disc = folder(argv[2]) + "Wakacje_2007\\";
    std::string destination = folder(argv[3]);
    destination.pop_back();

    test::DeleteSettingsKey();
    test::PutCompleteSettings(0, true);
    test::PutSettingsDword(L"RescueMode", 1);
    test::PutSettingsDword(L"EndAction", 0);

    const int code = sk::ui::RunApplication([&] {
      sk::ui::TForm1& main = *App().form1;
      Place(main.hwnd(), 8, 8);
      RECT r;
      GetWindowRect(main.hwnd(), &r);
      for (const auto& [name, file] : files) main.AddFileToList(disc + name);
      main.SetText("Edit1", destination);
      main.Mapaodczytu1Click();
      Place(main.MapWindow().hwnd(), r.right + 8, 8, 520, r.bottom - r.top);
      SetForegroundWindow(main.hwnd());
      SetTimer(nullptr, 0, 100, WhileRunning);
      main.Button8Click();  // the run, with its messages pumped
      if (g_failure.empty() && g_written.size() < 2) g_failure = "the run ended before its second round was drawn";
      if (g_failure.empty()) {
        try {
          sk::ui::TForm2& settings = *App().form2;
          settings.ShowModeless();
          Place(settings.hwnd(), 8, 8);
          Settle(settings.hwnd());
          Capture(settings.hwnd(), "settings.png");
          settings.Hide();
          sk::ui::TForm3& resume = *App().form3;
          resume.AddPair(disc + "film_z_wakacji.avi", destination + "\\film_z_wakacji.avi");
          resume.ShowModeless();
          Place(resume.hwnd(), 8, 8);
          Settle(resume.hwnd());
          Capture(resume.hwnd(), "resumak.png");
          resume.Hide();
          DrawDiscImage(media, destination);
        } catch (const std::exception& e) {
          g_failure = e.what();
        }
      }
      PostMessageW(main.hwnd(), WM_CLOSE, 0, 0);
    });
    test::DeleteSettingsKey();
    if (code != 0 && g_failure.empty()) g_failure = "the program ended with code " + std::to_string(code);
  } catch (const std::exception& e) {
    g_failure = e.what();
  }
  for (const std::string& name : g_written) std::printf("screenshots: %s\n", name.c_str());
  if (!g_failure.empty()) {
    std::fprintf(stderr, "screenshots: %s\n", g_failure.c_str());
    return 1;
  }
  return 0;
}
