#include "core/FileFinder.h"
#include "core/FileList.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>

namespace sk {
namespace {

constexpr uint32_t kFile = 0x20, kHidden = 0x02, kSystem = 0x04, kDir = kAttrDirectory;

// Wildcard match of a file-search mask ('*' any run, '?' one character);
// "*.*" matches every name.
bool Matches(const std::string& mask, const std::string& name) {
  if (mask == "*.*") return true;
  std::function<bool(size_t, size_t)> at = [&](size_t m, size_t n) -> bool {
    if (m == mask.size()) return n == name.size();
    if (mask[m] == '*') return at(m + 1, n) || (n < name.size() && at(m, n + 1));
    if (n < name.size() && (mask[m] == '?' || mask[m] == name[n])) return at(m + 1, n + 1);
    return false;
  };
  return at(0, 0);
}

// Folders by their path with the trailing backslash; entries in the order
// "the file system" returns them.
class FakeDirectory : public IDirectory {
 public:
  std::map<std::string, std::vector<DirEntry>> folders;
  std::set<std::string> unreadable;
  std::map<std::string, size_t> failing;     // folder -> entries read before its listing breaks off
  std::map<std::string, std::string> links;  // folder reached through a link -> its target
  std::vector<std::string> opened;

  std::string Resolve(std::string base) const {
    for (const auto& [link, target] : links)
      if (base.rfind(link, 0) == 0) base = target + base.substr(link.size());
    return base;
  }
  // A folder's identity is the real path it resolves to.
  bool Identify(const std::string& folder, FolderId& id) override {
    const std::string base = Resolve(folder.back() == '\\' ? folder : folder + '\\');
    if (!folders.count(base)) return false;
    id.index = std::hash<std::string>()(base);
    return true;
  }

  void Folder(const std::string& base, std::vector<DirEntry> entries, bool dots = true) {
    if (dots) entries.insert(entries.begin(), {{".", kDir}, {"..", kDir}});
    folders[base] = std::move(entries);
  }

  std::unique_ptr<IDirListing> Open(const std::string& pattern) override {
    opened.push_back(pattern);
    if (pattern.size() > 400) throw std::runtime_error("path grew without bound: " + pattern);
    const auto cut = pattern.rfind('\\');
    std::string base = pattern.substr(0, cut + 1);
    const std::string mask = pattern.substr(cut + 1);
    base = Resolve(base);
    auto it = folders.find(base);
    if (it == folders.end() || unreadable.count(base)) return nullptr;
    auto listing = std::make_unique<Listing>();
    if (failing.count(base)) listing->breakAt = failing[base];
    for (const auto& e : it->second)
      if (Matches(mask, e.name)) listing->entries.push_back(e);
    if (listing->entries.empty()) return nullptr;
    return listing;
  }

 private:
  struct Listing : IDirListing {
    std::vector<DirEntry> entries;
    size_t next = 0, breakAt = SIZE_MAX;
    bool Next(DirEntry& e) override {
      if (next == entries.size() || next >= breakAt) return false;
      e = entries[next++];
      return true;
    }
    bool Failed() const override { return next >= breakAt; }
  };
};

struct FinderTest : ::testing::Test {
  FakeDirectory dir;
  int pumps = 0;
  std::vector<bool> pointer;
  FileFinder finder{dir, [this] { ++pumps; }, [this](bool wait) { pointer.push_back(wait); }};

  // R: files a, b; subfolders S (file c, subfolder T with file d) and U (file e).
  void ExampleTree(const std::string& root) {
    dir.Folder(root + "\\", {{"a", kFile}, {"S", kDir}, {"b", kFile}, {"U", kDir}});
    dir.Folder(root + "\\S\\", {{"T", kDir}, {"c", kFile}});
    dir.Folder(root + "\\S\\T\\", {{"d", kFile}});
    dir.Folder(root + "\\U\\", {{"e", kFile}});
  }
  std::vector<std::string> Find(const std::string& path) {
    finder.Path = path;
    EXPECT_TRUE(finder.FindFiles());
    return finder.FilesFound;
  }
};

using Paths = std::vector<std::string>;

TEST_F(FinderTest, FilesOfAFolderBeforeItsSubfoldersDepthFirst) {
  ExampleTree("R");
  EXPECT_EQ(Find("R"), (Paths{"R\\a", "R\\b", "R\\S\\c", "R\\S\\T\\d", "R\\U\\e"}));
  // The files pass of a folder, then its folders pass; a subfolder is finished
  // before the parent's next entry is read.
  EXPECT_EQ(dir.opened, (Paths{"R\\*.*", "R\\*.*", "R\\S\\*.*", "R\\S\\*.*", "R\\S\\T\\*.*", "R\\S\\T\\*.*",
                               "R\\U\\*.*", "R\\U\\*.*"}));
  // One pump per entry read, in both passes (6 + 4 + 3 + 3 entries, twice).
  EXPECT_EQ(pumps, 2 * (6 + 4 + 3 + 3));
  EXPECT_EQ(pointer, (std::vector<bool>{true, false}));
}

TEST_F(FinderTest, TrailingBackslashIsAddedOnlyWhenMissing) {
  dir.Folder("C:\\", {{"x.bin", kFile}, {"D", kDir}});
  dir.Folder("C:\\D\\", {{"y", kFile}});
  EXPECT_EQ(Find("C:\\"), (Paths{"C:\\x.bin", "C:\\D\\y"}));
  EXPECT_EQ(Find("C:"), (Paths{"C:\\x.bin", "C:\\D\\y"}));
  // The path stays as given: nothing is normalised.
  dir.Folder("rel\\..\\C\\", {{"z", kFile}});
  EXPECT_EQ(Find("rel\\..\\C"), (Paths{"rel\\..\\C\\z"}));
}

TEST_F(FinderTest, EmptyPathSearchesTheDriveRoot) {
  dir.Folder("\\", {{"boot.ini", kFile}});
  EXPECT_EQ(Find(""), (Paths{"\\boot.ini"}));
  EXPECT_EQ(dir.opened.front(), "\\*.*");
}

TEST_F(FinderTest, MissingPathGivesAnEmptyListAndTrue) {
  finder.FilesFound = {"stale"};
  EXPECT_TRUE(Find("Q:\\nothing").empty());
  EXPECT_EQ(pumps, 0);
  EXPECT_EQ(pointer, (std::vector<bool>{true, false}));
}

TEST_F(FinderTest, HiddenAndSystemFilesCollectedFoldersAndLabelsNot) {
  dir.Folder("V\\", {{"LABEL", kAttrVolumeLabel}, {"h", kFile | kHidden}, {"s", kSystem | kHidden}, {"E", kDir},
                     {"ro", 0x01}, {"plain", 0x80}});
  dir.Folder("V\\E\\", {});
  EXPECT_EQ(Find("V"), (Paths{"V\\h", "V\\s", "V\\ro", "V\\plain"}));
}

TEST_F(FinderTest, AFolderOfOnlySubfoldersGivesTheirFilesGrouped) {
  dir.Folder("P\\", {{"B", kDir}, {"A", kDir}});
  dir.Folder("P\\B\\", {{"2", kFile}, {"1", kFile}});
  dir.Folder("P\\A\\", {{"3", kFile}});
  EXPECT_EQ(Find("P\\"), (Paths{"P\\B\\2", "P\\B\\1", "P\\A\\3"}));
}

TEST_F(FinderTest, MaskFiltersFilesButEveryFolderIsEntered) {
  finder.FileMask = "*.txt";
  dir.Folder("M\\", {{"a.txt", kFile}, {"b.doc", kFile}, {"Sub.dir", kDir}, {"c.txt", kFile}});
  dir.Folder("M\\Sub.dir\\", {{"d.txt", kFile}, {"e.txtx", kFile}, {"f.TXT.bak", kFile}});
  EXPECT_EQ(Find("M"), (Paths{"M\\a.txt", "M\\c.txt", "M\\Sub.dir\\d.txt"}));
  EXPECT_EQ(dir.opened, (Paths{"M\\*.txt", "M\\*.*", "M\\Sub.dir\\*.txt", "M\\Sub.dir\\*.*"}));
}

TEST_F(FinderTest, UnreadableSubfolderContributesNothingAndTheWalkGoesOn) {
  ExampleTree("R");
  dir.unreadable.insert("R\\S\\");
  EXPECT_EQ(Find("R"), (Paths{"R\\a", "R\\b", "R\\U\\e"}));
  // A folder whose files pass opens but whose folders pass does not.
  dir.unreadable.clear();
  dir.Folder("F\\", {{"x", kFile}, {"G", kDir}}, false);
  dir.Folder("F\\G\\", {{"y", kFile}}, false);
  finder.FileMask = "x";
  EXPECT_EQ(Find("F"), (Paths{"F\\x"}));
}

TEST_F(FinderTest, ReparsePointFoldersAreListedThroughRealPathsOnly) {
  // R\S\back is a link to R: entering it would walk R again below itself.
  ExampleTree("R");
  dir.folders["R\\S\\"].push_back({"back", kDir | kAttrReparsePoint});
  dir.links["R\\S\\back\\"] = "R\\";
  EXPECT_EQ(Find("R"), (Paths{"R\\a", "R\\b", "R\\S\\c", "R\\S\\T\\d", "R\\U\\e"}));
  // A link given as the starting folder is searched, once.
  EXPECT_EQ(Find("R\\S\\back"), (Paths{"R\\S\\back\\a", "R\\S\\back\\b", "R\\S\\back\\S\\c",
                                   "R\\S\\back\\S\\T\\d", "R\\S\\back\\U\\e"}));
}

// Folders whose listing breaks off are reported once each, as walked, and the
// walk goes on; a link is followed unless it leads back onto the walk path.
TEST_F(FinderTest, BrokenListingsAreReportedAndLinksFollowedUntilTheyLoop) {
  struct Case {
    const char* what;
    std::map<std::string, size_t> failing;
    std::map<std::string, std::string> links;  // R\S\ln -> target
    Paths found, unreadable;
  };
  const Case cases[] = {
      {"midway", {{"R\\S\\", 3}}, {}, {"R\\a", "R\\b", "R\\S\\T\\d", "R\\U\\e"}, {"R\\S"}},
      {"root", {{"R\\", 2}}, {}, {}, {"R"}},
      {"to elsewhere", {}, {{"R\\S\\ln\\", "X\\"}},
       {"R\\a", "R\\b", "R\\S\\c", "R\\S\\T\\d", "R\\S\\ln\\x", "R\\U\\e"}, {}},
      {"to an ancestor", {}, {{"R\\S\\ln\\", "R\\"}}, {"R\\a", "R\\b", "R\\S\\c", "R\\S\\T\\d", "R\\U\\e"}, {}},
      {"nowhere", {}, {{"R\\S\\ln\\", "gone\\"}},
       {"R\\a", "R\\b", "R\\S\\c", "R\\S\\T\\d", "R\\U\\e"}, {"R\\S\\ln"}},
  };
  for (const auto& c : cases) {
    FakeDirectory fresh;
    dir = fresh;
    ExampleTree("R");
    dir.folders["R\\S\\"].insert(dir.folders["R\\S\\"].begin() + 3, {"ln", kDir | kAttrReparsePoint});
    dir.Folder("X\\", {{"x", kFile}});
    dir.failing = c.failing;
    dir.links = c.links;
    EXPECT_EQ(Find("R"), c.found) << c.what;
    EXPECT_EQ(finder.FoldersUnreadable, c.unreadable) << c.what;
  }
  // Stopped from the pump: the walk ends at once.
  dir.failing.clear();
  dir.links.clear();
  FileFinder stopping{dir, [&] { stopping.Stop(); }};
  stopping.Path = "R";
  EXPECT_TRUE(stopping.FindFiles());
  EXPECT_TRUE(stopping.Stopped());
  EXPECT_EQ(stopping.FilesFound.size(), 0u);
  EXPECT_EQ(dir.opened.back(), "R\\*.*");
}

TEST(FileListText, InfoTipLinesAreSeparatedByLfCr) {
  EXPECT_EQ(FileInfoTip("C:\\a\\b.txt", "12 B"), "Nazwa pliku: b.txt\n\rFolder: C:\\a\\\n\rRozmiar: 12 B");
  EXPECT_EQ(FileInfoTip("D:plik", " B"), "Nazwa pliku: plik\n\rFolder: D:\n\rRozmiar:  B");
  EXPECT_EQ(FileInfoTip("bare", "1 kB"), "Nazwa pliku: bare\n\rFolder: \n\rRozmiar: 1 kB");
}

TEST(FileListText, RowsAlternateWhiteAndCream) {
  EXPECT_EQ(FileListRowColour(0), 0xFFFFFFu);
  EXPECT_EQ(FileListRowColour(1), 0xF0F8FBu);
  EXPECT_EQ(FileListRowColour(2), 0xFFFFFFu);
  EXPECT_EQ(FileListRowColour(7), 0xF0F8FBu);
}

TEST(FileListText, ChosenFilesJoinFolderAndNames) {
  EXPECT_EQ(ChosenFilePaths({"C:\\dir\\one.txt"}), (Paths{"C:\\dir\\one.txt"}));
  EXPECT_EQ(ChosenFilePaths({"C:\\dir", "b", "a"}), (Paths{"C:\\dir\\b", "C:\\dir\\a"}));
  EXPECT_EQ(ChosenFilePaths({"C:\\", "x", "y"}), (Paths{"C:\\x", "C:\\y"}));
}

}  // namespace
}  // namespace sk
