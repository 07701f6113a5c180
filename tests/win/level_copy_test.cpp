// The level copy routine on real Windows files (under Wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "core/LevelCopy.h"
#include "core/RescueMap.h"
#include "support/UiTest.h"
#include "win/Utf.h"
#include "win/WinDirectory.h"
#include "win/WinFile.h"

namespace sk {
namespace {

struct Entry {
  std::string text;
  int kind;
  bool operator==(const Entry&) const = default;
};

struct RecordingView : ICopyView {
  CopyStatus status;
  std::vector<Entry> log;
  bool checkSizes = true;
  bool rescue = false;
  bool RescueMode() override { return rescue; }
  void LogEvent(const std::string& text, EventKind kind) override { log.push_back({text, kind}); }
  CopyStatus& Status() override { return status; }
  void ShowStatus() override {}
  void PumpMessages() override {}
  bool StopRequested() override { return false; }
  double CopyStartTime() override { return 0; }
  bool CheckSizes() override { return checkSizes; }
  bool Logged(const std::string& text) const {
    for (const auto& e : log)
      if (e.text == text) return true;
    return false;
  }
};

struct Rig {
  win::WinFileSystem files;
  win::WinClock clock;
  Pacer pacer{clock};
  RecordingView view;
  // The error that ended the copy ("" when none).
  std::string Copy(const std::string& from, const std::string& to, int level) {
    try {
      CopyFileAtLevel({files, clock, view, pacer}, from, to, level);
    } catch (const FileError& e) {
      return e.what();
    }
    return "";
  }
};

TEST(WinLevelCopy, ByteIdenticalAtEveryLevel) {
  test::TempDir dir;
  for (int level = 0; level <= 4; ++level) {
    const size_t bs = BlockSize(level);
    for (size_t size : {size_t{0}, size_t{1}, bs - 1, bs, bs + 1, size_t{2} << 20}) {
      if (size == 0 && bs == 1) continue;  // bs - 1 is 0 here, done already
      SCOPED_TRACE("level " + std::to_string(level) + " size " + std::to_string(size));
      const std::string data = test::Pattern(size, static_cast<unsigned>(size + level));
      test::WriteFile(dir / "src.bin", data);
      Rig rig;
      ASSERT_EQ(rig.Copy(dir / "src.bin", dir / "dst.bin", level), "");
      EXPECT_TRUE(test::ReadFile(dir / "dst.bin") == data);
      EXPECT_TRUE(rig.view.Logged("Rozmiar plików jest taki sam - sukces"));
      EXPECT_EQ(rig.view.log.back().text, "Zakończono kopiowanie pliku src.bin");
      EXPECT_EQ(rig.view.status.filePosition, static_cast<int64_t>(size));
    }
  }
}

TEST(WinLevelCopy, ExistingDestinationIsReplaced) {
  test::TempDir dir;
  test::WriteFile(dir / "a.bin", test::Pattern(3000, 1));
  test::WriteFile(dir / "b.bin", test::Pattern(90000, 2));
  Rig rig;
  ASSERT_EQ(rig.Copy(dir / "a.bin", dir / "b.bin", 3), "");
  EXPECT_TRUE(test::ReadFile(dir / "b.bin") == test::Pattern(3000, 1));
}

TEST(WinLevelCopy, OpenFailuresCarryTheirWindowsTexts) {
  test::TempDir dir;
  test::WriteFile(dir / "a.bin", test::Pattern(5000));
  {
    Rig rig;
    EXPECT_NE(rig.Copy(dir / "missing.bin", dir / "b.bin", 4), "");
    EXPECT_EQ(rig.view.log.back(), (Entry{"Błąd: File not found", ekError}));
    EXPECT_FALSE(test::FileExists(dir / "b.bin"));
  }
  {
    Rig rig;
    EXPECT_NE(rig.Copy(dir / "a.bin", dir / "no such folder\\b.bin", 4), "");
    EXPECT_TRUE(rig.view.Logged("Błąd: Invalid filename"));
    EXPECT_EQ(rig.view.log.back().text, "Czytanie i zapisywanie bajtów");
  }
  {
    // Another program holds the source without sharing it.
    HANDLE lock = CreateFileW(win::Widen(dir / "a.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    Rig rig;
    EXPECT_NE(rig.Copy(dir / "a.bin", dir / "c.bin", 4), "");
    CloseHandle(lock);
    EXPECT_EQ(rig.view.log.back(), (Entry{"Błąd: I/O error 32", ekError}));
    EXPECT_FALSE(test::FileExists(dir / "c.bin"));
  }
  {
    // In rescue mode, over an earlier rescue's file and its map, the file
    // held by another program: both stay as they were.
    const std::string earlier = test::Pattern(5000, 3), map = RescueMap(5000, '-').ToText();
    test::WriteFile(dir / "d.bin", earlier);
    test::WriteFile(dir / "d.bin.map", map);
    HANDLE lock = CreateFileW(win::Widen(dir / "d.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    Rig rig;
    rig.view.rescue = true;
    EXPECT_NE(rig.Copy(dir / "a.bin", dir / "d.bin", 4), "");
    CloseHandle(lock);
    EXPECT_TRUE(rig.view.Logged("Błąd: I/O error 32"));
    EXPECT_TRUE(test::ReadFile(dir / "d.bin") == earlier);
    EXPECT_EQ(test::ReadFile(dir / "d.bin.map"), map);
  }
}

// What a copy run tells free names by: one listing of the destination folder
// (every name, folders too; none for a folder that is not there), and a
// create that refuses a name already there however its letters are cased.
TEST(WinLevelCopy, FolderNamesAndANewFileThatRefusesAnExistingName) {
  test::TempDir dir;
  test::WriteFile(dir / "Plik.bin", "stary");
  CreateDirectoryW(win::Widen(dir / "podfolder").c_str(), nullptr);
  const auto names = win::FolderNames(dir / "");
  ASSERT_TRUE(names.has_value());
  for (const char* name : {"Plik.bin", "podfolder"})
    EXPECT_NE(std::find(names->begin(), names->end(), name), names->end()) << name;
  EXPECT_FALSE(win::FolderNames(dir / "brak").has_value());

  win::WinFileSystem files;
  for (const char* name : {"PLIK.BIN", "podfolder"}) {
    try {
      files.Open(dir / name, OpenMode::CreateNew);
      ADD_FAILURE() << name << " replaced";
    } catch (const FileExistsError&) {
    } catch (const FileError& e) {
      ADD_FAILURE() << name << ": " << e.what();
    }
  }
  EXPECT_EQ(test::ReadFile(dir / "Plik.bin"), "stary");
  files.Open(dir / "nowy.bin", OpenMode::CreateNew)->Close();
  EXPECT_TRUE(test::FileExists(dir / "nowy.bin"));
}

TEST(WinLevelCopy, FileNamesInOtherScripts) {
  test::TempDir dir;
  CreateDirectoryW(win::Widen(dir / "Źródło").c_str(), nullptr);
  const std::string name = "Ελληνικά файл 日本語 żółć.dat";
  const std::string data = test::Pattern(4321, 9);
  test::WriteFile(dir / "Źródło\\" + name, data);
  Rig rig;
  ASSERT_EQ(rig.Copy(dir / "Źródło\\" + name, dir / name, 2), "");
  EXPECT_TRUE(test::ReadFile(dir / name) == data);
  EXPECT_EQ(rig.view.log.front().text, "Rozpoczynanie kopiowania pliku " + name);
  EXPECT_EQ(rig.view.status.fileName, name);
}

TEST(WinLevelCopy, PathsLongerThanMaxPath) {
  test::TempDir dir;
  std::string folder = dir.path();
  while (folder.size() < 300) {
    folder += std::string(60, 'k') + "\\";
    ASSERT_TRUE(CreateDirectoryW(win::LongPath(folder).c_str(), nullptr));
  }
  const std::string data = test::Pattern(2000, 4);
  test::WriteFile(dir / "short.bin", data);
  Rig rig;
  ASSERT_EQ(rig.Copy(dir / "short.bin", folder + "long.bin", 4), "");
  EXPECT_EQ(win::FileSizeByName(folder + "long.bin"), 2000);
  Rig back;
  ASSERT_EQ(back.Copy(folder + "long.bin", dir / "back.bin", 4), "");
  EXPECT_TRUE(test::ReadFile(dir / "back.bin") == data);
}

TEST(WinLevelCopy, RefusesToTruncateItsOwnSource) {
  test::TempDir dir;
  CreateDirectoryW(win::Widen(dir / "Sub").c_str(), nullptr);
  const std::string data = test::Pattern(7000, 3);
  test::WriteFile(dir / "Plik.bin", data);
  std::string upper = dir.path();
  for (auto& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  for (const std::string& spelling : {upper + "PLIK.BIN", dir / "Sub\\..\\Plik.bin", dir / ".\\plik.BIN"}) {
    SCOPED_TRACE(spelling);
    Rig rig;
    EXPECT_NE(rig.Copy(dir / "Plik.bin", spelling, 0), "");
    EXPECT_EQ(rig.view.log.back(), (Entry{"Błąd: Plik docelowy jest tym samym plikiem co źródłowy", ekError}));
    EXPECT_TRUE(test::ReadFile(dir / "Plik.bin") == data);
  }
  if (CreateHardLinkW(win::Widen(dir / "Link.bin").c_str(), win::Widen(dir / "Plik.bin").c_str(), nullptr)) {
    Rig rig;
    EXPECT_NE(rig.Copy(dir / "Plik.bin", dir / "Link.bin", 0), "");
    EXPECT_TRUE(test::ReadFile(dir / "Plik.bin") == data);
  }
  // A different file of the same name elsewhere is no reason to refuse.
  test::WriteFile(dir / "Sub\\Plik.bin", "old");
  Rig rig;
  ASSERT_EQ(rig.Copy(dir / "Plik.bin", dir / "Sub\\Plik.bin", 4), "");
  EXPECT_TRUE(test::ReadFile(dir / "Sub\\Plik.bin") == data);
}

TEST(WinFiles, SizesBeyondFourGibibytes) {
  test::TempDir dir;
  const int64_t size = (5LL << 30) + 77;
  HANDLE h = CreateFileW(win::Widen(dir / "big.iso").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER to{};
  to.QuadPart = size;
  ASSERT_TRUE(SetFilePointerEx(h, to, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(h));  // sparse: nothing written
  CloseHandle(h);
  EXPECT_EQ(win::FileSizeByName(dir / "big.iso"), size);
  win::WinFileSystem files;
  auto file = files.Open(dir / "big.iso", OpenMode::ReadShared);
  EXPECT_EQ(file->Size(), size);
  file->Seek(size - 10);
  EXPECT_EQ(file->Position(), size - 10);
  char buffer[32];
  EXPECT_EQ(file->Read(buffer, sizeof buffer), 10u);
  file->Close();
}

TEST(WinFiles, FileSizeByNameReadsTheDirectoryEntry) {
  test::TempDir dir;
  test::WriteFile(dir / "a.txt", "12345");
  EXPECT_EQ(win::FileSizeByName(dir / "a.txt"), 5);
  EXPECT_EQ(win::FileSizeByName(dir / "missing.txt"), 0);
  EXPECT_EQ(win::FileSizeByName(""), 0);
  // Known even for a file that cannot be opened now.
  HANDLE lock = CreateFileW(win::Widen(dir / "a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(win::FileSizeByName(dir / "a.txt"), 5);
  CloseHandle(lock);
  // A relative path is taken from the current folder.
  wchar_t old[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, old);
  SetCurrentDirectoryW(win::Widen(dir.path()).c_str());
  EXPECT_EQ(win::FileSizeByName("a.txt"), 5);
  SetCurrentDirectoryW(old);
}

TEST(WinFiles, OperationsOnAClosedFileFail) {
  test::TempDir dir;
  test::WriteFile(dir / "a.txt", "abc");
  win::WinFileSystem files;
  auto file = files.Open(dir / "a.txt", OpenMode::ReadShared);
  file->Close();
  char c;
  EXPECT_THROW(file->Read(&c, 1), FileError);
  EXPECT_THROW(file->Close(), FileError);
}

}  // namespace
}  // namespace sk
