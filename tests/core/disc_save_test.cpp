// "Zapisz pliki" into a folder that already holds files: another disc's of
// the same names, an earlier save of the same disc, files the user changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "core/CopyFakes.h"
#include "core/DiscSave.h"
#include "core/Text.h"

namespace sk {
namespace {

constexpr int64_t S = kDiscSectorSize;

// Folders over the fake disk: a listing of a folder ("F\*") or of one path;
// a file's time of last write stands for its content.
struct Folders : IDirectory {
  fake::Disk& disk;
  std::set<std::string> made;
  int listings = 0;
  explicit Folders(fake::Disk& d) : disk(d) {}

  struct Listing : IDirListing {
    std::vector<DirEntry> entries;
    size_t at = 0;
    bool Next(DirEntry& e) override { return at < entries.size() ? (e = entries[at++], true) : false; }
  };
  DirEntry Of(const std::string& name, const std::string& path) {
    if (made.count(path)) return {name, kAttrDirectory};
    const auto& c = disk.files.at(path);
    return {name, 0, c->Size(), std::hash<std::string>{}(c->bytes) | 1};
  }
  std::unique_ptr<IDirListing> Open(const std::string& pattern) override {
    ++listings;
    auto listing = std::make_unique<Listing>();
    if (pattern.ends_with("\\*")) {
      const std::string folder = pattern.substr(0, pattern.size() - 1);
      if (!made.count(folder.substr(0, folder.size() - 1))) return nullptr;
      std::set<std::string> names;
      for (const auto& [path, c] : disk.files)
        if (path.starts_with(folder) && path.find('\\', folder.size()) == std::string::npos)
          names.insert(path.substr(folder.size()));
      for (const std::string& path : made)
        if (path.starts_with(folder) && path.find('\\', folder.size()) == std::string::npos)
          names.insert(path.substr(folder.size()));
      for (const std::string& name : names) listing->entries.push_back(Of(name, folder + name));
    } else if (disk.files.count(pattern) || made.count(pattern)) {
      listing->entries.push_back(Of(FileNamePart(pattern), pattern));
    } else {
      return nullptr;
    }
    return listing;
  }
  void MakeFoldersFor(const std::string& path) {
    for (size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1))
      made.insert(path.substr(0, slash));
  }
};

DiscEntry File(std::string path, int64_t sector, int64_t sectors) {
  return DiscEntry{std::move(path), false, sectors * S, {{sector * S, sectors * S}}};
}

TEST(DiscSave, AnotherDiscsFilesAndAnEarlierSaveAreNeverLost) {
  fake::Disk disk;
  Folders folders(disk);
  folders.MakeFoldersFor("C:\\Cel\\x");
  const SaveSite site{disk, folders, [&](const std::string& p) { folders.MakeFoldersFor(p); }, {}};
  // Two photo discs without a label, of the same names.
  DiscTree tree;
  tree.format = DiscFormat::kIso9660;
  const std::string one = "\\DCIM\\100CANON\\IMG_0001.JPG", two = "\\DCIM\\100CANON\\IMG_0002.JPG";
  tree.entries = {File(one, 20, 40), File(two, 60, 2), {"\\Zła", true, 0, {}}};
  struct Disc {
    std::string bytes;
    RescueMap map;
  };
  auto disc = [](int salt) {
    Disc d{fake::Pattern(100 * S, salt), RescueMap(100 * S, kFinished)};
    d.map.source = SourceMark{100 * S, 16 * S, S, BlockHash(d.bytes.data() + 16 * S, S)};
    return d;
  };
  Disc a = disc(1), b = disc(2);
  a.map.Set(21 * S, S, kBadSector);  // IMG_0001 of disc A hit (a file of more than one 64 KiB piece)
  std::vector<std::string> log;
  auto save = [&](const Disc& d) {
    disk.Put("E:\\obraz.iso", d.bytes);
    auto image = disk.Open("E:\\obraz.iso", OpenMode::ReadShared);
    const SaveReport r = SaveDiscFiles(
        tree, {0, 1, 2}, *image, d.map, site, "C:\\Cel", ",",
        [&](const std::string& text, EventKind) { log.push_back(text); }, [] { return false; });
    image->Close();
    return r;
  };
  auto bytesOf = [&](const Disc& d, int64_t sector, int64_t sectors) {
    std::string s = d.bytes.substr(sector * S, sectors * S);
    for (int64_t k = 0; k < sectors; ++k)
      if (d.map.StatusAt((sector + k) * S) != kFinished) s.replace(k * S, S, std::string(S, '\0'));
    return s;
  };
  const std::string dirA = "C:\\Cel\\Płyta\\DCIM\\100CANON\\", dirB = "C:\\Cel\\Płyta (2)\\DCIM\\100CANON\\";

  // Disc A, then disc B: B's files in a folder of its own, A's untouched.
  EXPECT_EQ(save(a).complete, 1);
  const std::string a1 = bytesOf(a, 20, 40), a2 = bytesOf(a, 60, 2);
  EXPECT_TRUE(disk.Bytes(dirA + "IMG_0001.JPG") == a1) << dirA + "IMG_0001.JPG";
  EXPECT_TRUE(disk.Exists(dirA + "IMG_0001.JPG.map"));
  const SaveReport second = save(b);
  EXPECT_EQ(second.folder, "C:\\Cel\\Płyta (2)");
  EXPECT_EQ(second.complete, 2);
  EXPECT_TRUE(disk.Bytes(dirB + "IMG_0001.JPG") == bytesOf(b, 20, 40)) << dirB + "IMG_0001.JPG";
  EXPECT_TRUE(disk.Bytes(dirA + "IMG_0001.JPG") == a1) << dirA + "IMG_0001.JPG";
  EXPECT_TRUE(disk.Bytes(dirA + "IMG_0002.JPG") == a2) << dirA + "IMG_0002.JPG";

  // Disc A again after a continue read its damage: into its own folder, the
  // file made whole in place, its map gone, no second copy.
  a.map.Set(21 * S, S, kFinished);
  EXPECT_EQ(save(a).folder, "C:\\Cel\\Płyta");
  EXPECT_TRUE(disk.Bytes(dirA + "IMG_0001.JPG") == bytesOf(a, 20, 40)) << dirA + "IMG_0001.JPG";
  EXPECT_FALSE(disk.Exists(dirA + "IMG_0001.JPG.map"));
  EXPECT_FALSE(disk.Exists(dirA + "IMG_0001 (2).JPG"));
  EXPECT_TRUE(disk.Bytes(dirB + "IMG_0001.JPG") == bytesOf(b, 20, 40)) << dirB + "IMG_0001.JPG";

  // A fresh image of disc A that has read less: the bytes the saved file
  // holds stay.
  const std::string whole = bytesOf(a, 20, 40);
  a.map.Set(20 * S, 2 * S, kNonTried);
  a.map.Set(50 * S, 3 * S, kBadSector);
  save(a);
  EXPECT_TRUE(disk.Bytes(dirA + "IMG_0001.JPG") == whole) << dirA + "IMG_0001.JPG";
  EXPECT_FALSE(disk.Exists(dirA + "IMG_0001.JPG.map"));

  // A file the user changed since: kept; the disc's goes beside it.
  disk.files.at(dirA + "IMG_0002.JPG")->bytes[5] ^= 1;
  const std::string edited = disk.Bytes(dirA + "IMG_0002.JPG");
  save(a);
  EXPECT_TRUE(disk.Bytes(dirA + "IMG_0002.JPG") == edited) << dirA + "IMG_0002.JPG";
  EXPECT_TRUE(disk.Bytes(dirA + "IMG_0002 (2).JPG") == a2) << dirA + "IMG_0002 (2).JPG";

  // A file of the user's where the map of a saved file would go: neither
  // touched, the error in the program's words.
  disk.Put(dirA + "IMG_0002 (2).JPG.map", "notatki");
  log.clear();
  save(a);
  EXPECT_EQ(disk.Bytes(dirA + "IMG_0002 (2).JPG.map"), "notatki");
  EXPECT_TRUE(disk.Bytes(dirA + "IMG_0002 (2).JPG") == a2);
  EXPECT_NE(std::find(log.begin(), log.end(), "Błąd: Plik " + dirA + "IMG_0002 (2).JPG.map nie jest mapą odczytu."),
            log.end());

  // A folder of that name that no save made (the user's own): never written
  // into.
  fake::Disk other;
  Folders theirs(other);
  theirs.MakeFoldersFor("C:\\Cel\\Płyta\\x");
  other.Put("C:\\Cel\\Płyta\\notatki.txt", "moje");
  disk.Put("E:\\obraz.iso", a.bytes);
  auto image = disk.Open("E:\\obraz.iso", OpenMode::ReadShared);
  const SaveSite theirSite{other, theirs, [&](const std::string& p) { theirs.MakeFoldersFor(p); }, {}};
  EXPECT_EQ(SaveDiscFiles(tree, {0}, *image, a.map, theirSite, "C:\\Cel\\", ",", [](const std::string&, EventKind) {},
                          [] { return false; })
                .folder,
            "C:\\Cel\\Płyta (2)");
  EXPECT_EQ(other.Bytes("C:\\Cel\\Płyta\\notatki.txt"), "moje");
  // No destination folder given: nothing written anywhere, the error logged.
  log.clear();
  const size_t filesBefore = other.files.size();
  EXPECT_EQ(SaveDiscFiles(tree, {0}, *image, a.map, theirSite, "", ",",
                          [&](const std::string& text, EventKind) { log.push_back(text); }, [] { return false; })
                .complete,
            0);
  EXPECT_EQ(other.files.size(), filesBefore);
  EXPECT_EQ(log, std::vector<std::string>{"Błąd: Nieuzupełnione pole folderu docelowego"});
  // One listing of each folder written into (and of each file written), not
  // one look at the disk per name tried.
  EXPECT_LE(theirs.listings, 6);
}

}  // namespace
}  // namespace sk
