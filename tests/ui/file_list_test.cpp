#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include <memory>

#include <functional>

#include "core/Formats.h"
#include "support/UiTest.h"
#include "ui/InputPrompt.h"
#include "ui/MainForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::ui {
namespace {

using Paths = std::vector<std::string>;

using test::WhileModal;

HWND Child(HWND parent, const wchar_t* cls, int nth = 0) {
  HWND h = nullptr;
  for (int i = 0; i <= nth; ++i) h = FindWindowExW(parent, h, cls, nullptr);
  return h;
}

void Click(HWND button) {
  PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

struct FileList : ::testing::Test {
  TForm1 form;
  test::TempDir tmp;
  HWND list = nullptr;

  void SetUp() override {
    form.Create();
    ShowWindow(form.hwnd(), SW_SHOWNORMAL);
    list = form.Control("ListView1");
    test::Flush();
  }
  std::string Make(const std::string& name, size_t size) {
    test::WriteFile(tmp / name, test::Pattern(size));
    return tmp / name;
  }
  void Select(int index) {
    LVITEMW it{};
    it.stateMask = it.state = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&it));
  }
  // The background the form gives row `index` when the list asks before
  // painting it.
  COLORREF RowColour(int index) {
    NMLVCUSTOMDRAW cd{};
    cd.nmcd.hdr = {list, static_cast<UINT_PTR>(GetDlgCtrlID(list)), static_cast<UINT>(NM_CUSTOMDRAW)};
    cd.nmcd.dwDrawStage = CDDS_PREPAINT;
    EXPECT_EQ(SendMessageW(form.hwnd(), WM_NOTIFY, cd.nmcd.hdr.idFrom, reinterpret_cast<LPARAM>(&cd)),
              CDRF_NOTIFYITEMDRAW);
    cd.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
    cd.nmcd.dwItemSpec = static_cast<DWORD_PTR>(index);
    cd.clrTextBk = CLR_DEFAULT;
    SendMessageW(form.hwnd(), WM_NOTIFY, cd.nmcd.hdr.idFrom, reinterpret_cast<LPARAM>(&cd));
    return cd.clrTextBk;
  }
  // The colour painted in row `index`, right of the size text.
  COLORREF PaintedColour(int index) {
    RECT r{};
    r.left = LVIR_BOUNDS;
    SendMessageW(list, LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
    HDC dc = GetDC(list);
    const COLORREF c = GetPixel(dc, Dpi(550 + 90), (r.top + r.bottom) / 2);
    ReleaseDC(list, dc);
    return c;
  }
  std::string InfoTip(int index) {
    wchar_t text[1024] = L"preloaded caption";
    NMLVGETINFOTIPW tip{};
    tip.hdr = {list, static_cast<UINT_PTR>(GetDlgCtrlID(list)), static_cast<UINT>(LVN_GETINFOTIPW)};
    tip.pszText = text;
    tip.cchTextMax = 1024;
    tip.iItem = index;
    SendMessageW(form.hwnd(), WM_NOTIFY, tip.hdr.idFrom, reinterpret_cast<LPARAM>(&tip));
    return win::Narrow(text);
  }
  int Id(const char* name) { return form.ControlId(name); }
};

TEST_F(FileList, ColumnsAndListStylesAsDesigned) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  ASSERT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 2);
  const char* titles[] = {"Nazwa pliku", "Rozmiar pliku"};
  const int widths[] = {550, 99};
  for (int i = 0; i < 2; ++i) {
    wchar_t text[64] = {};
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.pszText = text;
    col.cchTextMax = 64;
    SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
    EXPECT_EQ(win::Narrow(text), titles[i]);
    EXPECT_EQ(col.cx, Dpi(widths[i]));
  }
  const LONG style = GetWindowLongW(list, GWL_STYLE);
  EXPECT_FALSE(style & (LVS_SINGLESEL | LVS_EDITLABELS | LVS_SORTASCENDING | LVS_SORTDESCENDING));
  const auto ex = SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
  EXPECT_TRUE(ex & LVS_EX_FULLROWSELECT);
  EXPECT_TRUE(ex & LVS_EX_INFOTIP);
  EXPECT_TRUE(form.ListHints());
}

TEST_F(FileList, TheSameFileTwiceIsListedTwiceEachWithItsOwnSize) {
  const std::string p = Make("twice.bin", 5);
  form.AddFileToList(p);
  test::WriteFile(p, test::Pattern(1536));
  form.AddFileToList(p);
  EXPECT_EQ(form.ListCaptions(), (Paths{p, p}));
  EXPECT_EQ(form.ListSizeText(0), "5 B");
  EXPECT_EQ(form.ListSizeText(1), "1" + win::DecimalSeparator() + "5 kB");
  // A file that is gone is still listed, with no figure.
  form.AddFileToList(tmp / "nie ma.bin");
  EXPECT_EQ(form.ListCount(), 3);
  EXPECT_EQ(form.ListSizeText(2), " B");
}

TEST_F(FileList, LongPathsInAnyScriptAreListedAndSized) {
  // A file some 600 characters deep, in folders named in three scripts.
  std::string folder = tmp.path().substr(0, tmp.path().size() - 1);
  std::vector<std::string> folders;
  for (int i = 0; i < 11; ++i) {
    folder += "\\" + std::string(i % 3 == 0 ? "Łódź" : i % 3 == 1 ? "Ωμέγα" : "日本語") + std::string(44, 'x');
    folders.push_back(folder);
    ASSERT_TRUE(CreateDirectoryW(win::LongPath(folder).c_str(), nullptr));
  }
  const std::string file = folder + "\\plik ąę.bin";
  ASSERT_GT(file.size(), 560u);
  HANDLE h = CreateFileW(win::LongPath(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const std::string bytes = test::Pattern(2100);
  DWORD done = 0;
  ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  CloseHandle(h);

  form.AddFileToList(file);
  form.AddFolderToList(folders.front());
  EXPECT_EQ(form.ListCaptions(), (Paths{file, file}));
  EXPECT_EQ(form.ListSizeText(1), "2" + win::DecimalSeparator() + "05 kB");

  DeleteFileW(win::LongPath(file).c_str());
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) RemoveDirectoryW(win::LongPath(*it).c_str());
}

TEST_F(FileList, RemovingThreeOfTenKeepsOrderAndRecolours) {
  Paths all;
  for (int i = 0; i < 10; ++i) {
    all.push_back(Make("f" + std::to_string(i) + ".txt", static_cast<size_t>(i)));
    form.AddFileToList(all.back());
  }
  form.Button3Click();  // nothing selected: nothing happens
  EXPECT_EQ(form.ListCaptions(), all);
  test::Flush();
  for (int i : {2, 5, 8}) Select(i);
  form.Button3Click();
  EXPECT_EQ(form.ListCaptions(), (Paths{all[0], all[1], all[3], all[4], all[6], all[7], all[9]}));
  for (int i = 0; i < 7; ++i) EXPECT_EQ(RowColour(i), i % 2 ? RGB(251, 248, 240) : RGB(255, 255, 255)) << i;
  // What is on the screen follows the new indices too (f3 moved from an odd
  // row to an even one).
  UpdateWindow(list);
  test::Flush();
  for (int i = 0; i < 7; ++i) EXPECT_EQ(PaintedColour(i), RowColour(i)) << i;
  form.Button4Click();
  EXPECT_EQ(form.ListCount(), 0);
}

TEST_F(FileList, InfoTipHasThreeLinesSeparatedByLfCr) {
  const std::string p = Make("b.txt", 12);
  form.AddFileToList(p);
  EXPECT_EQ(InfoTip(0), "Nazwa pliku: b.txt\n\rFolder: " + tmp.path() + "\n\rRozmiar: 12 B");
  // With the hint switch off the list shows no tip at all.
  form.SetListHints(false);
  EXPECT_EQ(InfoTip(0), "");
  EXPECT_FALSE(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_INFOTIP);
  form.SetListHints(true);
  EXPECT_EQ(InfoTip(0).substr(0, 19), "Nazwa pliku: b.txt\n");
}

TEST_F(FileList, TypedPathPromptAddsTheFolderAndCancelChangesNothing) {
  const std::string a = Make("a.txt", 1);
  CreateDirectoryW(win::Widen(tmp / "sub").c_str(), nullptr);
  const std::string c = Make("sub\\c.txt", 2);
  form.AddFileToList(a);
  form.SetText("Edit1", "D:\\cel");

  bool ownerDisabled = false;
  std::string caption, prompt, field;
  auto typeAndPress = [&](const std::string& text, const char* button) {
    return [&, text, button] {
      HWND w = WhileModal::OwnedWindow(form.hwnd(), InputPrompt::kClassName);
      if (!w) return false;
      ownerDisabled = !IsWindowEnabled(form.hwnd());
      caption = test::WindowText(w);
      prompt = test::WindowText(Child(w, L"Static"));
      field = test::WindowText(Child(w, L"Edit"));
      SetWindowTextW(Child(w, L"Edit"), win::Widen(text).c_str());
      Click(FindWindowExW(w, nullptr, L"Button", win::Widen(button).c_str()));
      return true;
    };
  };
  {
    WhileModal drive(form.hwnd(), typeAndPress(tmp.path(), "Cancel"));
    form.Wpiszciekfolderu1Click();
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  EXPECT_EQ(caption, "Wpisywanie ścieżki");
  EXPECT_EQ(prompt, "Wpisz pełną ścieżkę, z której chcesz dodać pliki");
  EXPECT_EQ(field, "");
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(form.hwnd()));
  EXPECT_EQ(form.ListCaptions(), (Paths{a}));
  EXPECT_EQ(form.Text("Edit1"), "D:\\cel");

  {
    WhileModal drive(form.hwnd(), typeAndPress(tmp.path(), "OK"));
    form.Wpiszciekfolderu1Click();
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  EXPECT_EQ(form.ListCaptions(), (Paths{a, a, c}));
  EXPECT_EQ(form.ListSizeText(2), "2 B");
  EXPECT_EQ(form.FileFinder1.Path, tmp.path());

  // The field starts empty again; closing the window is a cancel.
  field = "?";
  {
    WhileModal drive(form.hwnd(), [&] {
      HWND w = WhileModal::OwnedWindow(form.hwnd(), InputPrompt::kClassName);
      if (!w) return false;
      field = test::WindowText(Child(w, L"Edit"));
      PostMessageW(w, WM_CLOSE, 0, 0);
      return true;
    });
    form.Wpiszciekfolderu1Click();
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  EXPECT_EQ(field, "");
  EXPECT_EQ(form.ListCount(), 3);
}

TEST_F(FileList, FolderDialogPreselectsTheLastFolderAndCancelChangesNothing) {
  const std::string folder = tmp.path().substr(0, tmp.path().size() - 1);
  const std::string a = Make("a.txt", 4);
  form.SetText("Edit1", "D:\\cel");
  form.FolderBrowseDialog1.FolderName = folder;
  auto press = [&](int button) {
    return [&, button] {
      HWND w = WhileModal::OwnedWindow(form.hwnd(), L"#32770");
      if (!w || !GetDlgItem(w, button)) return false;
      Sleep(200);  // let the preselection settle
      PostMessageW(w, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, button)));
      return true;
    };
  };
  for (auto handler : {&TForm1::Button5Click, &TForm1::Wybierzfolder1Click}) {
    WhileModal drive(form.hwnd(), press(IDCANCEL));
    (form.*handler)();
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  EXPECT_EQ(form.Text("Edit1"), "D:\\cel");
  EXPECT_EQ(form.ListCount(), 0);
  EXPECT_EQ(form.FolderBrowseDialog1.FolderName, folder);

  // OK with nothing touched confirms the preselected folder, in either use.
  {
    WhileModal drive(form.hwnd(), press(IDOK));
    form.Button5Click();
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  EXPECT_EQ(form.Text("Edit1"), folder);
  {
    WhileModal drive(form.hwnd(), press(IDOK));
    form.Wybierzfolder1Click();
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  EXPECT_EQ(form.ListCaptions(), (Paths{a}));
  // The shell's display name of the item (a bare name or the whole path).
  const std::string shown = form.FolderBrowseDialog1.DisplayName();
  EXPECT_EQ(shown, folder.substr(folder.size() - shown.size()));
}

TEST_F(FileList, OpenDialogAddsChosenFilesInOrderAndCancelChangesNothing) {
  const std::string x = Make("x.txt", 1), y = Make("y.txt", 2);
  form.AddFileToList(x);
  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  SetCurrentDirectoryW(win::Widen(tmp.path()).c_str());
  std::string title;
  auto answer = [&](const wchar_t* names, int button) {
    auto navigated = std::make_shared<bool>(false);
    return [&, names, button, navigated] {
      HWND w = WhileModal::OwnedWindow(form.hwnd(), L"#32770");
      if (!w || !GetDlgItem(w, button)) return false;
      title = test::WindowText(w);
      if (names) {
        HWND name = GetDlgItem(w, cmb13);
        if (!name) name = GetDlgItem(w, edt1);
        if (!*navigated) {
          // The dialog may open in the folder chosen last by another test:
          // go to this test's folder first by typing it.
          *navigated = true;
          SetWindowTextW(name, win::Widen(tmp.path()).c_str());
          PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, IDOK)));
          return false;
        }
        Sleep(200);  // let the folder change settle
        SetWindowTextW(name, names);
      }
      PostMessageW(w, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, button)));
      return true;
    };
  };
  {
    WhileModal drive(form.hwnd(), answer(nullptr, IDCANCEL));
    form.Button1Click();
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  EXPECT_EQ(title, "Dodaj plik(i)");
  EXPECT_EQ(form.ListCaptions(), (Paths{x}));
  {
    WhileModal drive(form.hwnd(), answer(L"\"y.txt\" \"x.txt\"", IDOK));
    form.Button1Click();
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  SetCurrentDirectoryW(before);
  EXPECT_EQ(form.ListCaptions(), (Paths{x, y, x}));
  EXPECT_EQ(form.ListSizeText(1), "2 B");
}

TEST_F(FileList, ListCommandsAndStartWaitWhileAFolderSearchRuns) {
  const std::string keep = Make("keep.txt", 1);
  Make("one.txt", 1);
  Make("two.txt", 1);
  form.AddFileToList(keep);
  // Clicks that arrive while the search pumps messages.
  for (const char* name : {"Button4", "Wyczylist1", "Button7"})
    PostMessageW(form.hwnd(), WM_COMMAND, MAKEWPARAM(Id(name), BN_CLICKED), 0);
  form.AddFolderToList(tmp.path());
  EXPECT_FALSE(form.SearchRunning());
  ASSERT_EQ(form.ListCount(), 4);
  EXPECT_EQ(form.ListCaption(0), keep);
  // Afterwards the commands work again.
  PostMessageW(form.hwnd(), WM_COMMAND, MAKEWPARAM(Id("Button4"), BN_CLICKED), 0);
  test::Flush();
  EXPECT_EQ(form.ListCount(), 0);
}

}  // namespace
}  // namespace sk::ui
