#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "core/FileFinder.h"
#include "core/Formats.h"
#include "support/UiTest.h"
#include "win/Utf.h"
#include "win/WinDirectory.h"
#include "win/WinFile.h"

namespace sk::win {
namespace {

// Runs a program to its end; true when it could be started.
bool RunToEnd(const std::wstring& program, std::wstring commandLine) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

// A symbolic link to a folder. Under Wine it is made on the Unix side (Wine
// has no way to create one); on Windows with CreateSymbolicLinkW.
class FolderLink {
 public:
  FolderLink(const std::string& link, const std::string& relativeTarget) : link_(link) {
    HMODULE k32 = GetModuleHandleW(L"kernel32");
    using UnixName = char*(CDECL*)(const wchar_t*);
    using DosName = wchar_t*(CDECL*)(const char*);
    auto unixName = reinterpret_cast<UnixName>(GetProcAddress(k32, "wine_get_unix_file_name"));
    auto dosName = reinterpret_cast<DosName>(GetProcAddress(k32, "wine_get_dos_file_name"));
    if (unixName && dosName) {
      char* u = unixName(Widen(link).c_str());
      wchar_t* ln = dosName("/bin/ln");
      wchar_t* rm = dosName("/bin/rm");
      if (u && ln && rm) {
        unixLink_ = u;
        ln_ = ln;
        rm_ = rm;
        std::string target = relativeTarget;
        std::replace(target.begin(), target.end(), '\\', '/');
        RunToEnd(ln_, L"ln -s \"" + Widen(target) + L"\" \"" + Widen(unixLink_) + L"\"");
        // Wine does not track a Unix program it starts: its process handle may
        // be signalled before `ln` has run. Wait (bounded) for the link itself.
        for (int i = 0; i < 250 && !Made(); ++i) Sleep(20);
      }
      for (void* p : {static_cast<void*>(u), static_cast<void*>(ln), static_cast<void*>(rm)})
        if (p) HeapFree(GetProcessHeap(), 0, p);
    } else {
      CreateSymbolicLinkW(Widen(link).c_str(), Widen(relativeTarget).c_str(),
                          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    }
  }
  ~FolderLink() {
    if (!unixLink_.empty())
      RunToEnd(rm_, L"rm -f \"" + Widen(unixLink_) + L"\"");
    else
      RemoveDirectoryW(Widen(link_).c_str());
  }
  bool Made() const {
    const DWORD a = GetFileAttributesW(Widen(link_).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) && (a & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool UnderWine() const { return !unixLink_.empty(); }

 private:
  std::string link_, unixLink_;
  std::wstring ln_, rm_;
};

void MakeFolder(const std::string& path) { ASSERT_TRUE(CreateDirectoryW(LongPath(path).c_str(), nullptr)) << path; }

void MakeFile(const std::string& path, size_t size, DWORD attributes = 0) {
  HANDLE h = CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  const std::string bytes = test::Pattern(size);
  DWORD done = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  CloseHandle(h);
  if (attributes) SetFileAttributesW(LongPath(path).c_str(), attributes);
}

bool Within(const std::string& path, const std::string& folder) { return path.rfind(folder, 0) == 0; }

struct RealTree : ::testing::Test {
  test::TempDir tmp;
  std::string root = tmp.path().substr(0, tmp.path().size() - 1);  // as typed, without the backslash
  std::string longFolder, longFile;
  std::vector<std::pair<std::string, size_t>> files;  // every file with its size

  void SetUp() override {
    Add("a.txt", 3);
    Add(".hidden", 5, FILE_ATTRIBUTE_HIDDEN);
    Add("sys.dat", 7, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    Add("zażółć gęślą.txt", 11);
    MakeFolder(root + "\\S");
    Add("S\\c", 1);
    MakeFolder(root + "\\S\\T");
    Add("S\\T\\d", 1500);
    MakeFolder(root + "\\Ελληνικά");
    MakeFolder(root + "\\Ελληνικά\\日本語");
    Add("Ελληνικά\\日本語\\ファイル.bin", 2048);
    MakeFolder(root + "\\empty");
    // A folder chain whose last file lies well beyond 260 characters.
    longFolder = root;
    for (int i = 0; i < 6; ++i) {
      longFolder += "\\" + std::string(48, static_cast<char>('k' + i));
      MakeFolder(longFolder);
    }
    longFile = longFolder + "\\długi plik.bin";
    ASSERT_GT(longFile.size(), 300u);
    MakeFile(longFile, 4321);
    files.push_back({longFile, 4321});
  }
  void TearDown() override {
    // The temporary folder's own clean-up handles short paths only.
    DeleteFileW(LongPath(longFile).c_str());
    for (std::string f = longFolder; f.size() > root.size(); f = f.substr(0, f.rfind('\\')))
      RemoveDirectoryW(LongPath(f).c_str());
  }
  void Add(const std::string& relative, size_t size, DWORD attributes = 0) {
    MakeFile(root + "\\" + relative, size, attributes);
    files.push_back({root + "\\" + relative, size});
  }
  std::vector<std::string> Find(const std::string& path, int* pumps = nullptr) {
    WinDirectory dir;
    int count = 0;
    FileFinder finder(dir, [&] { ++count; });
    finder.Path = path;
    EXPECT_TRUE(finder.FindFiles());
    if (pumps) *pumps = count;
    return finder.FilesFound;
  }
};

TEST_F(RealTree, EveryFileOnceHiddenIncludedGroupedByFolderLinksNotEntered) {
  FolderLink loop(root + "\\S\\T\\loop", "../..");
  if (!loop.Made()) {
    ASSERT_FALSE(loop.UnderWine()) << "could not make the folder link";
    GTEST_SKIP() << "symbolic links cannot be made here";
  }
  // The link is really a way back: the root's files are visible through it.
  EXPECT_EQ(FileSizeByName(root + "\\S\\T\\loop\\a.txt"), 3);

  int pumps = 0;
  const auto found = Find(root, &pumps);
  std::multiset<std::string> expected, got(found.begin(), found.end());
  for (const auto& f : files) expected.insert(f.first);
  EXPECT_EQ(got, expected);
  EXPECT_GT(pumps, static_cast<int>(found.size()));

  // Files of a folder come before anything below it, and everything below a
  // folder forms one block (depth first).
  for (size_t j = 0; j < found.size(); ++j) {
    const std::string folder = found[j].substr(0, found[j].rfind('\\') + 1);
    for (size_t i = 0; i < j; ++i)
      EXPECT_FALSE(Within(found[i], folder) && found[i].find('\\', folder.size()) != std::string::npos)
          << found[i] << " came before " << found[j];
  }
  for (const char* sub : {"\\S\\", "\\Ελληνικά\\", "\\kkkk"}) {
    std::vector<size_t> at;
    for (size_t i = 0; i < found.size(); ++i)
      if (Within(found[i], root + sub)) at.push_back(i);
    ASSERT_FALSE(at.empty()) << sub;
    EXPECT_EQ(at.back() - at.front() + 1, at.size()) << sub;
  }
}

TEST_F(RealTree, TrailingBackslashAndMissingFolders) {
  const auto plain = Find(root);
  EXPECT_EQ(Find(root + "\\"), plain);
  EXPECT_TRUE(Find(root + "\\nie ma takiego").empty());
  EXPECT_TRUE(Find(root + "\\empty").empty());
  EXPECT_TRUE(Find(root + "\\a.txt").empty());  // a file is not a folder
}

TEST_F(RealTree, SizesOfListedFilesAndOfOneThatVanished) {
  const auto found = Find(root);
  for (const auto& [path, size] : files) {
    EXPECT_NE(std::find(found.begin(), found.end(), path), found.end()) << path;
    EXPECT_EQ(FileSizeByName(path), static_cast<int64_t>(size)) << path;
  }
  EXPECT_EQ(FormatSize(FileSizeByName(longFile), ","), "4,22 kB");
  const std::string gone = root + "\\zażółć gęślą.txt";
  ASSERT_TRUE(DeleteFileW(Widen(gone).c_str()));
  EXPECT_EQ(FileSizeByName(gone), 0);
  EXPECT_EQ(FormatSize(FileSizeByName(gone), ","), " B");
}

}  // namespace
}  // namespace sk::win
