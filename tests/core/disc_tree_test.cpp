// The file system readers over images that genisoimage makes here, each read
// with some of its sectors taken away.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/DiscRead.h"
#include "core/DiscTree.h"
#include "core/RunCommand.h"

namespace sk {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// An image file's sectors, some of them taken away.
struct ImageSource : ISectorSource {
  Bytes image;
  std::set<int64_t> taken;
  std::set<int64_t> asked;
  int64_t SectorCount() override { return static_cast<int64_t>(image.size()) / kDiscSectorSize; }
  bool ReadSector(int64_t sector, unsigned char* out) override {
    asked.insert(sector);
    if (sector < 0 || sector >= SectorCount() || taken.count(sector)) return false;
    std::memcpy(out, image.data() + sector * kDiscSectorSize, kDiscSectorSize);
    return true;
  }
};

Bytes ReadAll(const fs::path& p) {
  Bytes b(fs::file_size(p));
  std::ifstream(p, std::ios::binary).read(reinterpret_cast<char*>(b.data()), b.size());
  return b;
}

void WriteFile(const fs::path& p, const Bytes& data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

Bytes Pattern(size_t n, int salt) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 31 + salt * 7 + i / 2048) % 251 + 1);
  return b;
}

// The files every image holds, by their path on the disc.
const std::map<std::string, Bytes>& Files() {
  static const std::map<std::string, Bytes> files = [] {
    std::map<std::string, Bytes> f;
    f["\\readme.txt"] = Pattern(6, 1);
    f["\\Dokumenty\\list.doc"] = Pattern(5000, 2);
    f["\\Dokumenty\\plan.txt"] = Pattern(5, 3);
    f["\\Dokumenty\\Zdjęcia z wakacji\\plaża.jpg"] = Pattern(40000, 4);
    f["\\Dokumenty\\Zdjęcia z wakacji\\Album\\x.bin"] = Pattern(3000, 5);
    f["\\Muzyka\\utwór 1.mp3"] = Pattern(70000, 6);
    f["\\Muzyka\\pusty.txt"] = {};
    return f;
  }();
  return files;
}

struct Images {
  fs::path dir;
  std::map<std::string, fs::path> made;  // by the genisoimage options
};

Images& Made() {
  static Images images = [] {
    Images m;
    m.dir = fs::temp_directory_path() / ("disc_tree_test." + std::to_string(::getpid()));
    fs::remove_all(m.dir);
    for (const auto& [path, data] : Files()) {
      std::string rel = path.substr(1);
      std::replace(rel.begin(), rel.end(), '\\', '/');
      WriteFile(m.dir / "src" / rel, data);
    }
    return m;
  }();
  return images;
}

// A tree of folders and files besides the files above, made once.
fs::path Source(const std::string& name) {
  const fs::path dir = Made().dir / name;
  if (name == "src" || fs::exists(dir)) return dir;
  if (name == "deep") {
    fs::path p = dir;
    for (int i = 1; i <= 34; ++i) {
      p /= "d" + std::to_string(i);
      WriteFile(p / "f.txt", Pattern(10, i));
    }
  } else if (name == "many") {  // 20,000 files in 2,000 folders, all made of one file
    WriteFile(dir / "one", Pattern(1, 0));
    std::ofstream list(dir / "list");
    for (int d = 0; d < 2000; ++d)
      for (int f = 0; f < 10; ++f) list << "folder " << d << "/plik " << f << ".txt=" << (dir / "one").string() << "\n";
  }
  return dir;
}

fs::path Image(const std::string& options, const std::string& source = "src") {
  Images& m = Made();
  const std::string key = options + "|" + source;
  if (!m.made.count(key)) {
    const fs::path out = m.dir / ("img" + std::to_string(m.made.size()) + ".iso");
    int status = 0;
    const std::string what = source == "many" ? "-graft-points -path-list '" + (Source(source) / "list").string() + "'"
                                              : "'" + Source(source).string() + "'";
    test::RunCommand("genisoimage -quiet " + options + " -V Etykieta -o '" + out.string() + "' " + what, status);
    EXPECT_EQ(status, 0) << options;
    m.made[key] = out;
  }
  return m.made[key];
}

struct CleanUp : ::testing::Environment {
  void TearDown() override { fs::remove_all(Made().dir); }
};
const auto* const kCleanUp = ::testing::AddGlobalTestEnvironment(new CleanUp);

// Where isoinfo says a folder's records lie (the "." entry), in the primary
// tree or (with "-J") the Joliet tree.
int64_t FolderSector(const fs::path& image, const std::string& tree, const std::string& folder) {
  int status = 0;
  const std::string out = test::RunCommand("isoinfo -i '" + image.string() + "' " + tree + " -l", status);
  const auto at = out.find("Directory listing of " + folder + "\n");
  if (at == std::string::npos) return -1;
  const auto open = out.find('[', at);
  return std::stoll(out.substr(open + 1));
}

// The path tables (all copies) of the volume descriptor at `sector`.
std::vector<int64_t> PathTables(const Bytes& image, int64_t sector) {
  const unsigned char* d = image.data() + sector * kDiscSectorSize;
  auto le = [&](int o) { return int64_t{d[o]} | d[o + 1] << 8 | d[o + 2] << 16 | int64_t{d[o + 3]} << 24; };
  auto be = [&](int o) { return int64_t{d[o + 3]} | d[o + 2] << 8 | d[o + 1] << 16 | int64_t{d[o]} << 24; };
  std::vector<int64_t> out;
  for (int64_t t : {le(140), le(144), be(148), be(152)})
    if (t) out.push_back(t);
  return out;
}

int64_t Le32At(const Bytes& b, size_t at) {
  return int64_t{b[at]} | b[at + 1] << 8 | b[at + 2] << 16 | int64_t{b[at + 3]} << 24;
}

// UDF: the main (or reserve) sequence's sectors, from the anchor at 256.
std::vector<int64_t> UdfSequence(const Bytes& image, bool reserve) {
  const size_t a = 256 * kDiscSectorSize + (reserve ? 24 : 16);
  std::vector<int64_t> out;
  for (int64_t i = 0; i < Le32At(image, a) / kDiscSectorSize; ++i) out.push_back(Le32At(image, a + 4) + i);
  return out;
}

// UDF: the sector of the file entry that the file identifier naming `name`
// (8-bit compressed Unicode) points to.
int64_t UdfEntry(const Bytes& image, const std::string& name) {
  int64_t partition = -1;
  for (int64_t s : UdfSequence(image, false))
    if (image[s * kDiscSectorSize] == 5) partition = Le32At(image, s * kDiscSectorSize + 188);
  std::string needle = std::string(1, '\x08') + name;
  for (size_t at = 0; (at = std::string_view(reinterpret_cast<const char*>(image.data()), image.size())
                               .find(needle, at + 1)) != std::string::npos;) {
    for (size_t fid = at & ~size_t{3}; fid + 64 > at && fid >= 38; fid -= 4)
      if (image[fid] == 1 && image[fid + 1] == 1 && image[fid + 19] == needle.size() &&
          fid + 38 + (image[fid + 36] | image[fid + 37] << 8) == at)
        return partition + Le32At(image, fid + 24);
  }
  return -1;
}

void Put32(unsigned char* p, int64_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put16(unsigned char* p, int64_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

// A UDF descriptor's tag made whole again for its first `length` bytes.
void Seal(unsigned char* d, size_t length, int64_t location) {
  Put16(d + 10, length - 16);
  Put16(d + 8, disc::TagCrc(d + 16, length - 16));
  Put32(d + 12, location);
  unsigned sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum += d[i];
  d[4] = static_cast<unsigned char>(sum);
}

// Turns genisoimage's UDF image into one whose file entries and folders lie
// in a metadata partition (as UDF 2.50 keeps them): the metadata file covers
// the whole physical partition block for block, and its mirror a copy of it
// put after the image's end.
void MetadataPartition(Bytes& image) {
  const int64_t n = static_cast<int64_t>(image.size()) / kDiscSectorSize;
  int64_t start = 0, length = 0, number = 0;
  for (bool reserve : {false, true})
    for (int64_t s : UdfSequence(image, reserve)) {
      unsigned char* d = image.data() + s * kDiscSectorSize;
      if (d[0] == 5) {
        start = Le32At(image, s * kDiscSectorSize + 188);
        length = Le32At(image, s * kDiscSectorSize + 192);
        number = d[22] | d[23] << 8;
      }
    }
  const int64_t entry = n - start, copy = entry + 2;  // blocks of the physical partition
  image.resize((n + 2 + length) * kDiscSectorSize);
  std::copy_n(image.begin() + start * kDiscSectorSize, length * kDiscSectorSize, image.begin() + (n + 2) * kDiscSectorSize);
  for (int k = 0; k < 2; ++k) {  // the metadata file's entry, then its mirror's
    unsigned char* fe = image.data() + (n + k) * kDiscSectorSize;
    fe[0] = 5;  // 261: a file entry
    fe[1] = 1;
    fe[2] = 2;
    Put16(fe + 20, 4);
    fe[27] = static_cast<unsigned char>(250 + k);
    Put32(fe + 56, length * kDiscSectorSize);
    Put32(fe + 172, 8);
    Put32(fe + 176, length * kDiscSectorSize);
    Put32(fe + 180, k == 0 ? 0 : copy);
    Seal(fe, 184, entry + k);
  }
  for (bool reserve : {false, true})
    for (int64_t s : UdfSequence(image, reserve)) {
      unsigned char* d = image.data() + s * kDiscSectorSize;
      if (d[0] == 5) {
        Put32(d + 192, copy + length);
        Seal(d, 512, s);
      } else if (d[0] == 6) {
        std::fill(d + 440, d + kDiscSectorSize, 0);
        Put32(d + 264, 70);
        Put32(d + 268, 2);
        unsigned char* m = d + 440;
        m[0] = 2;
        m[1] = 64;
        std::memcpy(m + 5, "*UDF Metadata Partition", 23);
        Put16(m + 36, 1);
        Put16(m + 38, number);
        Put32(m + 40, entry);
        Put32(m + 44, entry + 1);
        Put32(m + 48, 0xFFFFFFFF);
        m[64] = 1;
        m[65] = 6;
        Put16(m + 66, 1);
        Put16(m + 68, number);
        Seal(d, 510, s);
      }
    }
}

// Which sectors a row takes away, found in the image by the tools above.
using Taking = std::function<std::vector<int64_t>(const fs::path&, const Bytes&)>;

Taking Folder(const std::string& tree, const std::string& folder) {
  return [=](const fs::path& p, const Bytes&) { return std::vector<int64_t>{FolderSector(p, tree, folder)}; };
}
Taking Both(Taking a, Taking b) {
  return [=](const fs::path& p, const Bytes& i) {
    auto x = a(p, i), y = b(p, i);
    x.insert(x.end(), y.begin(), y.end());
    return x;
  };
}

struct Row {
  const char* name;
  const char* options;
  Taking take;
  DiscFormat format;
  std::vector<std::string> unknown;  // the unknown entries
  std::vector<std::string> lost;     // files not listed (below an unknown folder)
  std::map<std::string, std::string> renamed;  // the path a file is listed under, where not its own
  std::function<void(Bytes&)> make = nullptr;  // what becomes of the image first
};

// The ISO 9660 volume descriptors taken away, so that its trees cannot fill in for UDF.
const Taking kIsoGone = [](const fs::path&, const Bytes&) { return std::vector<int64_t>{16, 17}; };

const Row kRows[] = {
    {"iso whole", "-J -R", nullptr, DiscFormat::kIso9660, {}, {}, {}},
    {"udf whole", "-J -R -udf", nullptr, DiscFormat::kUdf, {}, {}, {}},
    {"joliet folder gone, primary names", "-J", Folder("-J", "/Dokumenty/"), DiscFormat::kIso9660, {}, {},
     {{"\\Dokumenty\\list.doc", "\\Dokumenty\\LIST.DOC"}, {"\\Dokumenty\\plan.txt", "\\Dokumenty\\PLAN.TXT"}}},
    {"joliet folder gone, rock ridge names", "-J -R", Folder("-J", "/Dokumenty/"), DiscFormat::kIso9660, {}, {}, {}},
    {"primary folder gone", "-J -R", Folder("-R", "/Dokumenty/"), DiscFormat::kIso9660, {}, {}, {}},
    {"both trees' folder gone", "-J -R", Both(Folder("-J", "/Dokumenty/"), Folder("-R", "/Dokumenty/")),
     DiscFormat::kIso9660, {"\\Dokumenty"}, {"\\Dokumenty\\list.doc", "\\Dokumenty\\plan.txt"}, {}},
    {"both trees' root gone", "-J -R", Both(Folder("-J", "/"), Folder("-R", "/")), DiscFormat::kIso9660, {"\\"},
     {"\\readme.txt"}, {}},
    {"both trees' folder and joliet path tables gone", "-J -R",
     Both(Both(Folder("-J", "/Dokumenty/"), Folder("-R", "/Dokumenty/")),
          [](const fs::path&, const Bytes& i) { return PathTables(i, 17); }),
     DiscFormat::kIso9660, {"\\Dokumenty"}, {"\\Dokumenty\\list.doc", "\\Dokumenty\\plan.txt"},
     {{"\\Dokumenty\\Zdjęcia z wakacji\\plaża.jpg", "\\Dokumenty\\ZDJ__CIA\\plaża.jpg"},
      {"\\Dokumenty\\Zdjęcia z wakacji\\Album\\x.bin", "\\Dokumenty\\ZDJ__CIA\\Album\\x.bin"}}},
    {"udf main sequence gone", "-J -R -udf", [](const fs::path&, const Bytes& i) { return UdfSequence(i, false); },
     DiscFormat::kUdf, {}, {}, {}},
    {"udf anchor 256 gone", "-J -R -udf", [](const fs::path&, const Bytes&) { return std::vector<int64_t>{256}; },
     DiscFormat::kUdf, {}, {}, {}},
    {"udf file entry gone, iso 9660 fills in", "-J -R -udf",
     [](const fs::path&, const Bytes& i) { return std::vector<int64_t>{UdfEntry(i, "list.doc")}; },
     DiscFormat::kUdf, {}, {}, {}},
    {"udf folder entry and iso folders gone", "-J -R -udf",
     Both(Both(Folder("-J", "/Dokumenty/"), Folder("-R", "/Dokumenty/")),
          [](const fs::path&, const Bytes& i) { return std::vector<int64_t>{UdfEntry(i, "Dokumenty")}; }),
     DiscFormat::kUdf, {"\\Dokumenty"}, {"\\Dokumenty\\list.doc", "\\Dokumenty\\plan.txt"}, {}},
    {"udf file entry and iso folders gone", "-J -R -udf",
     Both(Both(Folder("-J", "/Muzyka/"), Folder("-R", "/Muzyka/")),
          [](const fs::path&, const Bytes& i) { return std::vector<int64_t>{UdfEntry(i, "pusty.txt")}; }),
     DiscFormat::kUdf, {"\\Muzyka\\pusty.txt"}, {"\\Muzyka\\pusty.txt"}, {}},
    {"udf metadata partition", "-J -R -udf", kIsoGone, DiscFormat::kUdf, {}, {}, {}, MetadataPartition},
    {"udf metadata file's entries gone, mirror used", "-J -R -udf",
     Both(kIsoGone, [](const fs::path&, const Bytes& i) {
       return std::vector<int64_t>{UdfEntry(i, "Dokumenty"), UdfEntry(i, "list.doc"), UdfEntry(i, "Muzyka")};
     }),
     DiscFormat::kUdf, {}, {}, {}, MetadataPartition},
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class DiscTreeRows : public ::testing::TestWithParam<Row> {};

TEST_P(DiscTreeRows, ListsWhatCanBeHadAndNamesTheRestUnknown) {
  const Row& row = GetParam();
  ImageSource source;
  const fs::path image = Image(row.options);
  source.image = ReadAll(image);
  ASSERT_GT(source.SectorCount(), 0);
  if (row.make) row.make(source.image);
  if (row.take)
    for (int64_t s : row.take(image, source.image)) {
      ASSERT_GE(s, 0) << "a sector to take away was not found";
      source.taken.insert(s);
    }
  const DiscTree tree = ReadDiscTree(source);
  EXPECT_EQ(tree.format, row.format);
  EXPECT_EQ(tree.label, "Etykieta");

  std::set<std::string> want, got, unknown;
  for (const auto& [path, data] : Files()) {
    if (std::find(row.lost.begin(), row.lost.end(), path) != row.lost.end()) continue;
    want.insert(row.renamed.count(path) ? row.renamed.at(path) : path);
  }
  for (const DiscEntry& e : tree.entries) {
    if (e.unknown) {
      unknown.insert(e.path);
      continue;
    }
    got.insert(e.path);
    // The file's bytes, from where the tree says they lie, are the file's own;
    // none of them lies in a sector taken away.
    auto original = std::find_if(Files().begin(), Files().end(), [&](const auto& f) {
      return f.first == e.path || (row.renamed.count(f.first) && row.renamed.at(f.first) == e.path);
    });
    ASSERT_NE(original, Files().end()) << e.path;
    Bytes data;
    for (const DiscExtent& x : e.extents) {
      ASSERT_GE(x.pos, 0) << e.path;
      for (int64_t s = x.pos / kDiscSectorSize; s * kDiscSectorSize < x.pos + x.size; ++s)
        EXPECT_FALSE(source.taken.count(s)) << e.path << " lies in sector " << s << " taken away";
      data.insert(data.end(), source.image.begin() + x.pos, source.image.begin() + x.pos + x.size);
    }
    EXPECT_EQ(e.size, static_cast<int64_t>(original->second.size())) << e.path;
    EXPECT_TRUE(data == original->second) << e.path;
  }
  EXPECT_EQ(got, want);
  EXPECT_EQ(unknown, std::set<std::string>(row.unknown.begin(), row.unknown.end()));
  EXPECT_TRUE(std::is_sorted(tree.entries.begin(), tree.entries.end(), [](const auto& a, const auto& b) {
    return CompareDiscPaths(a.path, b.path) < 0;
  }));
  // Every sector asked for is named the file system's.
  for (int64_t s : source.asked) {
    const bool inSystem = std::any_of(tree.system.begin(), tree.system.end(), [&](const DiscExtent& x) {
      return x.pos <= s * kDiscSectorSize && s * kDiscSectorSize < x.pos + x.size;
    });
    EXPECT_TRUE(inSystem) << "sector " << s;
  }
}

INSTANTIATE_TEST_SUITE_P(Images, DiscTreeRows, ::testing::ValuesIn(kRows), [](const auto& info) {
  std::string n = info.param.name;
  for (char& c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
});

// Hostile discs: what the reader lists instead of following them.
struct HostileRow {
  const char* name;
  const char* options;
  const char* source;
  std::function<void(const fs::path&, Bytes&)> spoil;
  std::function<void(const DiscTree&, const Bytes&)> check;
};

// Points the records of folder `name` in the root (both trees) at the root itself.
void LoopToRoot(const fs::path& image, Bytes& b, const std::string& name) {
  for (const char* tree : {"-J", "-R"}) {
    const int64_t root = FolderSector(image, tree, "/");
    std::string needle = name;
    if (std::string(tree) == "-J") {
      needle.clear();
      for (char c : name) needle += std::string{'\0', c};
    } else {
      std::transform(needle.begin(), needle.end(), needle.begin(), ::toupper);
      needle.resize(std::min<size_t>(needle.size(), 8));
    }
    const auto sector = std::string_view(reinterpret_cast<const char*>(b.data()) + root * kDiscSectorSize, kDiscSectorSize);
    const size_t at = sector.find(needle);
    ASSERT_NE(at, std::string_view::npos) << tree;
    unsigned char* r = b.data() + root * kDiscSectorSize + at - 33;
    for (int i = 0; i < 4; ++i) {
      r[2 + i] = static_cast<unsigned char>(root >> (8 * i));
      r[9 - i] = static_cast<unsigned char>(root >> (8 * i));
    }
  }
}

const HostileRow kHostile[] = {
    {"deeper than 32 levels", "-J -R -D", "deep", nullptr,
     [](const DiscTree& t, const Bytes&) {
       std::string deepest;
       for (int i = 1; i <= 33; ++i) deepest += "\\d" + std::to_string(i);
       std::vector<std::string> unknown;
       for (const auto& e : t.entries)
         if (e.unknown) unknown.push_back(e.path);
       EXPECT_EQ(unknown, std::vector<std::string>{deepest});
       EXPECT_EQ(t.entries.size(), 33u);  // the files of the 32 levels above
     }},
    {"a folder that loops to the root", "-J -R", "src",
     [](const fs::path& p, Bytes& b) { LoopToRoot(p, b, "Dokumenty"); },
     [](const DiscTree& t, const Bytes&) {
       std::vector<std::string> paths;
       for (const auto& e : t.entries) paths.push_back(e.path);
       EXPECT_EQ(paths, (std::vector<std::string>{"\\Muzyka\\pusty.txt", "\\Muzyka\\utwór 1.mp3", "\\readme.txt"}));
     }},
    {"the last file past the disc's end", "-J -R -no-pad", "src",
     [](const fs::path&, Bytes& b) {
       // The image ends halfway through its last file (the largest, written last).
       b.resize(b.size() - 20 * kDiscSectorSize);
     },
     [](const DiscTree& t, const Bytes& b) {
       int outside = 0;
       for (const DiscEntry& e : t.entries) {
         int64_t total = 0;
         for (const DiscExtent& x : e.extents) {
           total += x.size;
           if (x.pos == DiscExtent::kOutside) ++outside;
           else EXPECT_LE(x.pos + x.size, static_cast<int64_t>(b.size())) << e.path;
         }
         EXPECT_EQ(total, e.size) << e.path;
       }
       EXPECT_EQ(outside, 1);
     }},
};

class DiscTreeHostile : public ::testing::TestWithParam<HostileRow> {};
void PrintTo(const HostileRow& row, std::ostream* os) { *os << row.name; }

TEST_P(DiscTreeHostile, IsNotFollowed) {
  const HostileRow& row = GetParam();
  ImageSource source;
  const fs::path image = Image(row.options, row.source);
  source.image = ReadAll(image);
  if (row.spoil) row.spoil(image, source.image);
  row.check(ReadDiscTree(source), source.image);
}

INSTANTIATE_TEST_SUITE_P(Images, DiscTreeHostile, ::testing::ValuesIn(kHostile), [](const auto& info) {
  std::string n = info.param.name;
  for (char& c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
});

// 20,000 files in 2,000 folders, from an image already read: all listed, in
// well under a second (the figure is printed).
TEST(DiscTree, ListsManyFilesFast) {
  for (const char* options : {"-J -R", "-J -R -udf"}) {
    ImageSource source;
    source.image = ReadAll(Image(options, "many"));
    const auto start = std::chrono::steady_clock::now();
    const DiscTree tree = ReadDiscTree(source);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("disc tree %s: %zu entries in %.3f s\n", options, tree.entries.size(), seconds);
    EXPECT_EQ(tree.entries.size(), 20000u);
    EXPECT_EQ(tree.entries[10].path, "\\folder 1\\plik 0.txt");
  }
}

}  // namespace
}  // namespace sk
