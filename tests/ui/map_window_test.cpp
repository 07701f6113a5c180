// The read map window on the program's own forms: opened, drawn, resized,
// cells chosen, saved as PNG; a rescue shown live; at hand during a run.
#include <windows.h>
#include <dlgs.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/RescueMap.h"
#include "support/ErrorReports.h"
#include "support/SettingsKey.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/MapForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

constexpr COLORREF kRed = RGB(220, 0, 0), kOrange = RGB(255, 170, 0), kGrey = RGB(190, 190, 190),
                   kGreen = RGB(0, 170, 0);
COLORREF Face() { return GetSysColor(COLOR_BTNFACE); }

// A PNG file's pixels (0x00RRGGBB), read with Windows' own decoder.
struct Picture {
  UINT width = 0, height = 0;
  std::vector<uint32_t> pixels;
  COLORREF At(int x, int y) const {
    const uint32_t p = pixels[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
    return RGB(p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF);
  }
};
Picture ReadPng(const std::string& path) {
  Picture picture;
  IWICImagingFactory* factory = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICFormatConverter* converter = nullptr;
  GUID format{};
  if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                 reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(factory->CreateDecoderFromFilename(win::Widen(path).c_str(), nullptr, GENERIC_READ,
                                                   WICDecodeMetadataCacheOnDemand, &decoder)) &&
      SUCCEEDED(decoder->GetContainerFormat(&format)) && IsEqualGUID(format, GUID_ContainerFormatPng) &&
      SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
      SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0,
                                      WICBitmapPaletteTypeCustom)) &&
      SUCCEEDED(converter->GetSize(&picture.width, &picture.height))) {
    picture.pixels.resize(static_cast<size_t>(picture.width) * picture.height);
    converter->CopyPixels(nullptr, picture.width * 4, static_cast<UINT>(picture.pixels.size() * 4),
                          reinterpret_cast<BYTE*>(picture.pixels.data()));
  }
  for (IUnknown* p : std::initializer_list<IUnknown*>{converter, frame, decoder, factory})
    if (p) p->Release();
  return picture;
}

class MapWindow : public testing::Test {
 protected:
  void SetUp() override {
    test::StartProgram();
    Main().Mapaodczytu1Click();
    test::Flush();
  }
  void TearDown() override {
    ShutDown();
    test::Flush();
    EXPECT_TRUE(reports.empty()) << reports.front();
  }

  TForm1& Main() { return *App().form1; }
  TForm4& Map() { return Main().MapWindow(); }
  HWND Box() { return Map().Control("PaintBox1"); }
  bool Drawn() { return test::PumpUntil([&] { return !Map().DrawPending(); }, 1000); }
  COLORREF Pixel(HWND h, int x, int y) {
    HDC dc = GetDC(h);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(h, dc);
    return c;
  }
  // A cell's middle; `left` 1: the gap just left of it (its frame or mark, or the background).
  POINT At(int64_t cell, int left = 0) {
    const MapGrid& g = Map().Grid();
    return {left ? g.CellLeft(cell) - left : g.CellLeft(cell) + g.cell / 2, g.CellTop(cell) + g.cell / 2};
  }
  COLORREF CellPixel(int64_t cell, int left = 0) { return Pixel(Box(), At(cell, left).x, At(cell, left).y); }
  COLORREF RingPixel(int64_t cell) { return CellPixel(cell, 1); }
  void ExpectColoursOfMapA() {
    EXPECT_EQ(CellPixel(0), kRed);
    EXPECT_EQ(CellPixel(150), kOrange);
    EXPECT_EQ(CellPixel(250), kGrey);
    EXPECT_EQ(CellPixel(999), kGreen);
    EXPECT_EQ(RingPixel(1), Face());
  }
  // The status line after a key pressed in the grid, as the message loop meets it.
  std::string Press(WPARAM key) {
    MSG msg{Box(), WM_KEYDOWN, key, 1, GetTickCount(), {}};
    if (!FilterMessage(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    test::Flush();
    return Map().Text("StatusBar1");
  }
  // Runs `click` while answering the file dialog it opens: records its title,
  // the name it proposes and its filters, then types `name` and presses OK.
  void AnswerDialog(const std::string& name, void (TForm4::*click)()) {
    test::WhileModal drive(Map().hwnd(), [this, name] {
      HWND w = test::WhileModal::OwnedWindow(Map().hwnd(), L"#32770");
      if (!w || !GetDlgItem(w, IDOK)) return false;
      dialogTitle = test::WindowText(w);
      HWND field = GetDlgItem(w, cmb13) ? GetDlgItem(w, cmb13) : GetDlgItem(w, edt1);
      proposed = test::WindowText(field);
      filters.clear();
      for (int i = 0; i < static_cast<int>(SendDlgItemMessageW(w, cmb1, CB_GETCOUNT, 0, 0)); ++i) {
        wchar_t text[128]{};
        SendDlgItemMessageW(w, cmb1, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        filters += win::Narrow(text) + "|";
      }
      SetWindowTextW(field, win::Widen(name).c_str());
      PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, IDOK)));
      return true;
    });
    (Map().*click)();
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
    test::Flush();
  }

  std::vector<std::string> reports;
  test::ErrorReports collecting{reports};
  test::SettingsKeyBackup backup;
  test::TempDir dir;
  std::string dialogTitle, proposed, filters;
};

TEST_F(MapWindow, OpensRefitsChoosesCellsSavesThePictureAndRefusesAFileThatIsNotAMap) {
  RescueMap a(1000, '+');  // 100 bytes unreadable, 100 to narrow, 100 not tried, then read
  a.Set(0, 100, '-');
  a.Set(100, 100, '*');
  a.Set(200, 100, '?');
  test::WriteFile(dir / "a.map", a.ToText());
  AnswerDialog(dir / "a.map", &TForm4::Button1Click);
  EXPECT_EQ(dialogTitle, "Otwórz mapę odczytu");
  EXPECT_EQ(filters, "Mapy odczytu (*.map)|Wszystkie pliki (*.*)|");
  EXPECT_EQ(Map().Text(""), "Mapa odczytu - a.map");
  EXPECT_EQ(Map().Text("Label1") + "|" + Map().Text("Label2") + "|" + Map().Text("Label3"),
            "Odczytano 700 B z 1000 B (70,0 %)|Nieczytelne: 100 B w 1 miejscu|Nie próbowano: 200 B");
  ExpectColoursOfMapA();
  const std::pair<COLORREF, const char*> legend[] = {
      {kGreen, "Odczytane"}, {kRed, "Nieczytelne"}, {kOrange, "Do zawężenia"}, {kGrey, "Nie próbowano"}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Pixel(Map().Control("Shape" + std::to_string(i + 1)), Dpi(6), Dpi(6)), legend[i].first) << i;
    EXPECT_EQ(Map().Text("Label" + std::to_string(i + 4)), legend[i].second);
  }
  // Maximised, the cells grow and keep their colours; restored, they are as before.
  const int cellSize = Map().Grid().cell;
  ShowWindow(Map().hwnd(), SW_MAXIMIZE);
  test::Flush();
  EXPECT_GT(Map().Grid().cell, cellSize);
  ExpectColoursOfMapA();
  ShowWindow(Map().hwnd(), SW_RESTORE);
  test::Flush();
  EXPECT_EQ(Map().Grid().cell, cellSize);

  // A click chooses a cell (the focus, its text in the status line, a mark
  // around it); the keys move it; Tab reaches the grid after the buttons.
  SendMessageW(Box(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(At(150).x, At(150).y));
  test::Flush();
  EXPECT_EQ(GetFocus(), Box());
  EXPECT_EQ(Map().Text("StatusBar1"), "0x00000096 – 0x00000096: Do zawężenia 1 B");
  EXPECT_EQ(RingPixel(150), TForm4::kSelectionColour);
  EXPECT_EQ(Press(VK_RIGHT), "0x00000097 – 0x00000097: Do zawężenia 1 B");
  EXPECT_EQ(RingPixel(150), Face());
  EXPECT_EQ(Press(VK_DOWN), Map().Picture().CellText(Map().Grid(), 151 + Map().Grid().columns));
  EXPECT_EQ(Press(VK_HOME), "0x00000000 – 0x00000000: Nieczytelne 1 B");
  EXPECT_EQ(Press(VK_LEFT), "0x00000000 – 0x00000000: Nieczytelne 1 B");  // nothing before the first
  EXPECT_EQ(Press(VK_END), "0x000003E7 – 0x000003E7: Odczytane 1 B");
  MSG tab{Map().Control("Button2"), WM_KEYDOWN, VK_TAB, 1, GetTickCount(), {}};
  SetFocus(tab.hwnd);
  EXPECT_TRUE(FilterMessage(tab));
  EXPECT_EQ(GetFocus(), Box());

  // "Zapisz obraz...": the map's name proposed with ".png"; read back, the
  // grid (without the mark) in a margin, the legend and the totals under it.
  AnswerDialog(dir / "obraz", &TForm4::Button2Click);
  EXPECT_EQ(proposed, "a.png");
  const Picture png = ReadPng(dir / "obraz.png");
  RECT area{};
  GetClientRect(Box(), &area);
  const int pad = Dpi(8), legendTop = pad + area.bottom + pad;
  ASSERT_TRUE(png.width >= static_cast<UINT>(area.right + 2 * pad) &&
              png.height > static_cast<UINT>(legendTop + pad + 4 * Dpi(16)))
      << png.width << "x" << png.height;
  for (int64_t cell : {0, 150, 250, 999}) EXPECT_EQ(png.At(pad + At(cell).x, pad + At(cell).y), CellPixel(cell)) << cell;
  EXPECT_EQ(png.At(pad + At(999, 1).x, pad + At(999, 1).y), Face());  // without the mark
  EXPECT_EQ(png.At(pad + Dpi(6), legendTop + Dpi(8)), kGreen);
  int textPixels = 0;
  for (UINT y = static_cast<UINT>(legendTop + Dpi(20)); y < png.height; ++y)
    for (UINT x = 0; x < png.width; ++x) textPixels += png.At(static_cast<int>(x), static_cast<int>(y)) != Face();
  EXPECT_GT(textPixels, 300);  // the three totals
  std::string error = "none";  // into a folder that is not there
  try { Map().SavePicture(dir / "brak\\obraz.png"); } catch (const std::exception& e) { error = e.what(); }
  EXPECT_TRUE(error.starts_with("Nie udało się zapisać obrazu do pliku " + dir / "brak\\obraz.png: ")) << error;

  // A map of a large file dropped on the window (the smallest cells); then
  // a file that is not a map: refused, the window keeps its map.
  test::WriteFile(dir / "b.map", RescueMap(1LL << 30, '+').ToText());
  test::Drop(Map().hwnd(), {dir / "b.map"}, {50, 50});
  test::Flush();
  EXPECT_EQ(Map().Grid().cell, Dpi(4));
  test::WriteFile(dir / "notatki.txt", "nie mapa\n");
  {
    test::MessageBoxAnswerer box;
    test::Drop(Map().hwnd(), {dir / "notatki.txt"}, {50, 50});
    ASSERT_TRUE(box.Wait());
    EXPECT_EQ(box.Caption(), "Mapa odczytu");
    EXPECT_EQ(box.Text(), "Plik notatki.txt nie jest mapą odczytu.");
  }
  EXPECT_EQ(Map().Text(""), "Mapa odczytu - b.map");
  EXPECT_EQ(Map().Text("Label1"), "Odczytano 1 GB z 1 GB (100,0 %)");
}

TEST_F(MapWindow, ShowsARescueLiveWithAFrameOnTheReadPosition) {
  RescueMap map(1000);  // nothing tried yet
  map.Set(0, 500, '+');
  map.currentPos = 500;
  const std::string path = dir / "film.avi.map";
  Main().ShowRescueMap(path, map, true);
  EXPECT_TRUE(Drawn());
  EXPECT_EQ(Map().FramedCell(), 500);
  EXPECT_EQ(RingPixel(500), TForm4::kFrameColour);

  // Maps given right after a drawing wait; the newest is drawn when the
  // interval is up, the frame moved with the read position.
  map.Set(500, 200, '+');
  map.currentPos = 700;
  Main().ShowRescueMap(path, map, true);
  map.Set(700, 100, '+');
  map.Set(600, 1, '-');
  map.currentPos = 800;
  Main().ShowRescueMap(path, map, true);
  EXPECT_TRUE(Map().DrawPending());
  EXPECT_NE(Map().FramedCell(), 800);
  EXPECT_TRUE(Drawn());
  EXPECT_EQ(Map().FramedCell(), 800);
  EXPECT_EQ(RingPixel(800), TForm4::kFrameColour);
  EXPECT_EQ(RingPixel(500), Face());
  EXPECT_EQ(CellPixel(600), kRed);

  // The end of the file: no frame.
  Main().ShowRescueMap(path, map, false);
  EXPECT_TRUE(Drawn());
  EXPECT_EQ(Map().FramedCell(), -1);
  EXPECT_EQ(RingPixel(800), Face());

  // Closed, it only keeps what comes; shown again, it shows it.
  SendMessageW(Map().hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(Map().hwnd()));
  map.Set(0, 1000, '+');
  Main().ShowRescueMap(dir / "inny.bin.map", map, false);
  Main().Mapaodczytu1Click();
  test::Flush();
  EXPECT_EQ(Map().Text(""), "Mapa odczytu - inny.bin.map");
  EXPECT_EQ(CellPixel(600), kGreen);
}

// "Mapa odczytu..." follows "Resumak" in "Narzędzia"; during a copy run in
// rescue mode that menu stays open with only this item on.
TEST_F(MapWindow, StaysAtHandDuringACopyRunInRescueMode) {
  HMENU tools = GetSubMenu(Main().MainMenu(), 2);
  wchar_t text[64]{};
  GetMenuStringW(tools, 1, text, 64, MF_BYPOSITION);
  EXPECT_EQ(win::Narrow(text), "Mapa odczytu...\tCtrl+M");
  auto itemOn = [&](const char* item) {
    return !(GetMenuState(tools, static_cast<UINT>(Main().ControlId(item)), MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED));
  };
  test::WriteFile(dir / "a.bin", test::Pattern(3000, 1));
  test::WriteFile(dir / "b.bin", test::Pattern(3000, 2));
  Main().AddFileToList(dir / "a.bin");
  Main().AddFileToList(dir / "b.bin");
  Main().SetText("Edit1", dir / "wynik");
  App().form2->SetRescueMode(true);
  Map().Hide();
  bool checked = false;
  Main().CopyRunFileHook = [&](int index) {
    // The mode changed during the run: the run keeps the one it began in.
    if (index == 1) App().form2->SetRescueMode(false);
    checked = true;
    EXPECT_TRUE(Main().TopMenuEnabled("Narzdzia1"));
    EXPECT_TRUE(itemOn("Mapaodczytu1"));
    for (const char* item : {"Resumak1", "Aktualizacjaprogramu1", "Ustawieniaprogramu1"}) {
      EXPECT_FALSE(itemOn(item)) << item;
      SendMessageW(Main().hwnd(), WM_COMMAND, MAKEWPARAM(Main().ControlId(item), 0), 0);  // does nothing
    }
    SendMessageW(Main().hwnd(), WM_COMMAND, MAKEWPARAM(Main().ControlId("Mapaodczytu1"), 1), 0);  // Ctrl+M
    EXPECT_TRUE(IsWindowVisible(Map().hwnd()));
  };
  Main().Button8Click();
  EXPECT_TRUE(checked);
  EXPECT_FALSE(IsWindowVisible(App().form3->hwnd()));
  EXPECT_FALSE(IsWindowVisible(App().form2->hwnd()));
  // The run's file in the window, ended; everything back on after the run.
  EXPECT_TRUE(Drawn());
  EXPECT_EQ(Map().Text(""), "Mapa odczytu - b.bin.map");
  const std::string sep = win::DecimalSeparator();
  EXPECT_EQ(Map().Text("Label1"), "Odczytano 2" + sep + "93 kB z 2" + sep + "93 kB (100,0 %)");
  for (const char* item : {"Resumak1", "Mapaodczytu1", "Aktualizacjaprogramu1", "Ustawieniaprogramu1"})
    EXPECT_TRUE(itemOn(item)) << item;
}

}  // namespace
}  // namespace sk::ui
