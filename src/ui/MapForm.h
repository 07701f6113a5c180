// The read map window TForm4 ("Mapa odczytu"): a read map as a grid of
// coloured cells, its legend and totals, the text of a chosen cell, saving the
// picture as PNG. It shows a map file the user opens (or drops), and during a
// rescue the file being rescued, at the rescue's paced refreshes.
#pragma once
#include "ui/Window.h"

#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/MapPicture.h"

namespace sk::ui {

class TForm4 : public Window {
 public:
  TForm4();
  ~TForm4() override;
  void Create();  // created hidden, modeless; closing it only hides it

  // ---- what it shows ----
  // A rescue's map as it stands (its start, a paced refresh, its end with
  // `live` false), with a black frame on the cell of map.currentPos while
  // live. Nothing of `map` is kept beyond the call but a copy. A visible
  // window draws it at once, unless it drew less than its own interval ago
  // (40 times what its last drawing took, 100 to 250 ms): then it draws the
  // newest map it was given when that time is up (a timer), so that the
  // files of a fast run cost a drawing now and then, not two each. A hidden
  // window draws it when it is shown.
  void ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live);
  // Opens a map file, as "Otwórz..." and a drop do. A file that is not a map
  // is refused with a box ("Plik X nie jest mapą odczytu.") and the window
  // keeps what it showed. Returns whether the map is shown now.
  bool OpenMap(const std::string& path);
  // The grid as shown (without the chosen cell's mark and the frame), with
  // a margin of 8 pixels (at 96 DPI) around it and the legend and the
  // totals under it, as a PNG (Windows' image encoder); the file is whole or
  // not there. Throws with the program's text.
  void SavePicture(const std::string& path);

  // A map given by a rescue waits for the window's interval to be drawn.
  bool DrawPending() const { return drawPending_; }
  bool HasMap() const { return hasMap_; }
  // While held (a run is under way), "Otwórz..." and "Zapisz obraz..." are
  // greyed and do nothing: their file dialogs would hold the run.
  void HoldDialogs(bool hold);
  void RunsChanged(const RunState& runs) override { HoldDialogs(!runs.May(RunCommand::MapFiles)); }
  bool DialogsHeld() const { return dialogsHeld_; }
  bool Live() const { return live_; }
  const std::string& MapPath() const { return mapPath_; }
  const MapPicture& Picture() const { return picture_; }
  // Where the cells lie in the drawing area "PaintBox1" (its client pixels).
  const MapGrid& Grid() const { return grid_; }
  int64_t SelectedCell() const;  // -1: none
  int64_t FramedCell() const { return framed_; }  // the live cell; -1: none
  // Selects a cell as a click on it does (-1: none) and shows its text.
  void SelectCell(int64_t cell);
  // The chosen cell's text as the status line shows it: its bytes by kind,
  // then (a disc image's map) what lies there, from `CellOwners`.
  std::string CellDetail() const;
  // What of a map's file owns the bytes [pos, end) (a disc image's files, or
  // "system plików"); empty: nothing known.
  std::function<std::string(const std::string& mapPath, int64_t pos, int64_t end)> CellOwners;

  // The colour of a kind of cell, and of the frame of the live cell.
  static COLORREF Colour(CellKind kind);
  static constexpr COLORREF kFrameColour = RGB(0, 0, 0);
  static constexpr COLORREF kSelectionColour = RGB(0, 90, 255);

  // ---- handlers ----
  void Button1Click();  // "Otwórz..."
  void Button2Click();  // "Zapisz obraz..."
  void FormDropFiles(HDROP drop);
  void FormResize();
  void PaintBox1MouseDown(int x, int y);
  // An arrow key (or Home, End) moves the selection; false: not such a key.
  bool PaintBox1KeyDown(WPARAM key);

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnCommand(const std::string& name, int code) override;

 private:
  struct Canvas;
  static LRESULT CALLBACK PaintBoxProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR self);
  // Takes a new picture (from a run, paced, or a file) and shows it.
  void Take(const std::string& mapPath, MapPicture picture, bool live, bool paced);
  // Draws the picture now, and times it for the next paced drawing.
  void DrawNow();
  // Brings the controls and the drawn cells up to date with the picture;
  // `whole`: draw every cell anew (a new size or a new file).
  void Present(bool whole);
  void Layout(int width, int height);
  void DrawCells(bool whole);
  void DrawLegendSwatch(const DRAWITEMSTRUCT& item);
  void PaintGrid(const DRAWITEMSTRUCT& item);
  void ShowLabel(const char* name, const std::string& text);

  MapPicture picture_;
  std::string mapPath_;
  bool hasMap_ = false;
  bool dialogsHeld_ = false;
  bool live_ = false;
  bool stale_ = false;  // a picture taken while hidden, not drawn yet
  bool drawPending_ = false;     // a rescue's picture waits for the timer
  bool wholePending_ = false;    // ... and it is of another file
  unsigned long long lastDraw_ = 0;  // GetTickCount64 at the last drawing
  unsigned drawInterval_ = 100;      // ms between a rescue's drawings
  MapGrid grid_;
  std::vector<CellKind> drawn_;  // the colours the canvas holds
  int64_t framed_ = -1;          // the cell framed on the canvas
  int64_t selectedPos_ = -1;     // the first byte of the chosen cell
  int64_t selectionDrawn_ = -1;  // the cell drawn as chosen
  std::unique_ptr<Canvas> canvas_;
  std::wstring openChoice_;
  std::string separator_ = ",";  // the user's decimal separator, for the sizes
};

}  // namespace sk::ui
