// The file system readers over images that genisoimage makes here, each read
// with some of its sectors taken away.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <set>
#include <sstream>

#include "core/CopyFakes.h"
#include "core/MediumFakes.h"
#include "core/DiscImage.h"
#include "core/DiscImages.h"
#include "core/DiscRead.h"
#include "core/DiscTree.h"

namespace sk {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
constexpr int64_t S = kDiscSectorSize;

// An image file's sectors, some of them taken away.
struct ImageSource : ISectorSource {
  Bytes image;
  std::set<int64_t> taken, asked;
  int64_t SectorCount() override { return static_cast<int64_t>(image.size()) / S; }
  bool ReadSector(int64_t sector, unsigned char* out) override {
    asked.insert(sector);
    if (sector < 0 || sector >= SectorCount() || taken.count(sector)) return false;
    std::memcpy(out, image.data() + sector * S, S);
    return true;
  }
};

// The files every image holds, by their path on the disc.
const std::map<std::string, std::string> kFiles = {
    {"\\readme.txt", fake::Pattern(6, 1)},
    {"\\Dokumenty\\list.doc", fake::Pattern(5000, 2)},
    {"\\Dokumenty\\plan.txt", fake::Pattern(5, 3)},
    {"\\Dokumenty\\Zdjęcia z wakacji\\plaża.jpg", fake::Pattern(40000, 4)},
    {"\\Dokumenty\\Zdjęcia z wakacji\\Album\\x.bin", fake::Pattern(3000, 5)},
    {"\\Muzyka\\utwór 1.mp3", fake::Pattern(70000, 6)},
    {"\\Muzyka\\pusty.txt", ""}};

// The image of the files above ("src"), of 34 folders one in another
// ("deep") or of 20,000 files in 2,000 folders, all one file ("many"), made
// once for each options.
fs::path Image(const std::string& options, const std::string& source = "src") {
  static std::map<std::string, fs::path> made;
  const std::string key = options + "|" + source;
  if (made.count(key)) return made[key];
  if (options.rfind("mkudffs ", 0) == 0) {  // "mkudffs MEDIA REVISION BLOCKS"
    std::istringstream words(options.substr(8));
    std::string media, revision;
    int blocks = 0;
    words >> media >> revision >> blocks;
    return made[key] = test::Mkudffs(media, revision, blocks);
  }
  const fs::path dir = test::ImageDir() / source;
  std::string what = "'" + dir.string() + "'";
  if (source == "many" || source == "unmatched") what = "-graft-points -path-list '" + (dir / "list").string() + "'";
  if (!fs::exists(dir) && source == "src") test::WriteTree(dir, kFiles);
  if (!fs::exists(dir) && source == "deep") {
    std::map<std::string, std::string> files;
    std::string p;
    for (int i = 1; i <= 34; ++i) files[(p += "\\d" + std::to_string(i)) + "\\f.txt"] = fake::Pattern(10, i);
    test::WriteTree(dir, files);
  }
  if (!fs::exists(dir) && source == "unmatched") {
    // 8,000 folders whose Joliet names ("ą0001") pair with no primary name ("_0001").
    test::WriteTree(dir, {{"\\one", "x"}});
    std::ofstream list(dir / "list");
    char name[16];
    for (int d = 1; d <= 8000; ++d) {
      std::snprintf(name, sizeof name, "%04d", d);
      list << "ą" << name << "/f.txt=" << (dir / "one").string() << "\n";
    }
  }
  if (!fs::exists(dir) && source == "many") {
    test::WriteTree(dir, {{"\\one", "x"}});
    std::ofstream list(dir / "list");
    for (int d = 0; d < 2000; ++d)
      for (int f = 0; f < 10; ++f) list << "folder " << d << "/plik " << f << ".txt=" << (dir / "one").string() << "\n";
  }
  return made[key] = test::Genisoimage(options, what, "img" + std::to_string(made.size()) + ".iso");
}

Bytes Read(const fs::path& image) {
  const std::string b = test::ReadBytes(image);
  return Bytes(b.begin(), b.end());
}

// Where isoinfo says a folder's records lie (the "." entry), in the primary
// tree or (with "-J") the Joliet tree.
int64_t FolderSector(const fs::path& image, const std::string& tree, const std::string& folder) {
  int status = 0;
  const std::string out = test::RunCommand("isoinfo -i '" + image.string() + "' " + tree + " -l", status);
  const auto at = out.find("Directory listing of " + folder + "\n");
  return at == std::string::npos ? -1 : std::stoll(out.substr(out.find('[', at) + 1));
}

int64_t Le32At(const Bytes& b, size_t at) {
  return int64_t{b[at]} | b[at + 1] << 8 | b[at + 2] << 16 | int64_t{b[at + 3]} << 24;
}
int64_t Le32Of(const unsigned char* p) { return int64_t{p[0]} | p[1] << 8 | p[2] << 16 | int64_t{p[3]} << 24; }
int64_t Be32At(const Bytes& b, size_t at) {
  return int64_t{b[at + 3]} | b[at + 2] << 8 | b[at + 1] << 16 | int64_t{b[at]} << 24;
}

// The path tables (all copies) of the volume descriptor at `sector`.
std::vector<int64_t> PathTables(const Bytes& image, int64_t sector) {
  std::vector<int64_t> out;
  for (int64_t t : {Le32At(image, sector * S + 140), Le32At(image, sector * S + 144), Be32At(image, sector * S + 148),
                    Be32At(image, sector * S + 152)})
    if (t) out.push_back(t);
  return out;
}

// UDF: the main (or reserve) sequence's sectors, from the anchor at 256.
std::vector<int64_t> UdfSequence(const Bytes& image, bool reserve) {
  const size_t a = 256 * S + (reserve ? 24 : 16);
  std::vector<int64_t> out;
  for (int64_t i = 0; i < Le32At(image, a) / S; ++i) out.push_back(Le32At(image, a + 4) + i);
  return out;
}

void Put(unsigned char* p, int64_t v, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A UDF descriptor's tag made whole again for its first `length` bytes.
void Seal(unsigned char* d, size_t length, int64_t location) {
  Put(d + 10, length - 16, 2);
  Put(d + 8, disc::TagCrc(d + 16, length - 16), 2);
  Put(d + 12, location);
  unsigned sum = 0;
  for (int i = 0; i < 16; ++i) sum += i == 4 ? 0 : d[i];
  d[4] = static_cast<unsigned char>(sum);
}

// A UDF volume's places: its partition and its partition maps.
struct UdfVolume {
  int64_t start = 0, length = 0, number = 0;  // the partition
  int physical = -1, special = -1;            // the type 1 map, and the type 2 one
  std::string kind;                           // the type 2 map's identifier
  unsigned char* fileSet = nullptr;           // the logical volume descriptor's file set address
  int64_t packet = 0;                         // sparable: the packet, the sparing tables
  std::vector<int64_t> sparing;
  int64_t metadataEntry = -1;  // metadata: the metadata file's entry (block)
};
UdfVolume VolumeOf(Bytes& image) {
  UdfVolume v;
  for (int64_t s : UdfSequence(image, false)) {
    unsigned char* d = image.data() + s * S;
    if (d[0] == 5)
      v.start = Le32At(image, s * S + 188), v.length = Le32At(image, s * S + 192), v.number = d[22] | d[23] << 8;
    if (d[0] != 6) continue;
    v.fileSet = d + 248;
    unsigned char* m = d + 440;
    for (int64_t i = 0; i < Le32At(image, s * S + 268); m += m[1], ++i) {
      if (m[0] == 1) v.physical = static_cast<int>(i);
      if (m[0] != 2) continue;
      v.special = static_cast<int>(i);
      v.kind = std::string(reinterpret_cast<char*>(m + 5), 23);
      v.packet = m[40] | m[41] << 8;
      for (int k = 0; k < m[42] && v.kind.find("Sparable") != std::string::npos; ++k)
        v.sparing.push_back(Le32Of(m + 48 + 4 * k));
      if (v.kind.find("Metadata") != std::string::npos) v.metadataEntry = Le32Of(m + 40);
    }
  }
  return v;
}

// UDF: the sector of the file entry that the file identifier naming `name`
// (8-bit compressed Unicode) points to, or (`folderData`) the sector of the
// folder's data that holds that identifier. In a metadata partition the
// block is the metadata file's.
int64_t UdfEntry(const Bytes& image, const std::string& name, bool folderData = false) {
  UdfVolume v = VolumeOf(const_cast<Bytes&>(image));
  int64_t base = v.start;
  if (v.metadataEntry >= 0) base = v.start + Le32At(image, (v.start + v.metadataEntry) * S + 180);
  const std::string needle = std::string(1, '\x08') + name;
  const std::string_view all(reinterpret_cast<const char*>(image.data()), image.size());
  for (size_t at = 0; (at = all.find(needle, at + 1)) != std::string::npos;)
    for (size_t fid = at & ~size_t{3}; fid + 64 > at && fid >= 38; fid -= 4)
      if (image[fid] == 1 && image[fid + 1] == 1 && image[fid + 19] == needle.size() &&
          fid + 38 + (image[fid + 36] | image[fid + 37] << 8) == at)
        return folderData ? static_cast<int64_t>(at / S) : base + Le32At(image, fid + 24);
  return -1;
}

// Each file identifier in a folder's data from `d` on: `f(fid, its length)`.
template <class F>
void EachFid(unsigned char* d, size_t bytes, F&& f) {
  for (size_t at = 0; at + 38 <= bytes && disc::TagOk(d + at, bytes - at, 257, -1);) {
    const size_t length = (38 + (d[at + 36] | d[at + 37] << 8) + d[at + 19] + 3) & ~size_t{3};
    f(d + at, length);
    at += length;
  }
}

// Turns genisoimage's UDF image into one whose file entries and folders lie
// in a metadata partition (as UDF 2.50 keeps them), map 1 beside the
// physical partition's map 0: the metadata file and its mirror are copies of
// the whole physical partition put after the image's end, and the file
// system's descriptors at their old places are gone, so that only an
// address read in the right partition finds them.
void MetadataPartition(Bytes& image) {
  const int64_t n = static_cast<int64_t>(image.size()) / S;
  UdfVolume v = VolumeOf(image);
  const int64_t start = v.start, length = v.length;
  const int64_t entry = n - start, copy = entry + 2;  // blocks of the physical partition
  image.resize((n + 2 + 2 * length) * S);
  // In the partition: addresses of file entries name map 1.
  for (int64_t b = 0; b < length; ++b) {
    unsigned char* d = image.data() + (start + b) * S;
    const unsigned id = d[0] | d[1] << 8;
    if (id == 256 && disc::TagOk(d, S, id, b)) {
      Put(d + 408, 1, 2);
      Seal(d, 512, b);
    }
    EachFid(d, S, [](unsigned char* f, size_t n) {
      Put(f + 28, 1, 2);
      Seal(f, n, Le32Of(f + 12));
    });
  }
  for (int k = 0; k < 2; ++k)
    std::copy_n(image.begin() + start * S, length * S, image.begin() + (n + 2 + k * length) * S);
  for (int64_t b = 0; b < length; ++b) {
    unsigned char* d = image.data() + (start + b) * S;
    const unsigned id = d[0] | d[1] << 8;
    if (((id >= 256 && id <= 266) || id == 8) && disc::TagOk(d, S, id, b)) std::fill(d, d + S, 0);
  }
  for (int k = 0; k < 2; ++k) {  // the metadata file's entry, then its mirror's
    unsigned char* fe = image.data() + (n + k) * S;
    fe[0] = 5, fe[1] = 1, fe[2] = 2, fe[27] = static_cast<unsigned char>(250 + k);  // 261: a file entry
    Put(fe + 20, 4, 2);
    Put(fe + 56, length * S);
    Put(fe + 172, 8);
    Put(fe + 176, length * S);
    Put(fe + 180, copy + k * length);
    Seal(fe, 184, entry + k);
  }
  for (bool reserve : {false, true})
    for (int64_t s : UdfSequence(image, reserve)) {
      unsigned char* d = image.data() + s * S;
      if (d[0] == 5) {
        Put(d + 192, copy + 2 * length);
        Seal(d, 512, s);
      } else if (d[0] == 6) {
        Put(d + 248 + 8, 1, 2);
        std::fill(d + 440, d + S, 0);
        Put(d + 264, 70);
        Put(d + 268, 2);
        unsigned char* m = d + 440;
        m[0] = 1, m[1] = 6, m[6] = 2, m[7] = 64;
        Put(m + 2, 1, 2);
        Put(m + 4, v.number, 2);
        m += 6;
        std::memcpy(m + 5, "*UDF Metadata Partition", 23);
        Put(m + 36, 1, 2);
        Put(m + 38, v.number, 2);
        Put(m + 40, entry);
        Put(m + 44, entry + 1);
        Put(m + 48, 0xFFFFFFFF);
        Seal(d, 510, s);
      }
    }
}

// genisoimage's file "list.doc" (the only file of 5,000 bytes) recorded
// interleaved, as no tool here writes it: file units of one sector with a
// gap of one sector, put after the image's end, junk in the gaps.
void Interleave(Bytes& image) {
  const int64_t n = static_cast<int64_t>(image.size()) / S;
  const std::string junk = fake::Pattern(2 * S, 77);
  int64_t from = -1;
  for (int64_t s = 16; s < n; ++s)
    for (int64_t at = s * S; at + 34 <= (s + 1) * S && image[at] >= 34;) {
      unsigned char* r = image.data() + at;
      if (Le32At(image, at + 2) == Be32At(image, at + 6) && Le32At(image, at + 10) == 5000 &&
          Be32At(image, at + 14) == 5000) {
        from = Le32At(image, at + 2);
        Put(r + 2, n);
        for (int i = 0; i < 4; ++i) r[9 - i] = static_cast<unsigned char>(n >> (8 * i));
        r[26] = 1, r[27] = 1;
      }
      at += image[at];
    }
  ASSERT_GE(from, 0);
  image.resize((n + 5) * S);
  for (int k = 0; k < 3; ++k) std::copy_n(image.begin() + (from + k) * S, S, image.begin() + (n + 2 * k) * S);
  for (int k = 0; k < 2; ++k) std::copy_n(junk.begin() + k * S, S, image.begin() + (n + 2 * k + 1) * S);
}

// ---- UDF as no tool here writes it ----

// A UDF name: 8-bit compressed Unicode where it fits, else 16-bit.
std::string Dstring(const std::string& utf8) {
  std::vector<uint32_t> cps;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = utf8[i];
    const int more = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    uint32_t cp = more == 0 ? c : c & (0x3F >> more);
    for (int k = 1; k <= more; ++k) cp = cp << 6 | (utf8[i + k] & 0x3F);
    cps.push_back(cp);
    i += more + 1;
  }
  const bool wide = std::any_of(cps.begin(), cps.end(), [](uint32_t c) { return c > 255; });
  std::string out(1, wide ? 16 : 8);
  for (uint32_t c : cps) {
    if (wide) out += static_cast<char>(c >> 8);
    out += static_cast<char>(c);
  }
  return out;
}
std::string Le(int64_t v, int bytes) {
  std::string s(bytes, '\0');
  Put(reinterpret_cast<unsigned char*>(s.data()), v, bytes);
  return s;
}
// Allocation descriptors: short (length, block) and long (length, block, map).
std::string ShortAd(int64_t length, int64_t block) { return Le(length, 4) + Le(block, 4); }
std::string LongAd(int64_t length, int64_t block, int map) {
  return Le(length, 4) + Le(block, 4) + Le(map, 2) + Le(0, 6);
}
// A file identifier naming `name` whose entry is at `block` of `map`.
std::string FileId(const std::string& name, int64_t block, int map) {
  const std::string d = Dstring(name);
  std::string f = Le(257, 2) + Le(2, 2) + std::string(12, '\0') + Le(1, 2) + '\0' + static_cast<char>(d.size()) +
                  LongAd(S, block, map) + Le(0, 2) + d;
  f.resize((f.size() + 3) & ~size_t{3}, '\0');
  Seal(reinterpret_cast<unsigned char*>(f.data()), f.size(), 0);
  return f;
}
// A file entry at `block`: `type` (5 a file, 248 the VAT), `length` bytes,
// its allocation descriptors `ads` of `adType` (0 short, 1 long, 3 the data itself).
Bytes FileEntry(int type, int64_t length, int adType, const std::string& ads, int64_t block) {
  Bytes fe(S, 0);
  fe[0] = 5, fe[1] = 1, fe[2] = 2, fe[27] = static_cast<unsigned char>(type);
  Put(&fe[20], 4, 2);
  Put(&fe[24], 1, 2);
  Put(&fe[34], adType, 2);
  Put(&fe[48], 1, 2);
  Put(&fe[56], length, 8);
  Put(&fe[172], static_cast<int64_t>(ads.size()));
  std::copy(ads.begin(), ads.end(), fe.begin() + 176);
  Seal(fe.data(), 176 + ads.size(), block);
  return fe;
}
// Adds file identifiers to a folder's entry whose identifiers are inside it.
void AddFileIds(unsigned char* fe, const std::string& fids) {
  const bool extended = fe[0] == 10;
  const int64_t ea = Le32Of(fe + (extended ? 208 : 168));
  const size_t at = (extended ? 216 : 176) + ea + Le32Of(fe + (extended ? 212 : 172));
  std::copy(fids.begin(), fids.end(), fe + at);
  const int64_t length = at + fids.size() - (extended ? 216 : 176) - ea;
  Put(fe + (extended ? 212 : 172), length);
  Put(fe + 56, length, 8);
  Seal(fe, at + fids.size(), Le32Of(fe + 12));
}
void SetSector(Bytes& image, int64_t sector, const Bytes& b) {
  if (image.size() < sector * S + b.size()) image.resize(sector * S + b.size());
  std::copy(b.begin(), b.end(), image.begin() + sector * S);
}
Bytes SectorsOf(const std::string& data) {
  Bytes b(data.begin(), data.end());
  b.resize((b.size() + S - 1) / S * S);
  return b;
}

// The files that the UDF writers below put into the root.
const std::map<std::string, std::string> kUdfFiles = {{"\\readme.txt", fake::Pattern(6, 1)},
                                                      {"\\list.doc", fake::Pattern(5000, 2)},
                                                      {"\\plaża.jpg", fake::Pattern(30000, 4)}};

// What the Live File System does on a disc with a VAT (a virtual partition):
// appends each file's data and entry, the root folder anew and a new VAT as
// the last recorded sector. File data are addressed in the physical
// partition, entries and folders in the virtual one. mkudffs's VAT is
// inside its entry: a UDF 2.00 header then the entries, or (UDF 1.50) the
// entries then "*UDF Virtual Alloc Tbl" and the previous VAT's place.
void AppendFilesToVat(Bytes& image, const std::map<std::string, std::string>& files) {
  UdfVolume v = VolumeOf(image);
  int64_t n = static_cast<int64_t>(image.size()) / S;
  const int64_t entry = (n - 1) * S;
  const bool old = image[entry + 27] == 0, extended = image[entry] == 10;
  const int64_t at = entry + (extended ? 216 : 176) + Le32At(image, entry + (extended ? 208 : 168));
  const int64_t length = Le32At(image, entry + 56);
  std::string header;
  std::vector<int64_t> vat;
  const int64_t first = old ? 0 : (image[at] | image[at + 1] << 8);
  header.assign(image.begin() + at, image.begin() + at + first);
  for (int64_t i = first; i + 4 <= length - (old ? 36 : 0); i += 4) vat.push_back(Le32At(image, at + i));
  const int64_t fileSet = v.start + vat[Le32Of(v.fileSet + 4)];
  const int64_t rootBlock = Le32At(image, fileSet * S + 404);
  Bytes root(image.begin() + (v.start + vat[rootBlock]) * S, image.begin() + (v.start + vat[rootBlock] + 1) * S);
  std::string fids;
  for (const auto& [path, data] : files) {
    const int64_t sector = n;
    SetSector(image, sector, SectorsOf(data));
    n = static_cast<int64_t>(image.size()) / S;
    const int64_t block = static_cast<int64_t>(vat.size());
    vat.push_back(n - v.start);
    SetSector(image, n++, FileEntry(5, data.size(), 1, LongAd(data.size(), sector - v.start, v.physical), block));
    fids += FileId(path.substr(1), block, v.special);
  }
  AddFileIds(root.data(), fids);
  vat[rootBlock] = n - v.start;
  SetSector(image, n++, root);
  std::string table = header;
  for (int64_t e : vat) table += Le(e, 4);
  if (old) table += std::string(1, '\0') + "*UDF Virtual Alloc Tbl" + std::string(9, '\0') + Le(0xFFFFFFFF, 4);
  SetSector(image, n, FileEntry(old ? 0 : 248, table.size(), 3, table, n - v.start));
}

void AppendToVat(Bytes& image) { AppendFilesToVat(image, kUdfFiles); }
// One small file appended: the VAT before it lies only a few sectors back.
const std::map<std::string, std::string> kOneUdfFile = {{"\\readme.txt", fake::Pattern(6, 1)}};
void AppendOneToVat(Bytes& image) { AppendFilesToVat(image, kOneUdfFile); }

// Files put into the root of mkudffs's image with a sparable partition (a
// CD-RW or DVD-RW formatted for packet writing), each in a packet of its
// own; the first file's packet remapped, as a drive does when a write there
// fails: its good copy in the first spare packet (each sparing table's first
// entry naming it), stale bytes left at its own place.
void SparableFiles(Bytes& image) {
  UdfVolume v = VolumeOf(image);
  const int64_t fileSet = v.start + Le32Of(v.fileSet + 4);
  const int64_t root = v.start + Le32At(image, fileSet * S + 404);
  std::string fids;
  int64_t packet = (v.length / 2 + v.packet - 1) / v.packet * v.packet;
  const int64_t remapped = packet;
  for (const auto& [path, data] : kUdfFiles) {
    std::copy(data.begin(), data.end(), image.begin() + (v.start + packet) * S);
    const int64_t entry = packet + v.packet - 1;
    SetSector(image, v.start + entry, FileEntry(5, data.size(), 0, ShortAd(data.size(), packet), entry));
    fids += FileId(path.substr(1), entry, 0);
    packet += v.packet;
  }
  AddFileIds(image.data() + root * S, fids);
  const int64_t spare = Le32At(image, v.sparing[0] * S + 60);
  std::copy_n(image.begin() + (v.start + remapped) * S, v.packet * S, image.begin() + spare * S);
  const std::string stale = fake::Pattern(v.packet * S, 99);
  std::copy(stale.begin(), stale.end(), image.begin() + (v.start + remapped) * S);
  for (int64_t t : v.sparing) {
    unsigned char* d = image.data() + t * S;
    Put(d + 56, remapped);
    Seal(d, 56 + 8 * (d[48] | d[49] << 8), t);
  }
}

// The same with the sparable map's packet length 0 (a hostile disc).
void SparableNoPacket(Bytes& image) {
  SparableFiles(image);
  for (bool reserve : {false, true})
    for (int64_t s : UdfSequence(image, reserve)) {
      unsigned char* d = image.data() + s * S;
      if (d[0] != 6) continue;
      Put(d + 440 + 40, 0, 2);
      Seal(d, 440 + Le32Of(d + 264), s);
    }
}

// genisoimage's UDF file "list.doc" with its allocation continued in an
// allocation extent descriptor in a sector of its own, put after the
// image's end (the partition grown to hold it).
void AllocationExtent(Bytes& image) {
  const int64_t fe = UdfEntry(image, "list.doc"), n = static_cast<int64_t>(image.size()) / S;
  UdfVolume v = VolumeOf(image);
  unsigned char* d = image.data() + fe * S;
  const int64_t ea = Le32At(image, fe * S + 168), at = 176 + ea;
  const int64_t length = Le32At(image, fe * S + at) & 0x3FFFFFFF, block = Le32At(image, fe * S + at + 4);
  const std::string ads = ShortAd(S, block) + ShortAd(int64_t{3} << 30 | 32, n - v.start);
  std::copy(ads.begin(), ads.end(), d + at);
  Put(d + 172, static_cast<int64_t>(ads.size()));
  Seal(d, at + ads.size(), Le32At(image, fe * S + 12));
  Bytes aed(S, 0);
  aed[0] = 2, aed[1] = 1, aed[2] = 2;  // 258
  const std::string rest = ShortAd(length - S, block + 1);
  Put(&aed[20], static_cast<int64_t>(rest.size()));
  std::copy(rest.begin(), rest.end(), aed.begin() + 24);
  Seal(aed.data(), 24 + rest.size(), n - v.start);
  SetSector(image, n, aed);
  for (bool reserve : {false, true})
    for (int64_t s : UdfSequence(image, reserve))
      if (image[s * S] == 5) {
        Put(image.data() + s * S + 192, n + 1 - v.start);
        Seal(image.data() + s * S, 512, s);
      }
}

// Which sectors a row takes away, found in the image by the tools above.
using Taking = std::function<std::vector<int64_t>(const fs::path&, const Bytes&)>;
Taking Folder(const std::string& tree, const std::string& folder) {
  return [=](const fs::path& p, const Bytes&) { return std::vector<int64_t>{FolderSector(p, tree, folder)}; };
}
Taking Folders(const std::string& folder) {  // in both trees
  return [=](const fs::path& p, const Bytes&) {
    return std::vector<int64_t>{FolderSector(p, "-J", folder), FolderSector(p, "-R", folder)};
  };
}
Taking Udf(std::vector<std::string> names, bool folderData = false) {
  return [=](const fs::path&, const Bytes& i) {
    std::vector<int64_t> out;
    for (const auto& n : names) out.push_back(UdfEntry(i, n, folderData));
    return out;
  };
}
Taking All(std::vector<Taking> ts) {
  return [=](const fs::path& p, const Bytes& i) {
    std::vector<int64_t> out;
    for (const Taking& t : ts)
      for (int64_t s : t(p, i)) out.push_back(s);
    return out;
  };
}
// The image's last `count` sectors.
Taking Last(int count) {
  return [=](const fs::path&, const Bytes& i) {
    std::vector<int64_t> out;
    for (int k = 1; k <= count; ++k) out.push_back(static_cast<int64_t>(i.size()) / S - k);
    return out;
  };
}
// A sparing table's copy.
Taking SparingTable(size_t copy) {
  return [=](const fs::path&, const Bytes& i) {
    return std::vector<int64_t>{VolumeOf(const_cast<Bytes&>(i)).sparing.at(copy)};
  };
}
// The remapped packet's own place (its stale bytes).
Taking RemappedPacket() {
  return [](const fs::path&, const Bytes& i) {
    const UdfVolume v = VolumeOf(const_cast<Bytes&>(i));
    const int64_t first = v.start + Le32At(i, v.sparing[0] * S + 56);
    std::vector<int64_t> out;
    for (int64_t k = 0; k < v.packet; ++k) out.push_back(first + k);
    return out;
  };
}
// The ISO 9660 volume descriptors taken away, so that its trees cannot fill in for UDF.
const Taking kIsoGone = [](const fs::path&, const Bytes&) { return std::vector<int64_t>{16, 17}; };

struct Row {
  const char* name;
  const char* options;
  Taking take;
  DiscFormat format;
  std::vector<std::string> unknown;  // the unknown entries
  std::vector<std::string> lost;     // files not listed (below an unknown folder)
  std::map<std::string, std::string> renamed;  // the path a file is listed under, where not its own
  std::function<void(Bytes&)> make = nullptr;  // what becomes of the image first
  // Files whose allocation could be read only in part: listed whole, the
  // rest of their bytes not known.
  std::vector<std::string> partial = {};
  const std::map<std::string, std::string>* files = &kFiles;  // the files the image holds
};

const std::vector<std::string> kDocs = {"\\Dokumenty\\list.doc", "\\Dokumenty\\plan.txt"};
const Row kRows[] = {
    {"iso whole", "-J -R", nullptr, DiscFormat::kIso9660, {}, {}, {}},
    {"udf whole", "-J -R -udf", nullptr, DiscFormat::kUdf, {}, {}, {}},
    {"joliet folder gone, primary names",
     "-J",
     Folder("-J", "/Dokumenty/"),
     DiscFormat::kIso9660,
     {},
     {},
     {{kDocs[0], "\\Dokumenty\\LIST.DOC"}, {kDocs[1], "\\Dokumenty\\PLAN.TXT"}}},
    {"joliet folder gone, rock ridge names", "-J -R", Folder("-J", "/Dokumenty/"), DiscFormat::kIso9660, {}, {}, {}},
    {"primary folder gone", "-J -R", Folder("-R", "/Dokumenty/"), DiscFormat::kIso9660, {}, {}, {}},
    {"both trees' folder gone", "-J -R", Folders("/Dokumenty/"), DiscFormat::kIso9660, {"\\Dokumenty"}, kDocs, {}},
    {"both trees' root gone", "-J -R", Folders("/"), DiscFormat::kIso9660, {"\\"}, {"\\readme.txt"}, {}},
    {"both trees' folder and joliet path tables gone",
     "-J -R",
     All({Folders("/Dokumenty/"), [](const fs::path&, const Bytes& i) { return PathTables(i, 17); }}),
     DiscFormat::kIso9660,
     {"\\Dokumenty"},
     kDocs,
     {{"\\Dokumenty\\Zdjęcia z wakacji\\plaża.jpg", "\\Dokumenty\\ZDJ__CIA\\plaża.jpg"},
      {"\\Dokumenty\\Zdjęcia z wakacji\\Album\\x.bin", "\\Dokumenty\\ZDJ__CIA\\Album\\x.bin"}}},
    {"udf main sequence gone",
     "-J -R -udf",
     [](const fs::path&, const Bytes& i) { return UdfSequence(i, false); },
     DiscFormat::kUdf,
     {},
     {},
     {}},
    {"udf anchor 256 gone",
     "-J -R -udf",
     [](const fs::path&, const Bytes&) { return std::vector<int64_t>{256}; },
     DiscFormat::kUdf,
     {},
     {},
     {}},
    {"udf file entry gone, iso 9660 fills in", "-J -R -udf", Udf({"list.doc"}), DiscFormat::kUdf, {}, {}, {}},
    {"udf folder entry and iso folders gone",
     "-J -R -udf",
     All({Folders("/Dokumenty/"), Udf({"Dokumenty"})}),
     DiscFormat::kUdf,
     {"\\Dokumenty"},
     kDocs,
     {}},
    {"udf file entry and iso folders gone",
     "-J -R -udf",
     All({Folders("/Muzyka/"), Udf({"pusty.txt"})}),
     DiscFormat::kUdf,
     {"\\Muzyka\\pusty.txt"},
     {"\\Muzyka\\pusty.txt"},
     {}},
    {"udf metadata partition", "-J -R -udf", kIsoGone, DiscFormat::kUdf, {}, {}, {}, MetadataPartition},
    {"udf metadata file's entries gone, mirror used",
     "-J -R -udf",
     All({kIsoGone, Udf({"Dokumenty", "list.doc", "Muzyka"})}),
     DiscFormat::kUdf,
     {},
     {},
     {},
     MetadataPartition},
    {"udf metadata file's folder data gone, mirror used", "-J -R -udf",
     All({kIsoGone, Udf({"Dokumenty", "list.doc"}, true)}), DiscFormat::kUdf, {}, {}, {}, MetadataPartition},
    {"iso interleaved file", "-J -R", nullptr, DiscFormat::kIso9660, {}, {}, {}, Interleave},
    {"udf allocation extent", "-J -R -udf", nullptr, DiscFormat::kUdf, {}, {}, {}, AllocationExtent},
    {"udf allocation extent gone, iso 9660 fills in", "-J -R -udf", Last(1), DiscFormat::kUdf, {}, {}, {},
     AllocationExtent},
    {"udf allocation extent and iso 9660 gone, the rest not known", "-J -R -udf", All({Last(1), kIsoGone}),
     DiscFormat::kUdf, {}, {}, {}, AllocationExtent, {kDocs[0]}},
    {"udf vat 1.50 cd-r, files appended", "mkudffs cdr 0x0150 300", nullptr, DiscFormat::kUdf, {}, {}, {}, AppendToVat,
     {}, &kUdfFiles},
    {"udf vat 2.01 cd-r, files appended", "mkudffs cdr 0x0201 300", nullptr, DiscFormat::kUdf, {}, {}, {}, AppendToVat,
     {}, &kUdfFiles},
    {"udf vat 2.50 dvd-r, files appended", "mkudffs dvdr 0x0250 3000", nullptr, DiscFormat::kUdf, {}, {}, {},
     AppendToVat, {}, &kUdfFiles},
    {"udf vat 2.50 bd-r, files appended", "mkudffs bdr 0x0250 3000", nullptr, DiscFormat::kUdf, {}, {}, {},
     AppendToVat, {}, &kUdfFiles},
    {"udf vat gone", "mkudffs cdr 0x0201 300", Last(1), DiscFormat::kUdf, {"\\"},
     {"\\list.doc", "\\plaża.jpg", "\\readme.txt"}, {}, AppendToVat, {}, &kUdfFiles},
    {"udf vat gone, the one before it near", "mkudffs cdr 0x0150 300", Last(1), DiscFormat::kUdf, {"\\"},
     {"\\readme.txt"}, {}, AppendOneToVat, {}, &kOneUdfFile},
    {"udf sparable 1.50 cd-rw, a packet remapped", "mkudffs cdrw 0x0150 3000", nullptr, DiscFormat::kUdf, {}, {}, {},
     SparableFiles, {}, &kUdfFiles},
    {"udf sparable 2.01 cd-rw, a packet remapped", "mkudffs cdrw 0x0201 3000", nullptr, DiscFormat::kUdf, {}, {}, {},
     SparableFiles, {}, &kUdfFiles},
    {"udf sparable 1.50 dvd-rw, a packet remapped", "mkudffs dvdrw 0x0150 3000", nullptr, DiscFormat::kUdf, {}, {}, {},
     SparableFiles, {}, &kUdfFiles},
    {"udf sparable 2.01 dvd-rw, its old place unreadable", "mkudffs dvdrw 0x0201 3000", RemappedPacket(),
     DiscFormat::kUdf, {}, {}, {}, SparableFiles, {}, &kUdfFiles},
    {"udf sparable, first sparing table gone", "mkudffs cdrw 0x0201 3000", SparingTable(0), DiscFormat::kUdf, {}, {},
     {}, SparableFiles, {}, &kUdfFiles},
    {"udf sparable, every sparing table gone", "mkudffs cdrw 0x0201 3000", All({SparingTable(0), SparingTable(1)}),
     DiscFormat::kUdf, {"\\list.doc"}, {"\\list.doc"}, {}, SparableFiles, {"\\plaża.jpg", "\\readme.txt"},
     &kUdfFiles},
    {"udf sparable, every sparing table gone, no packet length", "mkudffs cdrw 0x0201 3000",
     All({SparingTable(0), SparingTable(1)}), DiscFormat::kUdf, {"\\list.doc"}, {"\\list.doc"}, {},
     SparableNoPacket, {"\\plaża.jpg", "\\readme.txt"}, &kUdfFiles},
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }
class DiscTreeRows : public ::testing::TestWithParam<Row> {};

TEST_P(DiscTreeRows, ListsWhatCanBeHadAndNamesTheRestUnknown) {
  const Row& row = GetParam();
  ImageSource source;
  const fs::path image = Image(row.options);
  source.image = Read(image);
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

  std::map<std::string, std::string> want;  // by the path listed
  std::set<std::string> got, unknown;
  for (const auto& [path, data] : *row.files)
    if (std::find(row.lost.begin(), row.lost.end(), path) == row.lost.end())
      want[row.renamed.count(path) ? row.renamed.at(path) : path] = data;
  for (const DiscEntry& e : tree.entries) {
    (e.unknown ? unknown : got).insert(e.path);
    if (e.unknown || !want.count(e.path)) continue;
    // The file's bytes, from where the tree says they lie, are the file's own;
    // none of them lies in a sector taken away.
    // A file whose allocation could be read only in part: the rest not known.
    const bool partial = std::find(row.partial.begin(), row.partial.end(), e.path) != row.partial.end();
    std::string data;
    bool notKnown = false;
    for (const DiscExtent& x : e.extents) {
      if (partial && x.pos == DiscExtent::kUnknown) {
        notKnown = true;
        data.append(want[e.path], data.size(), x.size);
        continue;
      }
      ASSERT_GE(x.pos, 0) << e.path;
      for (int64_t s = x.pos / S; s * S < x.pos + x.size; ++s)
        EXPECT_FALSE(source.taken.count(s)) << e.path << " lies in sector " << s << " taken away";
      data.append(source.image.begin() + x.pos, source.image.begin() + x.pos + x.size);
    }
    EXPECT_EQ(notKnown, partial) << e.path;
    EXPECT_EQ(e.size, static_cast<int64_t>(want[e.path].size())) << e.path;
    EXPECT_TRUE(data == want[e.path]) << e.path;
  }
  std::set<std::string> wantPaths;
  for (const auto& w : want) wantPaths.insert(w.first);
  EXPECT_EQ(got, wantPaths);
  EXPECT_EQ(unknown, std::set<std::string>(row.unknown.begin(), row.unknown.end()));
  EXPECT_TRUE(std::is_sorted(tree.entries.begin(), tree.entries.end(),
                             [](const auto& a, const auto& b) { return CompareDiscPaths(a.path, b.path) < 0; }));
  // Every sector asked for is named the file system's.
  for (int64_t s : source.asked)
    EXPECT_TRUE(std::any_of(tree.system.begin(), tree.system.end(),
                            [&](const DiscExtent& x) { return x.pos <= s * S && s * S < x.pos + x.size; }))
        << "sector " << s;
}

INSTANTIATE_TEST_SUITE_P(Images, DiscTreeRows, ::testing::ValuesIn(kRows), [](const auto& info) {
  std::string n = info.param.name;
  for (char& c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
});

std::vector<std::string> Paths(const DiscTree& t, bool unknown) {
  std::vector<std::string> out;
  for (const auto& e : t.entries)
    if (e.unknown == unknown) out.push_back(e.path);
  return out;
}

// Hostile discs: what the reader lists instead of following them.
// Deeper than 32 levels: in the Joliet tree, and in the primary tree whose
// folders below the 8th level Rock Ridge relocates (shown where they belong).
TEST(DiscTreeHostile, DeeperThan32Levels) {
  for (const char* options : {"-J -R -D", "-R"}) {
    ImageSource source;
    source.image = Read(Image(options, "deep"));
    const DiscTree t = ReadDiscTree(source);
    std::string deepest;
    for (int i = 1; i <= 33; ++i) deepest += "\\d" + std::to_string(i);
    EXPECT_EQ(Paths(t, true), std::vector<std::string>{deepest}) << options;
    EXPECT_EQ(t.entries.size(), 33u) << options;  // the files of the 32 levels above
  }
}

TEST(DiscTreeHostile, AFolderThatLoopsToTheRoot) {
  ImageSource source;
  const fs::path image = Image("-J -R");
  source.image = Read(image);
  // The records of "Dokumenty" in the root (both trees) point at the root itself.
  for (const std::string tree : {"-J", "-R"}) {
    const int64_t root = FolderSector(image, tree, "/");
    const std::string needle = tree == "-J" ? std::string("\0D\0o\0k\0u\0m", 10) : "DOKUMENT";
    const size_t at = std::string_view(reinterpret_cast<const char*>(source.image.data()) + root * S, S).find(needle);
    ASSERT_NE(at, std::string_view::npos) << tree;
    unsigned char* r = source.image.data() + root * S + at - 33;
    Put(r + 2, root);
    for (int i = 0; i < 4; ++i) r[9 - i] = static_cast<unsigned char>(root >> (8 * i));
  }
  EXPECT_EQ(Paths(ReadDiscTree(source), false),
            (std::vector<std::string>{"\\Muzyka\\pusty.txt", "\\Muzyka\\utwór 1.mp3", "\\readme.txt"}));
}

TEST(DiscTreeHostile, TheLastFilePastTheDiscsEnd) {
  ImageSource source;
  source.image = Read(Image("-J -R -no-pad"));
  // The image ends halfway through its last file (the largest, written last).
  source.image.resize(source.image.size() - 20 * S);
  int outside = 0;
  for (const DiscEntry& e : ReadDiscTree(source).entries) {
    int64_t total = 0;
    for (const DiscExtent& x : e.extents) {
      total += x.size;
      if (x.pos == DiscExtent::kOutside) ++outside;
      else EXPECT_LE(x.pos + x.size, static_cast<int64_t>(source.image.size())) << e.path;
    }
    EXPECT_EQ(total, e.size) << e.path;
  }
  EXPECT_EQ(outside, 1);
}

// The bytes of a listed file, from where the tree says they lie.
std::string BytesOf(const Bytes& image, const DiscEntry& e) {
  std::string data;
  for (const DiscExtent& x : e.extents) {
    EXPECT_GE(x.pos, 0) << e.path;
    if (x.pos < 0 || x.pos + x.size > static_cast<int64_t>(image.size())) return data + "?";
    data.append(image.begin() + x.pos, image.begin() + x.pos + x.size);
  }
  return data;
}

// Path → bytes of every file listed; unknown entries as "?".
std::map<std::string, std::string> Listed(const Bytes& image, const DiscTree& tree) {
  std::map<std::string, std::string> out;
  for (const DiscEntry& e : tree.entries) out[e.path] = e.unknown ? "?" : BytesOf(image, e);
  return out;
}

// The files and unknown entries listed are `want` (path → bytes; "?" for an
// unknown entry), compared path by path so that a failure names the paths.
void ExpectListed(const Bytes& image, const DiscTree& tree, const std::map<std::string, std::string>& want) {
  const std::map<std::string, std::string> got = Listed(image, tree);
  std::vector<std::string> gotPaths, wantPaths;
  for (const auto& g : got) gotPaths.push_back(g.first);
  for (const auto& w : want) wantPaths.push_back(w.first);
  EXPECT_EQ(gotPaths, wantPaths);
  for (const auto& [path, data] : want)
    if (got.count(path)) EXPECT_TRUE(got.at(path) == data) << path << " holds other bytes";
}

// Takes the record named `name` (as the folder spells it) out of the folder
// whose records are in `sector`, as a later session that deletes a file
// writes its folder.
void RemoveRecord(Bytes& image, int64_t sector, const std::string& name) {
  unsigned char* d = image.data() + sector * S;
  for (int64_t at = 0; at + 33 < S && d[at];) {
    const int64_t len = d[at];
    if (d[at + 32] == name.size() && std::memcmp(d + at + 33, name.data(), name.size()) == 0) {
      std::memmove(d + at, d + at + len, S - at - len);
      std::memset(d + S - len, 0, len);
      return;
    }
    at += len;
  }
  ADD_FAILURE() << "no record " << name << " in sector " << sector;
}

// The root folder's sector of the primary (1) or Joliet (2) tree of the
// session at `start`.
int64_t RootSector(const Bytes& image, int64_t start, int type) {
  for (int64_t s = start + 16; s < start + 20; ++s)
    if (image[s * S] == type) return Le32At(image, s * S + 156 + 2);
  return -1;
}

// A three-session disc: the second session replaces a file and adds one,
// the third adds one and deletes one. Its gaps cannot be read.
struct Sessions {
  Bytes image;
  std::vector<int64_t> starts;
  std::set<int64_t> gaps;
};
const Sessions& ThreeSessions() {
  static const Sessions made = [] {
    Sessions m;
    const fs::path path = test::MultisessionImage(
        {{{"\\keep.txt", "kept"}, {"\\Dane\\old.bin", fake::Pattern(10000, 1)}, {"\\del.txt", "deleted later"}},
         {{"\\Dane\\old.bin", fake::Pattern(20000, 2)}, {"\\added.txt", "added"}},
         {{"\\three.txt", "third"}}},
        "sessions.iso", m.starts);
    m.image = Read(path);
    RemoveRecord(m.image, RootSector(m.image, m.starts[2], 1), "DEL.TXT;1");
    RemoveRecord(m.image, RootSector(m.image, m.starts[2], 2), std::string("\0d\0e\0l\0.\0t\0x\0t", 14));
    for (int k = 1; k < 3; ++k)
      for (int64_t s = m.starts[k] - (k == 1 ? 11400 : 6900); s < m.starts[k]; ++s) m.gaps.insert(s);
    return m;
  }();
  return made;
}

TEST(DiscTreeSessions, TheNewestSessionIsTheDiscEarlierVersionsKept) {
  const Sessions& m = ThreeSessions();
  const std::string v1 = fake::Pattern(10000, 1), v2 = fake::Pattern(20000, 2);
  for (int sessions : {3, 2}) {
    SCOPED_TRACE(sessions);
    ImageSource source;
    source.image = m.image;
    if (sessions == 2) source.image.resize((m.starts[2] - 6900) * S);
    source.taken = m.gaps;
    // The layout from the disc's own file systems: the gaps never asked for.
    const DiscLayout layout = FindDiscLayout(source);
    EXPECT_LE(source.asked.size(), 4u);
    std::vector<DiscTrack> want = {{1, 1, 0, m.starts[1] - 11400, false},
                                   {2, 2, m.starts[1], m.starts[2] - 6900 - m.starts[1], false},
                                   {3, 3, m.starts[2], source.SectorCount() - m.starts[2], false}};
    want.resize(sessions);
    want.back().length = source.SectorCount() - want.back().start;
    EXPECT_EQ(layout.tracks, want);
    EXPECT_FALSE(layout.fromDrive);

    const DiscTree tree = ReadDiscTree(source, layout);
    EXPECT_EQ(tree.format, DiscFormat::kIso9660);
    EXPECT_EQ(tree.label, "Etykieta");
    std::map<std::string, std::string> files = {{"\\keep.txt", "kept"},
                                                {"\\Dane\\old.bin", v2},
                                                {"\\added.txt", "added"},
                                                {"\\Poprzednie sesje\\Sesja 1\\Dane\\old.bin", v1}};
    if (sessions == 3) {
      files["\\three.txt"] = "third";
      files["\\Poprzednie sesje\\Sesja 2\\del.txt"] = "deleted later";
    } else {
      files["\\del.txt"] = "deleted later";
    }
    ExpectListed(source.image, tree, files);
    for (int64_t s : source.asked) {
      EXPECT_FALSE(m.gaps.count(s)) << "a gap's sector " << s << " was asked for";
      EXPECT_TRUE(std::any_of(tree.system.begin(), tree.system.end(),
                              [&](const DiscExtent& x) { return x.pos <= s * S && s * S < x.pos + x.size; }))
          << "sector " << s;
    }
  }
  // The newest session's descriptors unreadable: what it holds is not
  // known, and every earlier file is an earlier version (never the older
  // session taken for the disc, with the later files missing and no damage).
  {
    ImageSource source;
    source.image = m.image;
    source.taken = m.gaps;
    for (int64_t s = m.starts[2] + 16; s < m.starts[2] + 19; ++s) source.taken.insert(s);
    // The drive's layout: without it the session could not be found at all.
    DiscLayout layout;
    layout.fromDrive = true;
    layout.tracks = {{1, 1, 0, m.starts[1] - 11400, false},
                     {2, 2, m.starts[1], m.starts[2] - 6900 - m.starts[1], false},
                     {3, 3, m.starts[2], source.SectorCount() - m.starts[2], false}};
    const DiscTree tree = ReadDiscTree(source, layout);
    EXPECT_EQ(tree.format, DiscFormat::kIso9660);
    ExpectListed(source.image, tree,
                 {{"\\", "?"},
                  {"\\Poprzednie sesje\\Sesja 1\\Dane\\old.bin", v1},
                  {"\\Poprzednie sesje\\Sesja 2\\Dane\\old.bin", v2},
                  {"\\Poprzednie sesje\\Sesja 2\\added.txt", "added"},
                  {"\\Poprzednie sesje\\Sesja 2\\del.txt", "deleted later"},
                  {"\\Poprzednie sesje\\Sesja 2\\keep.txt", "kept"}});
  }
  // Without a layout: the first session alone, as before.
  ImageSource source;
  source.image = m.image;
  ExpectListed(source.image, ReadDiscTree(source, DiscLayout{}),
               {{"\\Dane\\old.bin", v1}, {"\\del.txt", "deleted later"}, {"\\keep.txt", "kept"}});
}

// Sessions whose tracks were written at once: 2 run-out sectors after each,
// which cannot be read; the next session found after them.
TEST(DiscTreeSessions, TracksWrittenAtOnce) {
  std::vector<int64_t> starts;
  ImageSource source;
  source.image = Read(test::MultisessionImage({{{"\\a.txt", "first"}}, {{"\\b.txt", "second"}}, {{"\\c.txt", "third"}}},
                                              "at-once.iso", starts, 2));
  for (int k = 1; k < 3; ++k)
    for (int64_t s = starts[k] - (k == 1 ? 11402 : 6902); s < starts[k]; ++s) source.taken.insert(s);
  const DiscLayout layout = FindDiscLayout(source);
  ASSERT_EQ(layout.tracks.size(), 3u);
  EXPECT_EQ(layout.tracks[1].start, starts[1]);
  EXPECT_EQ(layout.tracks[2].start, starts[2]);
  EXPECT_EQ(layout.tracks[0].length, starts[1] - 11400);  // the run-out is the track's
  EXPECT_LE(source.asked.size(), 8u);
  ExpectListed(source.image, ReadDiscTree(source, layout),
               {{"\\a.txt", "first"}, {"\\b.txt", "second"}, {"\\c.txt", "third"}});
  for (int64_t s : source.asked)
    EXPECT_FALSE(source.taken.count(s)) << "sector " << s << " of a gap or run-out asked for";
}

// A CD-Extra: an audio session, then a data session. With the drive's table
// of contents the audio is never read; without it the disc's own file
// systems cannot be found past the audio, and one read tells so.
TEST(DiscTreeSessions, ACdExtraNeverReadsItsAudio) {
  const int64_t audio = 3000, data = audio + 11400;
  const fs::path dir = test::ImageDir() / "extra";
  test::WriteTree(dir, kFiles);
  // ISO 9660, and UDF beside it: its recognition sequence and anchor relative
  // to the session's first sector.
  for (const std::string options : {"-J -R", "-J -R -udf"}) {
    SCOPED_TRACE(options);
    const Bytes session = Read(test::Genisoimage(options + " -C 0," + std::to_string(data), "'" + dir.string() + "'",
                                                 "extra" + std::to_string(options.size()) + ".iso"));
    ImageSource source;
    source.image.assign(data * S, 0);
    source.image.insert(source.image.end(), session.begin(), session.end());
    for (int64_t s = 0; s < data; ++s) source.taken.insert(s);  // audio and the gap: no data sector there
    DiscLayout layout;
    layout.fromDrive = true;
    layout.tracks = {{1, 1, 0, audio, true}, {2, 2, data, source.SectorCount() - data, false}};
    const DiscTree tree = ReadDiscTree(source, layout);
    EXPECT_EQ(tree.format, options.find("udf") != std::string::npos ? DiscFormat::kUdf : DiscFormat::kIso9660);
    std::map<std::string, std::string> want(kFiles.begin(), kFiles.end());
    ExpectListed(source.image, tree, want);
    EXPECT_TRUE(std::none_of(source.asked.begin(), source.asked.end(), [&](int64_t s) { return s < data; }));

    source.asked.clear();
    EXPECT_EQ(FindDiscLayout(source), DiscLayout{});
    EXPECT_EQ(source.asked, std::set<int64_t>{16});
  }
}

// Mixed mode: a data track, then audio tracks. UDF's anchor at 256 cannot be
// read: the one at the data track's end is used, and the audio never read.
TEST(DiscTreeSessions, MixedModeNeverReadsItsAudio) {
  ImageSource source;
  source.image = Read(Image("-J -R -udf"));
  const int64_t data = source.SectorCount(), audio = 3000;
  source.image.resize((data + audio) * S);
  for (int64_t s = data; s < data + audio; ++s) source.taken.insert(s);
  source.taken.insert({16, 17, 256});  // ISO 9660's descriptors too, so that UDF alone gives the list
  DiscLayout layout;
  layout.fromDrive = true;
  layout.tracks = {{1, 1, 0, data, false}, {2, 1, data, audio / 2, true}, {3, 1, data + audio / 2, audio / 2, true}};
  const DiscTree tree = ReadDiscTree(source, layout);
  EXPECT_EQ(tree.format, DiscFormat::kUdf);
  ExpectListed(source.image, tree, kFiles);
  EXPECT_TRUE(std::none_of(source.asked.begin(), source.asked.end(), [&](int64_t s) { return s >= data; }));
}

// A hostile disc: the Joliet root cannot be read, and its 8,000 folders pair
// with no primary folder by sectors or names. Listed in about the time the
// same disc takes whole (pairing them by trying each against each took
// seconds), and a listing stops when asked.
TEST(DiscTreeHostile, ManyFoldersThatPairWithNothing) {
  const fs::path image = Image("-J", "unmatched");
  ImageSource source;
  source.image = Read(image);
  auto timed = [&](DiscTree& tree) {
    const auto start = std::chrono::steady_clock::now();
    tree = ReadDiscTree(source);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  DiscTree whole, hostile;
  const double wholeSeconds = timed(whole);
  source.taken.insert(FolderSector(image, "-J", "/"));
  const double hostileSeconds = timed(hostile);
  std::printf("8,000 folders: %.3f s whole, %.3f s with the Joliet root gone\n", wholeSeconds, hostileSeconds);
  ASSERT_EQ(hostile.entries.size(), 8000u);  // each folder's file, by its Joliet name
  EXPECT_EQ(hostile.entries[0].path, "\\ą0001\\f.txt");
  EXPECT_EQ(hostile.entries.back().path, "\\ą8000\\f.txt");
  EXPECT_LT(hostileSeconds, 3 * wholeSeconds + 0.1);

  // Stopped after 100 sectors: DiscListingStopped, and no sector more.
  int asked = 0;
  source.asked.clear();
  EXPECT_THROW(ReadDiscTree(source, DiscLayout{}, [&] { return ++asked > 100; }), DiscListingStopped);
  EXPECT_EQ(asked, 101);
  EXPECT_LE(source.asked.size(), 100u);
}

// A file whose allocation extent descriptor cannot be read: listed at its
// full length, the rest of its bytes not known, "Uszkodzony" though every
// sector it names is read, and written out with zeros there that its own
// map names not read (before, 2,048 bytes "Cały").
TEST(DiscTreeUdf, AFileWhoseAllocationCannotBeReadIsNeverWhole) {
  ImageSource source;
  source.image = Read(Image("-J -R -udf"));
  AllocationExtent(source.image);
  const int64_t aed = source.SectorCount() - 1;
  source.taken.insert({aed, 16, 17});  // and ISO 9660's descriptors, which would say where the file lies
  const DiscTree tree = ReadDiscTree(source);
  const auto it = std::find_if(tree.entries.begin(), tree.entries.end(),
                               [](const DiscEntry& e) { return e.path == "\\Dokumenty\\list.doc"; });
  ASSERT_NE(it, tree.entries.end());
  EXPECT_EQ(it->size, 5000);
  RescueMap map(source.SectorCount() * S, kFinished);
  map.Set(aed * S, S, kBadSector);
  const EntryState state = StateOf(*it, map);
  EXPECT_EQ(state.condition, FileCondition::kDamaged);
  EXPECT_EQ(state.notRead, 5000 - S);
  EXPECT_EQ(state.unreadable, 0);

  fake::Target image, out;
  image.bytes.assign(source.image.begin(), source.image.end());
  const RescueMap own = ExtractFile(*it, image, map, out);
  EXPECT_TRUE(out.bytes == kFiles.at("\\Dokumenty\\list.doc").substr(0, S) + std::string(5000 - S, '\0'));
  EXPECT_EQ(own.Areas(), (std::vector<MapArea>{{0, S, kFinished}, {S, 5000 - S, kNonTried}}));
}

// 20,000 files in 2,000 folders, from an image already read: all listed, in
// well under a second (the figure is printed).
TEST(DiscTree, ListsManyFilesFast) {
  for (const char* options : {"-J -R", "-J -R -udf"}) {
    ImageSource source;
    source.image = Read(Image(options, "many"));
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
