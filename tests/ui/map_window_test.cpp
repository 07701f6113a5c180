// The read map window on the program's own forms: opened from the menu, a
// map opened through its dialog and by a drop, what it shows (caption, totals,
// the cells' pixels), resizing, choosing a cell with the mouse and the keys,
// the saved picture read back, a rescue shown live, and the menu item during
// a copy run in rescue mode.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <objbase.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/RescueMap.h"
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

std::vector<std::string>* g_reports = nullptr;
void CollectReport(const std::string& text) {
  if (g_reports) g_reports->push_back(text);
}

constexpr COLORREF kRed = RGB(220, 0, 0), kOrange = RGB(255, 170, 0), kGrey = RGB(190, 190, 190),
                   kGreen = RGB(0, 170, 0);

// A PNG file's pixels, read with Windows' own decoder.
struct Picture {
  UINT width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB
  COLORREF At(int x, int y) const {
    const uint32_t p = pixels[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
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
    test::Flush();
    test::PutCompleteSettings(1, true);
    g_reports = &reports;
    SetErrorSink(CollectReport);
    StartUp();
    ShowWindow(Main().hwnd(), SW_SHOWNORMAL);
    Main().Mapaodczytu1Click();
    test::Flush();
  }
  void TearDown() override {
    ShutDown();
    SetErrorSink(nullptr);
    g_reports = nullptr;
    test::Flush();
    EXPECT_TRUE(reports.empty()) << reports.front();
  }

  TForm1& Main() { return *App().form1; }
  TForm4& Map() { return Main().MapWindow(); }
  HWND Box() { return Map().Control("PaintBox1"); }
  // A rescue's map, as its paced refreshes give it, drawn.
  void ShowRescue(const std::string& path, const RescueMap& map, bool live) {
    Main().ShowRescueMap(path, map, live);
    EXPECT_TRUE(test::PumpUntil([&] { return !Map().DrawPending(); }, 1000));
  }
  std::vector<std::string> Totals() { return {Map().Text("Label1"), Map().Text("Label2"), Map().Text("Label3")}; }

  // 1000 bytes: 100 unreadable, 100 to narrow, 100 not tried, then read.
  std::string WriteMapA() {
    RescueMap map(1000, '+');
    map.Set(0, 100, '-');
    map.Set(100, 100, '*');
    map.Set(200, 100, '?');
    test::WriteFile(dir / "a.map", map.ToText());
    return dir / "a.map";
  }
  COLORREF Pixel(HWND h, int x, int y) {
    HDC dc = GetDC(h);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(h, dc);
    return c;
  }
  POINT CentreOfCell(int64_t cell) {
    const MapGrid& g = Map().Grid();
    return {g.CellLeft(cell) + g.cell / 2, g.CellTop(cell) + g.cell / 2};
  }
  COLORREF CellPixel(int64_t cell) {
    const POINT p = CentreOfCell(cell);
    return Pixel(Box(), p.x, p.y);
  }
  // The gap just left of a cell: its frame or mark, or the background.
  COLORREF RingPixel(int64_t cell) {
    const MapGrid& g = Map().Grid();
    return Pixel(Box(), g.CellLeft(cell) - 1, g.CellTop(cell) + g.cell / 2);
  }
  void ExpectColoursOfMapA() {
    EXPECT_EQ(CellPixel(0), kRed);
    EXPECT_EQ(CellPixel(150), kOrange);
    EXPECT_EQ(CellPixel(250), kGrey);
    EXPECT_EQ(CellPixel(999), kGreen);
    EXPECT_EQ(RingPixel(1), GetSysColor(COLOR_BTNFACE));
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
  // Answers the next file dialog of the map window: records its title and
  // the name it proposes, then types `name` and presses OK.
  std::function<bool()> AnswerDialog(const std::string& name) {
    return [this, name] {
      HWND w = test::WhileModal::OwnedWindow(Map().hwnd(), L"#32770");
      if (!w || !GetDlgItem(w, IDOK)) return false;
      dialogTitle = test::WindowText(w);
      HWND field = GetDlgItem(w, cmb13) ? GetDlgItem(w, cmb13) : GetDlgItem(w, edt1);
      proposed = test::WindowText(field);
      filters.clear();
      HWND types = GetDlgItem(w, cmb1);
      for (int i = 0; i < static_cast<int>(SendMessageW(types, CB_GETCOUNT, 0, 0)); ++i) {
        wchar_t text[128]{};
        SendMessageW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        filters.push_back(win::Narrow(text));
      }
      SetWindowTextW(field, win::Widen(name).c_str());
      PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, IDOK)));
      return true;
    };
  }

  std::vector<std::string> reports;
  test::SettingsKeyBackup backup;
  test::TempDir dir;
  std::string dialogTitle, proposed;
  std::vector<std::string> filters;
};

TEST_F(MapWindow, OpensAMapThroughItsDialogOrADropAndRefusesAFileThatIsNotOne) {
  EXPECT_TRUE(IsWindowVisible(Map().hwnd()));
  EXPECT_EQ(Map().Text(""), "Mapa odczytu");
  EXPECT_FALSE(Map().Enabled("Button2"));
  {
    test::WhileModal drive(Map().hwnd(), AnswerDialog(WriteMapA()));
    Map().Button1Click();
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  EXPECT_EQ(dialogTitle, "Otwórz mapę odczytu");
  EXPECT_EQ(filters, (std::vector<std::string>{"Mapy odczytu (*.map)", "Wszystkie pliki (*.*)"}));
  test::Flush();
  EXPECT_EQ(Map().Text(""), "Mapa odczytu - a.map");
  EXPECT_EQ(Totals(), (std::vector<std::string>{"Odczytano 700 B z 1000 B (70,0 %)", "Nieczytelne: 100 B w 1 miejscu",
                                                "Nie próbowano: 200 B"}));
  EXPECT_TRUE(Map().Enabled("Button2"));
  EXPECT_EQ(Map().Grid().cells, 1000);
  ExpectColoursOfMapA();
  // The legend's colours.
  const COLORREF legend[] = {kGreen, kRed, kOrange, kGrey};
  for (int i = 0; i < 4; ++i) {
    HWND swatch = Map().Control("Shape" + std::to_string(i + 1));
    RECT r{};
    GetClientRect(swatch, &r);
    EXPECT_EQ(Pixel(swatch, r.right / 2, r.bottom / 2), legend[i]) << i;
  }
  EXPECT_EQ(Map().Text("Label4") + Map().Text("Label5") + Map().Text("Label6") + Map().Text("Label7"),
            "OdczytaneNieczytelneDo zawężeniaNie próbowano");

  // A map of another file dropped on the window.
  RescueMap whole(4096, '+');
  test::WriteFile(dir / "b.map", whole.ToText());
  test::Drop(Map().hwnd(), {dir / "b.map"}, {50, 50});
  test::Flush();
  EXPECT_EQ(Map().Text(""), "Mapa odczytu - b.map");
  EXPECT_EQ(Totals(),
            (std::vector<std::string>{"Odczytano 4 kB z 4 kB (100,0 %)", "Nieczytelne: brak", "Nie próbowano:  B"}));
  EXPECT_EQ(CellPixel(0), kGreen);

  // A file that is not a map: refused, the window keeps its map.
  test::WriteFile(dir / "notatki.txt", "nie mapa\n");
  {
    test::MessageBoxAnswerer box;
    test::Drop(Map().hwnd(), {dir / "notatki.txt"}, {50, 50});
    ASSERT_TRUE(box.Wait());
    EXPECT_EQ(box.Caption(), "Mapa odczytu");
    EXPECT_EQ(box.Text(), "Plik notatki.txt nie jest mapą odczytu.");
  }
  EXPECT_EQ(Map().Text(""), "Mapa odczytu - b.map");
  EXPECT_EQ(Map().Text("Label1"), "Odczytano 4 kB z 4 kB (100,0 %)");
}

TEST_F(MapWindow, RefitsWhenResizedChoosesCellsAndSavesThePicture) {
  ASSERT_TRUE(Map().OpenMap(WriteMapA()));
  test::Flush();
  // Larger, maximised, smaller: the cells fill the drawing area each time.
  RECT frame{};
  GetWindowRect(Map().hwnd(), &frame);
  const int firstSize = Map().Grid().cell;
  int cellSize = firstSize;
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    if (step == 0) SetWindowPos(Map().hwnd(), nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    if (step == 1) ShowWindow(Map().hwnd(), SW_MAXIMIZE);
    if (step == 2) {
      ShowWindow(Map().hwnd(), SW_RESTORE);
      SetWindowPos(Map().hwnd(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER);
    }
    test::Flush();
    const MapGrid& g = Map().Grid();
    RECT area{};
    GetClientRect(Box(), &area);
    EXPECT_EQ(g.cells, 1000);
    EXPECT_LE(g.x + g.columns * g.Pitch(), area.right);
    EXPECT_LE(g.y + g.rows * g.Pitch(), area.bottom);
    // No larger cell would still hold every byte.
    EXPECT_LT(static_cast<int64_t>((area.right - 1) / (g.Pitch() + 1)) * ((area.bottom - 1) / (g.Pitch() + 1)), 1000);
    if (step < 2) EXPECT_GT(g.cell, cellSize);
    if (step == 2) EXPECT_EQ(g.cell, firstSize);
    cellSize = g.cell;
    ExpectColoursOfMapA();
  }

  // Tab reaches the grid after the buttons.
  SetFocus(Map().Control("Button2"));
  MSG tab{Map().Control("Button2"), WM_KEYDOWN, VK_TAB, 1, GetTickCount(), {}};
  EXPECT_TRUE(FilterMessage(tab));
  EXPECT_EQ(GetFocus(), Box());

  // A click chooses a cell: its range and bytes in the status line, a mark
  // around it; the arrow keys move it.
  const POINT at = CentreOfCell(150);
  SendMessageW(Box(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
  SendMessageW(Box(), WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
  test::Flush();
  EXPECT_EQ(Map().SelectedCell(), 150);
  EXPECT_EQ(GetFocus(), Box());
  EXPECT_EQ(Map().Text("StatusBar1"), "0x00000096 – 0x00000096: Do zawężenia 1 B");
  EXPECT_EQ(RingPixel(150), TForm4::kSelectionColour);
  EXPECT_EQ(CellPixel(150), kOrange);
  const int columns = Map().Grid().columns;
  EXPECT_EQ(Press(VK_RIGHT), "0x00000097 – 0x00000097: Do zawężenia 1 B");
  EXPECT_EQ(RingPixel(150), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(Press(VK_DOWN), Map().Picture().CellText(Map().Grid(), 151 + columns));
  EXPECT_EQ(Press(VK_HOME), "0x00000000 – 0x00000000: Nieczytelne 1 B");
  EXPECT_EQ(Press(VK_LEFT), "0x00000000 – 0x00000000: Nieczytelne 1 B");  // nothing before the first
  EXPECT_EQ(Press(VK_END), "0x000003E7 – 0x000003E7: Odczytane 1 B");

  // "Zapisz obraz...": the map's name proposed with ".png"; the grid with
  // its legend and totals, without the mark, read back.
  {
    test::WhileModal drive(Map().hwnd(), AnswerDialog(dir / "obraz"));
    Map().Button2Click();
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  EXPECT_EQ(dialogTitle, "Zapisz obraz");
  EXPECT_EQ(proposed, "a.png");
  const Picture png = ReadPng(dir / "obraz.png");
  RECT area{};
  GetClientRect(Box(), &area);
  const int pad = Dpi(8);  // the margin around the grid
  ASSERT_GE(png.width, static_cast<UINT>(area.right + 2 * pad));
  ASSERT_GT(png.height, static_cast<UINT>(area.bottom + 2 * pad + 4 * Dpi(16)));
  for (int64_t cell : {0, 150, 250, 999}) {
    const POINT p = CentreOfCell(cell);
    EXPECT_EQ(png.At(pad + p.x, pad + p.y), CellPixel(cell)) << cell;
  }
  const MapGrid& g = Map().Grid();
  EXPECT_EQ(png.At(pad + g.CellLeft(999) - 1, pad + g.CellTop(999) + 1), GetSysColor(COLOR_BTNFACE));  // no mark
  // The legend's first colour under the grid, then text in the form's colours.
  const int legendTop = pad + area.bottom + pad;
  EXPECT_EQ(png.At(pad + Dpi(6), legendTop + Dpi(8)), kGreen);
  int textPixels = 0;
  for (UINT y = static_cast<UINT>(legendTop + Dpi(20)); y < png.height; ++y)
    for (UINT x = 0; x < png.width; ++x) textPixels += png.At(static_cast<int>(x), static_cast<int>(y)) != GetSysColor(COLOR_BTNFACE);
  EXPECT_GT(textPixels, 300);  // the three totals

  // Into a folder that is not there: the failure names the file.
  try {
    Map().SavePicture(dir / "brak\\obraz.png");
    ADD_FAILURE() << "saving into a missing folder succeeded";
  } catch (const std::exception& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("Nie udało się zapisać obrazu do pliku " + dir / "brak\\obraz.png: "))
        << e.what();
  }
}

TEST_F(MapWindow, ShowsARescueLiveWithAFrameOnTheReadPosition) {
  RescueMap map(1000);  // nothing tried yet
  map.Set(0, 500, '+');
  map.currentPos = 500;
  const std::string path = dir / "film.avi.map";
  ShowRescue(path, map, true);
  EXPECT_EQ(Map().Text(""), "Mapa odczytu - film.avi.map");
  EXPECT_EQ(Map().FramedCell(), 500);
  EXPECT_EQ(RingPixel(500), TForm4::kFrameColour);
  EXPECT_EQ(CellPixel(500), kGrey);
  EXPECT_EQ(Map().Text("Label1"), "Odczytano 500 B z 1000 B (50,0 %)");

  // Further on: the frame moves with the read position. A map given right
  // after a drawing (or one waiting) is drawn when the interval is up.
  map.Set(500, 200, '+');
  map.currentPos = 700;
  Main().ShowRescueMap(path, map, true);
  map.Set(700, 100, '+');
  map.Set(600, 1, '-');
  map.currentPos = 800;
  Main().ShowRescueMap(path, map, true);
  EXPECT_TRUE(Map().DrawPending());
  EXPECT_NE(Map().FramedCell(), 800);
  EXPECT_TRUE(test::PumpUntil([&] { return !Map().DrawPending(); }, 1000));
  EXPECT_EQ(Map().FramedCell(), 800);
  EXPECT_EQ(RingPixel(800), TForm4::kFrameColour);
  EXPECT_EQ(RingPixel(500), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(CellPixel(500), kGreen);
  EXPECT_EQ(CellPixel(600), kRed);
  EXPECT_EQ(Map().Text("Label2"), "Nieczytelne: 1 B w 1 miejscu");

  // The end of the file: no frame.
  ShowRescue(path, map, false);
  EXPECT_EQ(Map().FramedCell(), -1);
  EXPECT_EQ(RingPixel(800), GetSysColor(COLOR_BTNFACE));

  // Closed, it only keeps what comes; shown again, it shows it.
  SendMessageW(Map().hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(Map().hwnd()));
  map.Set(0, 1000, '+');
  Main().ShowRescueMap(dir / "inny.bin.map", map, false);
  Main().Mapaodczytu1Click();
  test::Flush();
  EXPECT_EQ(Map().Text(""), "Mapa odczytu - inny.bin.map");
  EXPECT_EQ(Map().Text("Label1"), "Odczytano 1000 B z 1000 B (100,0 %)");
  EXPECT_EQ(CellPixel(600), kGreen);
}

// "Mapa odczytu..." follows "Resumak" in "Narzędzia"; during a copy run in
// rescue mode that menu stays open with only this item on, and Ctrl+M works.
TEST_F(MapWindow, StaysAtHandDuringACopyRunInRescueMode) {
  HMENU tools = GetSubMenu(Main().MainMenu(), 2);
  wchar_t text[64]{};
  GetMenuStringW(tools, 1, text, 64, MF_BYPOSITION);
  EXPECT_EQ(win::Narrow(text), "Mapa odczytu...\tCtrl+M");
  EXPECT_EQ(GetMenuItemID(tools, 0), static_cast<UINT>(Main().ControlId("Resumak1")));

  auto itemOn = [&](const char* item) {
    return !(GetMenuState(tools, static_cast<UINT>(Main().ControlId(item)), MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED));
  };
  test::WriteFile(dir / "a.bin", test::Pattern(3000, 1));
  Main().AddFileToList(dir / "a.bin");
  Main().SetText("Edit1", dir / "wynik");
  App().form2->SetRescueMode(true);
  Map().Hide();
  bool checked = false;
  Main().CopyRunFileHook = [&](int) {
    checked = true;
    for (const char* m : {"Plik1", "Lista1", "Pomoc1"}) EXPECT_FALSE(Main().TopMenuEnabled(m)) << m;
    EXPECT_TRUE(Main().TopMenuEnabled("Narzdzia1"));
    EXPECT_TRUE(itemOn("Mapaodczytu1"));
    for (const char* item : {"Resumak1", "Aktualizacjaprogramu1", "Ustawieniaprogramu1"}) {
      EXPECT_FALSE(itemOn(item)) << item;
      SendMessageW(Main().hwnd(), WM_COMMAND, MAKEWPARAM(Main().ControlId(item), 0), 0);  // does nothing
    }
    BYTE saved[256], keys[256];
    GetKeyboardState(saved);
    memcpy(keys, saved, sizeof keys);
    keys[VK_CONTROL] = keys[VK_LCONTROL] = 0x80;
    SetKeyboardState(keys);
    MSG msg{Main().hwnd(), WM_KEYDOWN, 'M', 1, GetTickCount(), {}};
    EXPECT_TRUE(FilterMessage(msg));
    SetKeyboardState(saved);
    EXPECT_TRUE(IsWindowVisible(Map().hwnd()));
  };
  Main().Button8Click();
  EXPECT_TRUE(checked);
  EXPECT_FALSE(IsWindowVisible(App().form3->hwnd()));
  EXPECT_FALSE(IsWindowVisible(App().form2->hwnd()));
  // The run's file in the window, ended; everything back on after the run.
  EXPECT_TRUE(test::PumpUntil([&] { return !Map().DrawPending(); }, 1000));
  EXPECT_EQ(Map().Text(""), "Mapa odczytu - a.bin.map");
  const std::string sep = win::DecimalSeparator();
  EXPECT_EQ(Map().Text("Label1"), "Odczytano 2" + sep + "93 kB z 2" + sep + "93 kB (100,0 %)");
  EXPECT_FALSE(Map().Live());
  for (const char* item : {"Resumak1", "Mapaodczytu1", "Aktualizacjaprogramu1", "Ustawieniaprogramu1"})
    EXPECT_TRUE(itemOn(item)) << item;
  EXPECT_TRUE(Main().TopMenuEnabled("Narzdzia1"));
}

}  // namespace
}  // namespace sk::ui
