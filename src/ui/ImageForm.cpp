#include <windows.h>

#include "ui/ImageForm.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <numeric>
#include <optional>
#include <unordered_set>

#include "core/DiscSave.h"
#include "core/Formats.h"
#include "core/RescueSession.h"
#include "core/Text.h"
#include "ui/CommonControls.h"
#include "win/Utf.h"
#include "win/WinDirectory.h"
#include "win/WinFile.h"

namespace sk::ui {
namespace {

constexpr const char* kCaption = "Obraz płyty";
constexpr const char* kUnknownText = "Nieznana zawartość (uszkodzone sektory)";
constexpr const char* kNoFileSystemText = "Nie rozpoznano systemu plików";
// The status values, in the order of TForm5::shown_.
constexpr const char* kValues[] = {"Label4", "Label6", "Label8", "Label10"};

const std::vector<ControlSpec>& Controls() {
  // In tab order: ComboBox1, Edit1, Button1, Button2, Button3, ListView1, Button4, Button5.
  static const std::vector<ControlSpec> table = {
      {.name = "Label1", .cls = WC_STATICW, .caption = "Napęd:", .x = 8, .y = 11, .w = 76, .h = 13,
       .style = kLabel, .font = kBold},
      {.name = "ComboBox1", .cls = WC_COMBOBOXW, .caption = "", .x = 88, .y = 8, .w = 260, .h = 200,
       .style = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
      {.name = "Label2", .cls = WC_STATICW, .caption = "Plik obrazu:", .x = 8, .y = 39, .w = 76, .h = 13,
       .style = kLabel, .font = kBold},
      {.name = "Edit1", .cls = WC_EDITW, .caption = "", .x = 88, .y = 36, .w = 569, .h = 21,
       .style = ES_AUTOHSCROLL | WS_TABSTOP, .exStyle = WS_EX_CLIENTEDGE},
      {.name = "Button1", .cls = WC_BUTTONW, .caption = "...", .x = 661, .y = 36, .w = 31, .h = 21, .style = kButton},

      {.name = "GroupBox1", .cls = WC_BUTTONW, .caption = " Status ", .x = 4, .y = 64, .w = 692, .h = 77,
       .style = kGroupBox},
      {.name = "Label3", .cls = WC_STATICW, .caption = "Odczytano:", .x = 8, .y = 20, .w = 100, .h = 13,
       .style = kLabel, .parent = "GroupBox1", .font = kBold},
      {.name = "Label4", .cls = WC_STATICW, .caption = "brak", .x = 112, .y = 20, .w = 120, .h = 13,
       .style = kRightLabel, .parent = "GroupBox1"},
      {.name = "Label5", .cls = WC_STATICW, .caption = "Nieczytelne:", .x = 8, .y = 38, .w = 100, .h = 13,
       .style = kLabel, .parent = "GroupBox1", .font = kBold},
      {.name = "Label6", .cls = WC_STATICW, .caption = "brak", .x = 112, .y = 38, .w = 120, .h = 13,
       .style = kRightLabel, .parent = "GroupBox1"},
      {.name = "Label7", .cls = WC_STATICW, .caption = "Nie próbowano:", .x = 248, .y = 20, .w = 100, .h = 13,
       .style = kLabel, .parent = "GroupBox1", .font = kBold},
      {.name = "Label8", .cls = WC_STATICW, .caption = "brak", .x = 352, .y = 20, .w = 120, .h = 13,
       .style = kRightLabel, .parent = "GroupBox1"},
      {.name = "Label9", .cls = WC_STATICW, .caption = "Upłynęło:", .x = 248, .y = 38, .w = 100, .h = 13,
       .style = kLabel, .parent = "GroupBox1", .font = kBold},
      {.name = "Label10", .cls = WC_STATICW, .caption = "0 sek", .x = 352, .y = 38, .w = 120, .h = 13,
       .style = kRightLabel, .parent = "GroupBox1"},
      {.name = "Button2", .cls = WC_BUTTONW, .caption = "Rozpocznij", .x = 560, .y = 16, .w = 121, .h = 21,
       .style = BS_DEFPUSHBUTTON | WS_TABSTOP, .parent = "GroupBox1", .font = kBold},
      {.name = "Button3", .cls = WC_BUTTONW, .caption = "Zatrzymaj", .x = 560, .y = 44, .w = 121, .h = 21,
       .style = kButton | WS_DISABLED, .parent = "GroupBox1"},
      {.name = "Label12", .cls = WC_STATICW, .caption = "", .x = 8, .y = 58, .w = 540, .h = 13,
       .style = kLabel | SS_ENDELLIPSIS, .parent = "GroupBox1"},

      {.name = "GroupBox2", .cls = WC_BUTTONW, .caption = " Pliki na płycie ", .x = 4, .y = 146, .w = 692,
       .h = 362, .style = kGroupBox},
      {.name = "ListView1", .cls = WC_LISTVIEWW, .caption = "", .x = 8, .y = 16, .w = 676, .h = 310,
       .style = LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | WS_TABSTOP, .parent = "GroupBox2",
       .exStyle = WS_EX_CLIENTEDGE},
      {.name = "Label11", .cls = WC_STATICW, .caption = "", .x = 8, .y = 336, .w = 420, .h = 13,
       .style = kLabel | SS_ENDELLIPSIS, .parent = "GroupBox2"},
      {.name = "Button4", .cls = WC_BUTTONW, .caption = "Zapisz listę...", .x = 436, .y = 332, .w = 121, .h = 21,
       .style = kButton, .parent = "GroupBox2"},
      {.name = "Button5", .cls = WC_BUTTONW, .caption = "Zapisz pliki", .x = 563, .y = 332, .w = 121, .h = 21,
       .style = kButton, .parent = "GroupBox2"},
  };
  return table;
}

// The folders of `path` (a file's) made where they are missing.
void MakeFoldersFor(const std::string& path) {
  const std::string folder = FolderPart(path);
  if (folder.empty() || win::FolderExists(folder)) return;
  std::string parent = folder;
  while (!parent.empty() && (parent.back() == '\\' || parent.back() == '/')) parent.pop_back();
  MakeFoldersFor(parent);
  win::CreateFolder(folder);
}

}  // namespace

TForm5::TForm5() : clock_(std::make_unique<win::WinClock>()) {}

TForm5::~TForm5() = default;

void TForm5::Create() {
  CreateForm({.className = L"TForm5", .caption = kCaption, .clientWidth = 700, .clientHeight = 512,
              .style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, .exStyle = WS_EX_DLGMODALFRAME},
             Controls());
  SetUpList();
  Guarded([this] { FormCreate(); });
}

void TForm5::FormCreate() {
  stopRequested_ = false;
  ListDrives();
  ShowTotals();
}

void TForm5::SetUpList() {
  HWND list = Control("ListView1");
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES,
               LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES);
  // The boxes' state is this window's (an owner-data list keeps none).
  SendMessageW(list, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
  AddListColumns(list, {{"Ścieżka", 280}, {"Rozmiar", 80}, {"Nieczytelne", 80}, {"Nie odczytano", 100}, {"Stan", 110}});
}

void TForm5::Open() {
  if (!running_) ListDrives();
  ShowModeless();
}

void TForm5::OnCommand(const std::string& name, int code) {
  static constexpr struct {
    const char* name;
    void (TForm5::*handler)();
  } kButtons[] = {{"Button1", &TForm5::Button1Click}, {"Button2", &TForm5::Button2Click},
                  {"Button3", &TForm5::Button3Click}, {"Button4", &TForm5::Button4Click},
                  {"Button5", &TForm5::Button5Click}};
  for (const auto& b : kButtons)
    if (code == BN_CLICKED && name == b.name) (this->*b.handler)();
}

LRESULT TForm5::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
      // Closing stops a run after the block in hand, as closing the main
      // window stops a copy run; the window only hides.
      if (running_) Button3Click();
      Hide();
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(ControlId("Button2"), DC_HASDEFID);
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (HandleNotify(*reinterpret_cast<const NMHDR*>(lp), result)) return result;
      break;
    }
    default: break;
  }
  return Window::HandleMessage(msg, wp, lp);
}

// ---- the drives and the image file ----

void TForm5::ListDrives() {
  const char chosen = devicePath_.empty() ? 0 : win::DriveLetterOf(devicePath_);
  drives_ = win::ListDiscDrives();
  HWND combo = Control("ComboBox1");
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (const auto& drive : drives_)
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(win::Widen(drive.Caption()).c_str()));
  if (!drives_.empty() && !(chosen && SelectDrive(chosen))) SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

bool TForm5::SelectDrive(char letter) {
  for (size_t i = 0; i < drives_.size(); ++i) {
    if (drives_[i].letter == letter) {
      SendMessageW(Control("ComboBox1"), CB_SETCURSEL, i, 0);
      return true;
    }
  }
  return false;
}

void TForm5::Button1Click() {
  if (running_ || dialogsHeld_) return;
  // Proposed: the disc's label + ".iso" in the main window's destination folder.
  const int at = static_cast<int>(SendMessageW(Control("ComboBox1"), CB_GETCURSEL, 0, 0));
  std::string label = hasTree_ ? tree_.label : std::string();
  if (label.empty() && at >= 0 && at < static_cast<int>(drives_.size())) label = drives_[at].label;
  std::wstring buffer = imageChoice_.empty() ? win::Widen(WithSlash(destination_ ? destination_() : std::string()) +
                                                          VolumeFolderName(label) + ".iso")
                                             : imageChoice_;
  buffer.resize(32768, L'\0');
  if (!RunFileDialog(hwnd_, {.title = "Zapisz obraz płyty", .save = true, .defaultExtension = L"iso"}, buffer))
    return;
  imageChoice_ = buffer.c_str();
  SetText("Edit1", win::Narrow(imageChoice_));
}

void TForm5::Box(const std::string& text, UINT flags) {
  MessageBoxW(hwnd_, win::Widen(text).c_str(), win::Widen(kCaption).c_str(), flags);
}

void TForm5::Log(const std::string& text, EventKind kind) {
  if (log_) log_(text, kind);
}

// ---- the list ----

std::string TForm5::RowText(int row, int column) const {
  const DiscEntry& entry = RowEntry(row);
  if (column == 0) return entry.path;
  const EntryState state = StateOf(entry, map_);
  const std::string separator = win::DecimalSeparator();
  switch (column) {
    case 1: return entry.unknown ? std::string() : FormatSize(entry.size, separator);
    case 2: return entry.unknown || !state.unreadable ? std::string() : FormatSize(state.unreadable, separator);
    case 3: return entry.unknown || !state.notRead ? std::string() : FormatSize(state.notRead, separator);
    default: return entry.unknown ? kUnknownText : ConditionName(state.condition);
  }
}

bool TForm5::HandleNotify(const NMHDR& hdr, LRESULT& result) {
  if (hdr.hwndFrom != Control("ListView1")) return false;
  switch (hdr.code) {
    case LVN_GETDISPINFOW: {
      LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&hdr))->item;
      if (item.iItem < 0 || item.iItem >= RowCount()) return true;
      if (item.mask & LVIF_TEXT && item.pszText && item.cchTextMax > 0) {
        const std::wstring text = win::Widen(RowText(item.iItem, item.iSubItem));
        const size_t n = std::min<size_t>(text.size(), static_cast<size_t>(item.cchTextMax - 1));
        std::wmemcpy(item.pszText, text.data(), n);
        item.pszText[n] = L'\0';
      }
      if (item.mask & LVIF_STATE) {
        item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(Ticked(item.iItem) ? 2 : 1);
        item.stateMask |= LVIS_STATEIMAGEMASK;
      }
      return true;
    }
    case NM_CLICK: {
      // A click on a box ticks it: an owner-data list leaves that to its owner.
      const auto& click = reinterpret_cast<const NMITEMACTIVATE&>(hdr);
      LVHITTESTINFO hit{};
      hit.pt = click.ptAction;
      SendMessageW(hdr.hwndFrom, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
      if (hit.iItem >= 0 && hit.iSubItem == 0 && (hit.flags & LVHT_ONITEMSTATEICON)) ToggleRows({hit.iItem});
      return true;
    }
    case LVN_KEYDOWN: {
      if (reinterpret_cast<const NMLVKEYDOWN&>(hdr).wVKey != VK_SPACE) return false;
      std::vector<int> rows;
      for (int i = -1; (i = static_cast<int>(SendMessageW(hdr.hwndFrom, LVM_GETNEXTITEM, i, LVNI_SELECTED))) >= 0;)
        rows.push_back(i);
      ToggleRows(rows);
      return true;
    }
    case LVN_COLUMNCLICK:
      ListView1ColumnClick(reinterpret_cast<const NMLISTVIEW&>(hdr).iSubItem);
      result = 0;
      return true;
    default: return false;
  }
}

void TForm5::ToggleRows(const std::vector<int>& rows) {
  if (rows.empty()) return;
  // All ticked: untick them; otherwise tick them all.
  const bool on = !std::all_of(rows.begin(), rows.end(), [&](int r) { return Ticked(r); });
  for (int r : rows) ticks_.at(rows_.at(r)) = on;
  TicksChanged();
}

void TForm5::SetTicked(int row, bool on) {
  ticks_.at(rows_.at(row)) = on;
  TicksChanged();
}

void TForm5::TicksChanged() {
  std::vector<size_t> ticked;
  for (size_t i = 0; i < ticks_.size(); ++i)
    if (ticks_[i]) ticked.push_back(i);
  chosen_ = ChosenExtents(tree_, ticked);
  InvalidateRect(Control("ListView1"), nullptr, FALSE);
}

void TForm5::ListView1ColumnClick(int column) {
  if (column < 0 || column > 4) return;
  sortDown_ = column == sortColumn_ ? !sortDown_ : false;
  sortColumn_ = column;
  const auto& entries = tree_.entries;
  std::vector<EntryState> states(entries.size());
  if (column >= 2)
    for (size_t i = 0; i < entries.size(); ++i) states[i] = StateOf(entries[i], map_);
  // The state's order: the damaged first, then the unread, then the whole.
  auto rank = [](FileCondition c) { return c == FileCondition::kDamaged ? 0 : c == FileCondition::kUnread ? 1 : 2; };
  auto key = [&](size_t i) -> std::pair<int64_t, int64_t> {
    switch (column) {
      case 1: return {entries[i].size, 0};
      case 2: return {states[i].unreadable, 0};
      case 3: return {states[i].notRead, 0};
      case 4: return {rank(entries[i].unknown ? FileCondition::kDamaged : states[i].condition),
                      -(states[i].unreadable + states[i].notRead)};
      default: return {0, 0};
    }
  };
  // Ties keep the tree's order (by path).
  std::stable_sort(rows_.begin(), rows_.end(), [&](size_t a, size_t b) {
    if (column == 0) return sortDown_ ? a > b : a < b;
    const auto ka = key(a), kb = key(b);
    return sortDown_ ? kb < ka : ka < kb;
  });
  InvalidateRect(Control("ListView1"), nullptr, FALSE);
}

void TForm5::Listed(const DiscTree& tree) {
  // Listed again (a run going on after the disc came back, or a folder
  // read by a later pass): the ticks and the order stay when the files are
  // the same; otherwise the ticks stay on the paths that are still listed.
  bool same = hasTree_ && tree.entries.size() == tree_.entries.size();
  for (size_t i = 0; same && i < tree.entries.size(); ++i) same = tree.entries[i].path == tree_.entries[i].path;
  std::unordered_set<std::string> ticked;
  if (!same)
    for (size_t i = 0; i < ticks_.size() && i < tree_.entries.size(); ++i)
      if (ticks_[i]) ticked.insert(tree_.entries[i].path);
  tree_ = tree;
  hasTree_ = true;
  if (!same) {
    rows_.resize(tree_.entries.size());
    std::iota(rows_.begin(), rows_.end(), size_t{0});
    ticks_.assign(tree_.entries.size(), false);
    for (size_t i = 0; !ticked.empty() && i < tree_.entries.size(); ++i)
      ticks_[i] = ticked.count(tree_.entries[i].path) > 0;
    sortColumn_ = -1;
  }
  owners_ = std::make_unique<DiscOwners>(tree_);
  TicksChanged();
  SendMessageW(Control("ListView1"), LVM_SETITEMCOUNT, rows_.size(), LVSICF_NOSCROLL);
  // Under Wine, and with some drives, the system gives no label: the disc's own.
  const int at = static_cast<int>(SendMessageW(Control("ComboBox1"), CB_GETCURSEL, 0, 0));
  if (at >= 0 && at < static_cast<int>(drives_.size()) && drives_[at].label != tree_.label && !tree_.label.empty()) {
    drives_[at].hasDisc = true;
    drives_[at].label = tree_.label;
    HWND combo = Control("ComboBox1");
    SendMessageW(combo, CB_DELETESTRING, at, 0);
    SendMessageW(combo, CB_INSERTSTRING, at, reinterpret_cast<LPARAM>(win::Widen(drives_[at].Caption()).c_str()));
    SendMessageW(combo, CB_SETCURSEL, at, 0);
  }
  ShowTotals();
  UpdateWindow(hwnd_);
  if (ListedHook) ListedHook();
}

void TForm5::ShowTotals() {
  std::string text;
  if (hasTree_ && tree_.format == DiscFormat::kNone) {
    text = kNoFileSystemText;
  } else if (hasTree_) {
    const ConditionTotals t = TotalsOf(tree_, map_);
    text = "Cały: " + std::to_string(t.whole) + ", Uszkodzony: " + std::to_string(t.damaged) +
           ", Nieodczytany: " + std::to_string(t.unread);
    // Apart from the files: no file was hit there.
    if (t.outsideFiles > 0)
      text += "; poza plikami nieczytelne " + FormatSize(t.outsideFiles, win::DecimalSeparator());
  }
  if (Text("Label11") != text) SetText("Label11", text);
}

void TForm5::SaveList(const std::string& path) { files_.ReplaceContent(path, FileListText(tree_, map_)); }

void TForm5::Button4Click() {
  if (running_ || dialogsHeld_) return;
  std::wstring buffer = listChoice_;
  buffer.resize(32768, L'\0');
  if (!RunFileDialog(hwnd_, {.title = "Zapisz listę plików", .save = true, .defaultExtension = L"txt",
                             .askOverwrite = true},
                     buffer))
    return;
  listChoice_ = buffer.c_str();
  SaveList(win::Narrow(listChoice_));
}

void TForm5::Button5Click() { SaveFiles(); }

int TForm5::SaveFiles() {
  if (!hasTree_ || imagePath_.empty() || running_ || held_) return 0;
  std::vector<size_t> chosen;
  for (size_t i = 0; i < ticks_.size(); ++i)
    if (ticks_[i]) chosen.push_back(i);
  if (std::none_of(chosen.begin(), chosen.end(), [&](size_t i) { return !tree_.entries[i].unknown; })) {
    chosen.resize(tree_.entries.size());
    std::iota(chosen.begin(), chosen.end(), size_t{0});
  }
  // The save pumps messages: it is a run of this window, so nothing else
  // starts meanwhile (an image run would clear the list it writes out) and
  // "Zatrzymaj" stops it after the file in hand.
  RunHost::Run run(host_);
  if (!run.Began()) return 0;
  stopRequested_ = false;
  SetRunning(true);
  const size_t files = static_cast<size_t>(
      std::count_if(chosen.begin(), chosen.end(), [&](size_t i) { return !tree_.entries[i].unknown; }));
  Log("Rozpoczynanie zapisywania plików z obrazu płyty (plików: " + std::to_string(files) + ")", ekInfo);
  SaveReport report;
  auto log = [this](const std::string& text, EventKind kind) { Log(text, kind); };
  try {
    // Read beside a run, if one is under way: it writes only what its map then names.
    std::unique_ptr<IFile> image = files_.Open(imagePath_, OpenMode::ReadShared);
    win::WinDirectory dirs;
    const SaveSite site{files_, dirs, [](const std::string& path) { MakeFoldersFor(path); },
                        [](const std::string& path) { return win::UpperCase(path); }};
    Pacer pacer(*clock_);
    report = SaveDiscFiles(tree_, chosen, *image, map_, site, destination_ ? destination_() : std::string(),
                           win::DecimalSeparator(), log, [&] {
                             return pacer.Step([this] { PumpMessages(); }, [] {}, [this] { return stopRequested_; });
                           });
    image->Close();
  } catch (const FileError& e) {
    Log("Błąd: " + std::string(e.what()), ekError);
  }
  if (report.complete < report.chosen)
    Log("Błąd: Nie wszystkie pliki zostały skopiowane (" + std::to_string(report.complete) + " z " +
            std::to_string(report.chosen) + ")",
        ekError);
  Log("Zakończono kopiowanie plików", ekInfo);
  SetRunning(false);
  return report.complete;
}

// ---- the run ----

void TForm5::HoldStart(bool hold) {
  held_ = hold;
  GateControls();
}

void TForm5::HoldDialogs(bool hold) {
  dialogsHeld_ = hold;
  GateControls();
}

void TForm5::GateControls() {
  // The dialogs ("...", "Zapisz listę...") would hold a run's loop, and
  // "Rozpocznij" and "Zapisz pliki" are runs: greyed while any run is on.
  const bool idle = !running_ && !held_;
  for (const char* name : {"Button2", "Button5"}) Enable(name, idle);
  for (const char* name : {"Button1", "Button4"}) Enable(name, !running_ && !dialogsHeld_);
  for (const char* name : {"ComboBox1", "Edit1"}) Enable(name, !running_);
  Enable("Button3", running_);
}

void TForm5::Button3Click() { stopRequested_ = true; }

void TForm5::SetRunning(bool running) {
  running_ = running;
  HWND focus = GetFocus();
  const bool focusHere = focus && GetAncestor(focus, GA_ROOT) == hwnd_;
  GateControls();
  if (focusHere && !IsWindowEnabled(focus)) SetFocus(Control(running ? "Button3" : "Button2"));
}

void TForm5::Button2Click() {
  if (running_ || held_) return;
  const int at = static_cast<int>(SendMessageW(Control("ComboBox1"), CB_GETCURSEL, 0, 0));
  if (at < 0 || at >= static_cast<int>(drives_.size())) {
    Box("Nie ma napędu CD/DVD.");
    return;
  }
  const win::DiscDrive drive = drives_[at];
  std::string image = ImagePath();
  if (image.empty()) {
    Box("Wskaż plik obrazu.");
    return;
  }
  // The image never goes onto the disc it is made of.
  wchar_t full[MAX_PATH * 4] = {};
  const DWORD n = GetFullPathNameW(win::Widen(image).c_str(), MAX_PATH * 4, full, nullptr);
  if (win::DriveLetterOf(n ? win::Narrow(full) : image) == drive.letter) {
    Box("Plik obrazu nie może być zapisany na płycie, z której powstaje.");
    return;
  }
  RunImage(drive, image);
}

void TForm5::RunImage(const win::DiscDrive& drive, const std::string& image) {
  const std::string mapPath = MapPathFor(image);
  std::optional<RescueMap> earlier;
  try {
    earlier = LoadEarlierMap(files_, mapPath);
  } catch (const std::exception& e) {
    Box(e.what());
    return;
  }
  RunHost::Run run(host_);
  if (!run.Began()) return;
  const bool continuing = earlier.has_value();
  devicePath_ = drive.DevicePath();
  imagePath_ = image;
  mapPath_ = mapPath;
  map_ = continuing ? std::move(*earlier) : RescueMap();
  if (!continuing) {
    // A new image: nothing listed until its file system is read. Going on,
    // the list and its ticks stay (the ticked files are read first again).
    hasTree_ = false;
    tree_ = {};
    rows_.clear();
    ticks_.clear();
    chosen_.clear();
    owners_.reset();
    SendMessageW(Control("ListView1"), LVM_SETITEMCOUNT, 0, 0);
  }
  ShowTotals();
  stopRequested_ = false;
  startTime_ = clock_->Now();
  SetRunning(true);
  SetText("Label12", "");
  dataAreas_.reset();
  layoutText_.clear();
  Log("Rozpoczynanie obrazu płyty " + drive.Caption(), ekInfo);
  if (continuing) Log("Wczytano mapę odczytu " + FileNamePart(mapPath_), ekInfo);

  bool stopped = false, failed = false, mismatch = false;
  std::unique_ptr<IFile> device, out;
  pacer_.Restart();
  try {
    device = host_.Files().Open(devicePath_, OpenMode::ReadShared);
    out = host_.Files().Open(imagePath_, continuing ? OpenMode::ReadWriteExisting : OpenMode::CreateReadWrite);
    // The wait for the disc, the map's saves and the save after a failure
    // are the rescue session's, as in a copy run.
    MapKeeper keeper(host_.Files(), mapPath_, continuing);
    RescueSession session(*this, keeper, host_.Files(), devicePath_);
    // The drive's table of contents; none (Wine's image drives, some USB
    // drives): the run finds the sessions on the disc itself.
    DiscImageRun run(*this, {.continuing = continuing, .layout = win::ReadDriveLayout(devicePath_)});
    stopped = run.Run(session, device, *out, map_, *clock_, pacer_).stopped;
  } catch (const ImageMismatch&) {
    mismatch = true;
  } catch (const std::exception& e) {
    // Also what is no file's failure ends the run here: the window is
    // never left locked.
    Log("Błąd: " + std::string(e.what()), ekError);
    failed = true;
  }
  try {
    device.reset();
    if (out) out->Close();
  } catch (const FileError& e) {
    if (!failed) Log("Błąd: " + std::string(e.what()), ekError);
    failed = true;
  }
  out.reset();
  ShowStatus();
  ShowTotals();
  InvalidateRect(Control("ListView1"), nullptr, FALSE);
  const std::string separator = win::DecimalSeparator();
  std::string end;
  if (mismatch) {
    Log("Błąd: " + std::string(kImageMismatchText), ekError);
    end = kImageMismatchText;
  } else if (!failed) {
    const int64_t missing = dataAreas_ ? TotalsInside(map_, *dataAreas_).NotRead() + map_.Total(kBadSector)
                                       : map_.Unfinished();
    if (missing > 0) {
      end = "Nie odczytano " + FormatSize(missing, separator) + " płyty" + (stopped ? " (zatrzymano)" : "");
      Log("Błąd: " + end, ekError);
    } else {
      end = "Odczytano całą płytę";
      Log(end, ekSuccess);
    }
  } else {
    end = "Obraz płyty przerwany błędem";
  }
  Log("Zakończono obraz płyty", ekInfo);
  if (!layoutText_.empty() && !mismatch) end += "; " + layoutText_;
  SetText("Label12", end);
  SetRunning(false);
  run.End();
  if (mismatch) Box(kImageMismatchText, MB_OK | MB_ICONWARNING);
}

void TForm5::LaidOut(const DiscLayout& layout) {
  const ByteAreas areas = DataBytes(layout, map_.Size());
  if (CoversAll(areas, map_.Size())) {
    dataAreas_.reset();
  } else {
    dataAreas_ = areas;
    // GNU ddrescue going on with this image reads only what the run reads.
    const std::string domain = DomainMapPathFor(imagePath_);
    try {
      host_.Files().ReplaceContent(domain, DomainMap(areas, map_.Size()).ToText({"Domain mapfile. Created by Sektorian"}));
      Log("Zapisano obszar danych płyty " + FileNamePart(domain), ekInfo);
    } catch (const FileError& e) {
      Log("Błąd: " + std::string(e.what()), ekError);
    }
  }
  layoutText_ = LayoutText(layout);
  if (!layoutText_.empty()) {
    Log(layoutText_, ekInfo);
    SetText("Label12", layoutText_);
  }
}

void TForm5::Pump() { PumpMessages(); }

void TForm5::Show() {
  // Made while the next block's read waits (a failing read takes long): the
  // window shows the status as it is at that moment.
  ShowStatus();
  ShowTotals();
  InvalidateRect(Control("ListView1"), nullptr, FALSE);
  UpdateWindow(hwnd_);
  if (RefreshHook) RefreshHook();
  pacer_.RefreshMade();
}

void TForm5::ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) {
  if (rescueMapHook_ && map.Size() > 0) rescueMapHook_(mapPath, map, live);
}

bool TForm5::AskMediumRetry(MediumQuestion question) {
  return AskRetry ? AskRetry() : ui::AskMediumRetry(hwnd_, question);
}

void TForm5::ShowStatus() {
  const std::string separator = win::DecimalSeparator();
  // None: "brak", as the map window says it.
  auto size = [&](int64_t bytes) { return bytes ? FormatSize(bytes, separator) : std::string("brak"); };
  // Gaps between sessions and audio tracks are never tried: not counted.
  const int64_t notTried = dataAreas_ ? TotalsInside(map_, *dataAreas_).NotRead()
                                      : map_.Total(kNonTried) + map_.Total(kNonTrimmed) + map_.Total(kNonScraped);
  const std::string texts[4] = {
      size(map_.Total(kFinished)), size(map_.Total(kBadSector)), size(notTried),
      FormatElapsed(running_ ? (elapsed_ = ElapsedSeconds(clock_->Now(), startTime_)) : elapsed_)};
  for (int i = 0; i < 4; ++i) {
    if (texts[i] == shown_[i]) continue;
    shown_[i] = texts[i];
    SetText(kValues[i], texts[i]);
  }
}

void TForm5::WhileWaiting() {
  if (running_) ShowStatus();
}

std::string TForm5::DescribeOwners(const std::string& mapPath, int64_t pos, int64_t end) const {
  if (!owners_ || mapPath_.empty() || win::UpperCase(mapPath) != win::UpperCase(mapPath_)) return {};
  return owners_->Describe(pos, end);
}

}  // namespace sk::ui
