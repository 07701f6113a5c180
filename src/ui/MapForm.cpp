#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "ui/MapForm.h"

#include <algorithm>
#include <stdexcept>

#include "core/FileApi.h"
#include "core/Text.h"
#include "ui/CommonControls.h"
#include "win/Utf.h"
#include "win/WinFile.h"
#include "win/WinImage.h"

namespace sk::ui {
namespace {

constexpr const char* kCaption = "Mapa odczytu";

// Figures of the layout, in pixels at 96 DPI.
constexpr int kMargin = 8;
constexpr int kGridTop = 41;     // under the two buttons
constexpr int kLine = 16;        // a legend row, a total
constexpr int kSwatch = 12;      // a legend colour
constexpr int kMinCell = 4;      // the smallest cell
constexpr int kGap = 1;          // between cells
constexpr int kMinWidth = 460, kMinHeight = 300;  // the smallest client area
constexpr UINT_PTR kDrawTimer = 1;  // a rescue's picture drawn when the interval is up

struct LegendItem {
  const char* swatch;
  const char* label;
  CellKind kind;
};
constexpr LegendItem kLegend[] = {
    {"Shape1", "Label4", CellKind::kRead},
    {"Shape2", "Label5", CellKind::kBad},
    {"Shape3", "Label6", CellKind::kNarrow},
    {"Shape4", "Label7", CellKind::kUntried},
};
constexpr const char* kTotals[] = {"Label1", "Label2", "Label3"};

// In tab order. The grid, the legend and the totals are placed by Layout()
// to fill the window; the table gives them their design size.
const std::vector<ControlSpec>& Controls() {
  static const std::vector<ControlSpec> table = [] {
    std::vector<ControlSpec> t = {
        {.name = "Button1", .cls = WC_BUTTONW, .caption = "Otwórz...", .x = kMargin, .y = 8, .w = 100, .h = 25,
         .style = kButton},
        {.name = "Button2", .cls = WC_BUTTONW, .caption = "Zapisz obraz...", .x = 116, .y = 8, .w = 110, .h = 25,
         .style = kButton | WS_DISABLED},
        // The grid: drawn by the form, clicked and moved over with the arrow keys.
        {.name = "PaintBox1", .cls = WC_STATICW, .caption = "", .x = kMargin, .y = kGridTop, .w = 624, .h = 330,
         .style = SS_OWNERDRAW | SS_NOTIFY | WS_TABSTOP},
    };
    int x = kMargin;
    for (const auto& item : kLegend) {
      t.push_back({.name = item.swatch, .cls = WC_STATICW, .caption = "", .x = x, .y = 379, .w = kSwatch,
                   .h = kSwatch, .style = SS_OWNERDRAW});
      t.push_back({.name = item.label, .cls = WC_STATICW, .caption = KindName(item.kind), .x = x + kSwatch + 4,
                   .y = 377, .w = 70, .h = kLine, .style = kLabel, .autoSize = true});
      x += 100;
    }
    for (int i = 0; i < 3; ++i)
      t.push_back({.name = kTotals[i], .cls = WC_STATICW, .caption = "", .x = kMargin, .y = 397 + i * kLine,
                   .w = 624, .h = kLine, .style = kLabel | SS_ENDELLIPSIS});
    t.push_back({.name = "StatusBar1", .cls = STATUSCLASSNAMEW, .caption = "", .x = 0, .y = 458, .w = 640,
                 .h = 22, .style = SBARS_SIZEGRIP});
    return t;
  }();
  return table;
}

COLORREF Background() { return GetSysColor(COLOR_BTNFACE); }

RECT CellRect(const MapGrid& g, int64_t i) {
  const int left = g.CellLeft(i), top = g.CellTop(i);
  return {left, top, left + g.cell, top + g.cell};
}

// The ring in the gap around a cell: the live cell's frame, the chosen cell's mark.
RECT GapRing(const MapGrid& g, int64_t i) {
  RECT r = CellRect(g, i);
  InflateRect(&r, g.gap, g.gap);
  return r;
}

}  // namespace

// A picture in memory (32-bit pixels, top-down) with a GDI device context on
// it: the grid is drawn here by the pixel and copied to the screen at paint.
struct TForm4::Canvas {
  Canvas(int w, int h) : width(std::max(w, 1)), height(std::max(h, 1)) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    dc = CreateCompatibleDC(nullptr);
    void* memory = nullptr;
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
    if (!dc || !bitmap) {
      if (bitmap) DeleteObject(bitmap);
      if (dc) DeleteDC(dc);
      throw std::runtime_error("Out of memory");
    }
    bits = static_cast<uint32_t*>(memory);
    old = SelectObject(dc, bitmap);
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  void Fill(RECT r, COLORREF colour) {
    const uint32_t pixel = (static_cast<uint32_t>(GetRValue(colour)) << 16) |
                           (static_cast<uint32_t>(GetGValue(colour)) << 8) | GetBValue(colour);
    const int left = std::max<int>(r.left, 0), right = std::min<int>(r.right, width);
    const int top = std::max<int>(r.top, 0), bottom = std::min<int>(r.bottom, height);
    if (left >= right) return;
    for (int y = top; y < bottom; ++y) std::fill_n(bits + static_cast<size_t>(y) * width + left, right - left, pixel);
  }
  // A frame `thickness` pixels wide along the inside of `r`.
  void Ring(RECT r, int thickness, COLORREF colour) {
    Fill({r.left, r.top, r.right, r.top + thickness}, colour);
    Fill({r.left, r.bottom - thickness, r.right, r.bottom}, colour);
    Fill({r.left, r.top, r.left + thickness, r.bottom}, colour);
    Fill({r.right - thickness, r.top, r.right, r.bottom}, colour);
  }
  void Cell(const MapGrid& g, int64_t i, CellKind kind) { Fill(CellRect(g, i), Colour(kind)); }
  // The chosen cell's mark and the live cell's frame: a ring around the cell
  // and one along its inside (a cell may be only 4 pixels wide).
  void Mark(const MapGrid& g, int64_t i, COLORREF colour) {
    Ring(GapRing(g, i), g.gap, colour);
    Ring(CellRect(g, i), std::clamp(g.cell / 8, 1, Dpi(3)), colour);
  }

  int width, height;
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  uint32_t* bits = nullptr;
};

COLORREF TForm4::Colour(CellKind kind) {
  switch (kind) {
    case CellKind::kRead: return RGB(0, 170, 0);
    case CellKind::kUntried: return RGB(190, 190, 190);
    case CellKind::kNarrow: return RGB(255, 170, 0);
    case CellKind::kBad: return RGB(220, 0, 0);
    default: return Background();
  }
}

TForm4::TForm4() = default;
TForm4::~TForm4() {
  if (HWND box = Control("PaintBox1")) RemoveWindowSubclass(box, PaintBoxProc, 1);
}

void TForm4::Create() {
  CreateForm({.className = L"TForm4", .caption = kCaption, .clientWidth = 640, .clientHeight = 480,
              .style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN},
             Controls());
  SetWindowSubclass(Control("PaintBox1"), PaintBoxProc, 1, reinterpret_cast<DWORD_PTR>(this));
  AcceptDrops(hwnd_);
  separator_ = win::DecimalSeparator();
  RECT client{};
  GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
}

// ---------------------------------------------------------------- what it shows

void TForm4::ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) {
  Take(mapPath, MapPicture(map), live, true);
}

bool TForm4::OpenMap(const std::string& path) {
  auto refuse = [&](const std::string& text) {
    MessageBoxW(hwnd_, win::Widen(text).c_str(), win::Widen(kCaption).c_str(), MB_OK | MB_ICONWARNING);
    return false;
  };
  MapPicture picture;
  try {
    win::WinFileSystem files;
    picture = ReadMapFile(files, path);
  } catch (const MapFormatError&) {
    return refuse("Plik " + FileNamePart(path) + " nie jest mapą odczytu.");
  } catch (const FileError& e) {
    return refuse("Nie można odczytać pliku " + FileNamePart(path) + ": " + e.what() + ".");
  }
  Take(path, std::move(picture), false, false);
  return true;
}

void TForm4::Take(const std::string& mapPath, MapPicture picture, bool live, bool paced) {
  const bool another = !hasMap_ || mapPath != mapPath_ || picture.Size() != picture_.Size();
  if (another) selectedPos_ = -1;
  picture_ = std::move(picture);
  mapPath_ = mapPath;
  hasMap_ = true;
  live_ = live;
  wholePending_ = wholePending_ || another;
  if (!IsWindowVisible(hwnd_)) {
    stale_ = true;  // drawn when the window is shown
    return;
  }
  const unsigned long long since = GetTickCount64() - lastDraw_;
  if (paced && since < drawInterval_) {
    if (!drawPending_) SetTimer(hwnd_, kDrawTimer, static_cast<UINT>(drawInterval_ - since), nullptr);
    drawPending_ = true;
    return;
  }
  DrawNow();
}

void TForm4::DrawNow() {
  if (drawPending_) KillTimer(hwnd_, kDrawTimer);
  drawPending_ = false;
  LARGE_INTEGER frequency{}, start{}, end{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  Present(wholePending_);
  wholePending_ = false;
  // Painted now: what it costs sets the interval to the next drawing.
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  QueryPerformanceCounter(&end);
  const long long us = frequency.QuadPart ? (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart : 0;
  drawInterval_ = static_cast<unsigned>(std::clamp<long long>(40 * us / 1000, 100, 250));
  lastDraw_ = GetTickCount64();
}

int64_t TForm4::SelectedCell() const { return grid_.CellOf(selectedPos_, picture_.Size()); }

void TForm4::SelectCell(int64_t cell) {
  selectedPos_ = cell >= 0 && cell < grid_.cells ? cell * grid_.span : -1;
  DrawCells(false);
  ShowLabel("StatusBar1", CellDetail());
  UpdateWindow(Control("PaintBox1"));
}

std::string TForm4::CellDetail() const {
  const int64_t cell = SelectedCell();
  std::string text = picture_.CellText(grid_, cell, separator_);
  if (text.empty() || !CellOwners) return text;
  const int64_t from = cell * grid_.span;
  const std::string owners = CellOwners(mapPath_, from, std::min(from + grid_.span, picture_.Size()));
  return owners.empty() ? text : text + " – " + owners;
}

void TForm4::ShowLabel(const char* name, const std::string& text) {
  if (Text(name) != text) SetText(name, text);
}

void TForm4::Present(bool whole) {
  stale_ = false;
  ShowLabel("", hasMap_ ? std::string(kCaption) + " - " + FileNamePart(mapPath_) : std::string(kCaption));
  if (Enabled("Button2") != (hasMap_ && !dialogsHeld_)) Enable("Button2", hasMap_ && !dialogsHeld_);
  ShowLabel(kTotals[0], hasMap_ ? picture_.ReadText(separator_) : "");
  ShowLabel(kTotals[1], hasMap_ ? picture_.BadText(separator_) : "");
  ShowLabel(kTotals[2], hasMap_ ? picture_.UntriedText(separator_) : "");
  // The cells fill the drawing area, inside a margin as wide as a gap where
  // the frame of a cell at the edge goes.
  MapGrid grid;
  if (canvas_ && hasMap_) {
    const int gap = Dpi(kGap);
    grid = FitGrid(canvas_->width - 2 * gap, canvas_->height - 2 * gap, picture_.Size(), Dpi(kMinCell), gap);
    grid.x += gap;
    grid.y += gap;
  }
  if (!(grid == grid_)) whole = true;
  grid_ = grid;
  DrawCells(whole);
  ShowLabel("StatusBar1", CellDetail());
}

void TForm4::DrawCells(bool whole) {
  if (!canvas_) return;
  Canvas& c = *canvas_;
  std::vector<CellKind> colours = hasMap_ ? picture_.Colours(grid_) : std::vector<CellKind>();
  const int64_t chosen = SelectedCell();
  const int64_t size = picture_.Size();
  const int64_t frame = live_ && size > 0 ? grid_.CellOf(std::clamp<int64_t>(picture_.CurrentPos(), 0, size - 1), size)
                                          : -1;
  RECT dirty{};
  auto touch = [&](const RECT& r) { UnionRect(&dirty, &dirty, &r); };
  if (whole || drawn_.size() != colours.size()) {
    c.Fill({0, 0, c.width, c.height}, Background());
    for (size_t i = 0; i < colours.size(); ++i) c.Cell(grid_, static_cast<int64_t>(i), colours[i]);
    dirty = {0, 0, c.width, c.height};
  } else {
    // Only what changed since the last drawing: a rescue's refresh touches
    // the cells it read. The rings share the gaps between cells, so the
    // chosen cell's mark and the frame are drawn again last.
    for (int64_t old : {framed_, selectionDrawn_}) {
      if (old < 0 || old >= grid_.cells) continue;
      c.Ring(GapRing(grid_, old), grid_.gap, Background());
      c.Cell(grid_, old, colours[static_cast<size_t>(old)]);
      touch(GapRing(grid_, old));
    }
    for (size_t i = 0; i < colours.size(); ++i) {
      if (colours[i] == drawn_[i]) continue;
      c.Cell(grid_, static_cast<int64_t>(i), colours[i]);
      touch(CellRect(grid_, static_cast<int64_t>(i)));
    }
  }
  if (chosen >= 0) {
    c.Mark(grid_, chosen, kSelectionColour);
    touch(GapRing(grid_, chosen));
  }
  if (frame >= 0) {
    c.Mark(grid_, frame, kFrameColour);
    touch(GapRing(grid_, frame));
  }
  framed_ = frame;
  selectionDrawn_ = chosen;
  drawn_ = std::move(colours);
  if (!IsRectEmpty(&dirty)) InvalidateRect(Control("PaintBox1"), &dirty, FALSE);
}

void TForm4::PaintGrid(const DRAWITEMSTRUCT& item) {
  RECT clip{};
  if (GetClipBox(item.hDC, &clip) == ERROR || IsRectEmpty(&clip)) clip = item.rcItem;
  if (!canvas_) {
    FillRect(item.hDC, &clip, GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  BitBlt(item.hDC, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, canvas_->dc, clip.left,
         clip.top, SRCCOPY);
}

void TForm4::DrawLegendSwatch(const DRAWITEMSTRUCT& item) {
  for (const auto& legend : kLegend) {
    if (item.hwndItem != Control(legend.swatch)) continue;
    HBRUSH brush = CreateSolidBrush(Colour(legend.kind));
    FillRect(item.hDC, &item.rcItem, brush);
    DeleteObject(brush);
    FrameRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNSHADOW));
  }
}

// ---------------------------------------------------------------- the layout

void TForm4::Layout(int width, int height) {
  HWND status = Control("StatusBar1");
  SendMessageW(status, WM_SIZE, 0, 0);
  InvalidateRect(status, nullptr, TRUE);  // its size grip goes when the window is maximised
  RECT bar{};
  GetWindowRect(status, &bar);
  const int labelsTop = height - (bar.bottom - bar.top) - Dpi(4) - 3 * Dpi(kLine);
  const int legendTop = labelsTop - Dpi(4) - Dpi(kLine);
  const int gridBottom = legendTop - Dpi(6);
  const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  SetWindowPos(Control("PaintBox1"), nullptr, Dpi(kMargin), Dpi(kGridTop), std::max(0, width - 2 * Dpi(kMargin)),
               std::max(0, gridBottom - Dpi(kGridTop)), flags);
  // The legend in a row, each name as wide as its text.
  int x = Dpi(kMargin);
  for (const auto& item : kLegend) {
    SetWindowPos(Control(item.swatch), nullptr, x, legendTop + (Dpi(kLine) - Dpi(kSwatch)) / 2, 0, 0,
                 flags | SWP_NOSIZE);
    HWND label = Control(item.label);
    RECT r{};
    GetWindowRect(label, &r);
    SetWindowPos(label, nullptr, x + Dpi(kSwatch + 4), legendTop, 0, 0, flags | SWP_NOSIZE);
    x += Dpi(kSwatch + 4) + (r.right - r.left) + Dpi(16);
  }
  for (int i = 0; i < 3; ++i)
    SetWindowPos(Control(kTotals[i]), nullptr, Dpi(kMargin), labelsTop + i * Dpi(kLine),
                 std::max(0, width - 2 * Dpi(kMargin)), Dpi(kLine), flags);
  // The canvas follows the drawing area's size.
  RECT area{};
  GetClientRect(Control("PaintBox1"), &area);
  if (!canvas_ || canvas_->width != std::max<int>(area.right, 1) || canvas_->height != std::max<int>(area.bottom, 1))
    canvas_ = std::make_unique<Canvas>(area.right, area.bottom);
}

void TForm4::FormResize() {
  RECT client{};
  GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
  Present(true);
}

// ---------------------------------------------------------------- the user's commands

void TForm4::HoldDialogs(bool hold) {
  dialogsHeld_ = hold;
  Enable("Button1", !hold);
  Enable("Button2", hasMap_ && !hold);
}

void TForm4::Button1Click() {
  if (dialogsHeld_) return;
  std::wstring buffer = openChoice_;
  buffer.resize(32768, L'\0');
  if (!RunFileDialog(hwnd_,
                     {.title = "Otwórz mapę odczytu",
                      .filter = L"Mapy odczytu (*.map)\0*.map\0Wszystkie pliki (*.*)\0*.*\0"},
                     buffer))
    return;
  openChoice_ = buffer.c_str();
  OpenMap(win::Narrow(openChoice_));
}

void TForm4::Button2Click() {
  if (!hasMap_ || dialogsHeld_) return;
  // The map's name with ".png" for ".map".
  std::string name = FileNamePart(mapPath_);
  if (name.size() > 4 && win::UpperCase(name.substr(name.size() - 4)) == ".MAP") name.resize(name.size() - 4);
  std::wstring buffer = win::Widen(name + ".png");
  buffer.resize(32768, L'\0');
  if (!RunFileDialog(hwnd_,
                     {.title = "Zapisz obraz",
                      .save = true,
                      .filter = L"Obrazy PNG (*.png)\0*.png\0Wszystkie pliki (*.*)\0*.*\0",
                      .defaultExtension = L"png",
                      .askOverwrite = true},
                     buffer))
    return;
  SavePicture(win::Narrow(buffer.c_str()));
}

void TForm4::SavePicture(const std::string& path) {
  const int pad = Dpi(kMargin), line = Dpi(kLine), swatch = Dpi(kSwatch);
  const int gridWidth = canvas_ ? canvas_->width : 0, gridHeight = canvas_ ? canvas_->height : 0;
  std::vector<std::string> totals;
  for (const char* name : kTotals) totals.push_back(Text(name));
  // The widths of the texts under the grid, in the form's font.
  Canvas measure(1, 1);
  HGDIOBJ oldFont = SelectObject(measure.dc, FormFont());
  auto textWidth = [&](const std::string& text) {
    const std::wstring w = win::Widen(text);
    SIZE extent{};
    GetTextExtentPoint32W(measure.dc, w.c_str(), static_cast<int>(w.size()), &extent);
    return static_cast<int>(extent.cx);
  };
  int legendWidth = pad;
  for (const auto& item : kLegend) legendWidth += swatch + Dpi(4) + textWidth(KindName(item.kind)) + Dpi(16);
  // The grid as shown, with a margin around it.
  int width = std::max(pad + gridWidth + pad, legendWidth);
  for (const auto& text : totals) width = std::max(width, pad + textWidth(text) + pad);
  SelectObject(measure.dc, oldFont);
  const int legendTop = pad + gridHeight + pad, totalsTop = legendTop + line + Dpi(4);
  const int height = totalsTop + 3 * line + pad;

  Canvas out(width, height);
  out.Fill({0, 0, out.width, out.height}, Background());
  MapGrid placed = grid_;
  placed.x += pad;
  placed.y += pad;
  for (size_t i = 0; i < drawn_.size(); ++i) out.Cell(placed, static_cast<int64_t>(i), drawn_[i]);
  oldFont = SelectObject(out.dc, FormFont());
  SetBkMode(out.dc, TRANSPARENT);
  SetTextColor(out.dc, GetSysColor(COLOR_WINDOWTEXT));
  auto text = [&](const std::string& utf8, int x, int y) {
    const std::wstring w = win::Widen(utf8);
    RECT r{x, y, out.width, y + line};
    DrawTextW(out.dc, w.c_str(), static_cast<int>(w.size()), &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  };
  GdiFlush();
  int x = pad;
  for (const auto& item : kLegend) {
    const RECT box{x, legendTop + (line - swatch) / 2, x + swatch, legendTop + (line - swatch) / 2 + swatch};
    out.Fill(box, Colour(item.kind));
    out.Ring(box, 1, GetSysColor(COLOR_BTNSHADOW));
    text(KindName(item.kind), x + swatch + Dpi(4), legendTop);
    x += swatch + Dpi(4) + textWidth(KindName(item.kind)) + Dpi(16);
  }
  for (size_t i = 0; i < totals.size(); ++i) text(totals[i], pad, totalsTop + static_cast<int>(i) * line);
  GdiFlush();
  SelectObject(out.dc, oldFont);

  try {
    const std::string png = win::EncodePng(out.bits, out.width, out.height, out.width * 4);
    win::WinFileSystem files;
    files.ReplaceContent(path, png);
  } catch (const std::exception& e) {
    throw std::runtime_error("Nie udało się zapisać obrazu do pliku " + path + ": " + e.what());
  }
}

void TForm4::FormDropFiles(HDROP drop) {
  POINT at{};
  const std::vector<std::string> paths = TakeDrop(drop, at);
  if (!paths.empty()) OpenMap(paths.front());
}

void TForm4::PaintBox1MouseDown(int x, int y) {
  SetFocus(Control("PaintBox1"));
  SelectCell(grid_.CellAt(x, y));
}

bool TForm4::PaintBox1KeyDown(WPARAM key) {
  if (key != VK_LEFT && key != VK_RIGHT && key != VK_UP && key != VK_DOWN && key != VK_HOME && key != VK_END)
    return false;
  if (grid_.cells <= 0) return true;
  const int64_t at = SelectedCell();
  int64_t to = at < 0 ? 0 : at;  // the first key chooses the first cell
  if (at >= 0) {
    switch (key) {
      case VK_LEFT: to = at - 1; break;
      case VK_RIGHT: to = at + 1; break;
      case VK_UP: to = at - grid_.columns; break;
      case VK_DOWN: to = at + grid_.columns; break;
      case VK_HOME: to = 0; break;
      default: to = grid_.cells - 1; break;
    }
  }
  if (to >= 0 && to < grid_.cells) SelectCell(to);
  return true;
}

// ---------------------------------------------------------------- messages

void TForm4::OnCommand(const std::string& name, int code) {
  if (code != BN_CLICKED) return;
  if (name == "Button1") Button1Click();
  else if (name == "Button2") Button2Click();
}

LRESULT TForm4::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
      Hide();  // closing only hides the window; a run it follows goes on
      return 0;
    case WM_SIZE:
      if (wp != SIZE_MINIMIZED && Control("PaintBox1")) FormResize();
      return 0;
    case WM_SHOWWINDOW:
      if (wp && stale_) {
        Present(true);
        wholePending_ = false;
      }
      break;
    case WM_TIMER:
      if (wp != kDrawTimer) break;
      KillTimer(hwnd_, kDrawTimer);
      if (drawPending_) DrawNow();
      return 0;
    case WM_GETMINMAXINFO: {
      RECT r{0, 0, Dpi(kMinWidth), Dpi(kMinHeight)};
      AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      info->ptMinTrackSize = {r.right - r.left, r.bottom - r.top};
      return 0;
    }
    case WM_DROPFILES:
      FormDropFiles(reinterpret_cast<HDROP>(wp));
      return 0;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (item->hwndItem == Control("PaintBox1")) {
        PaintGrid(*item);
      } else {
        DrawLegendSwatch(*item);
      }
      return TRUE;
    }
    default: break;
  }
  return Window::HandleMessage(msg, wp, lp);
}

LRESULT CALLBACK TForm4::PaintBoxProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR self) {
  auto* form = reinterpret_cast<TForm4*>(self);
  try {
    switch (msg) {
      case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
      case WM_LBUTTONDOWN:
        form->PaintBox1MouseDown(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
        return 0;
      case WM_KEYDOWN:
        if (form->PaintBox1KeyDown(wp)) return 0;
        break;
      case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, PaintBoxProc, 1);
        break;
      default: break;
    }
  } catch (const std::exception& e) {
    ReportError(e.what());
    return 0;
  } catch (...) {
    ReportError("");
    return 0;
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace sk::ui
