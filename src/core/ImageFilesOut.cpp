// Files written out of the image, each with its own read map, under names
// Windows takes.
#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/CopyRun.h"
#include "core/DiscImage.h"
#include "core/DiscRead.h"
#include "core/ImageExtents.h"
#include "core/Text.h"

namespace sk {
namespace {

// A name Windows can take: the readers' rule for names on a disc
// (disc::SafeName), and the device names (CON, NUL, COM1...) with '_' added.
std::string SafeName(const std::string& name) {
  const std::string s = disc::SafeName(name);
  std::string stem = s.substr(0, s.find('.'));
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  static const char* const kDevices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                         "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                         "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  const bool device = std::any_of(std::begin(kDevices), std::end(kDevices), [&](const char* d) { return stem == d; });
  return device ? s + "_" : s;
}

}  // namespace

RescueMap ExtractFile(const DiscEntry& entry, IFile& image, const RescueMap& imageMap, IFile& out,
                      const RescueMap* earlier) {
  const int64_t size = std::max<int64_t>(0, entry.size);
  if (earlier && earlier->Size() != size) throw std::logic_error("an earlier file of another size");
  RescueMap map(size, kNonTried);
  if (!earlier && out.Size() > 0) out.SetSize(0);
  std::vector<unsigned char> buffer(64 * 1024);
  // Bytes [from, to) of the file copied from the image at `disc`.
  auto copy = [&](int64_t from, int64_t to, int64_t disc) {
    for (int64_t q = from; q < to;) {
      const size_t want = static_cast<size_t>(std::min<int64_t>(to - q, static_cast<int64_t>(buffer.size())));
      image.Seek(disc + q - from);
      const size_t got = image.Read(buffer.data(), want);
      if (got == 0) throw FileError("Read beyond end of file", 38);
      out.Seek(q);
      if (out.Write(buffer.data(), got) != got) throw DiskFullError();
      q += static_cast<int64_t>(got);
    }
  };
  int64_t at = 0;  // where the extent in hand begins in the file
  for (const DiscExtent& x : entry.extents) {
    if (at >= size) break;
    const int64_t length = std::min(std::max<int64_t>(0, x.size), size - at);
    if (x.pos == DiscExtent::kZeros) {
      map.Set(at, length, kFinished);
    } else if (x.pos == DiscExtent::kUnknown) {
      map.Set(at, length, kNonTried);  // zeros, not read
    } else if (x.pos < 0) {
      map.Set(at, length, kBadSector);
    } else {
      image::EachStatus(imageMap, x.pos, x.pos + length, [&](int64_t p, int64_t e, char status) {
        const int64_t from = at + p - x.pos, to = at + e - x.pos;
        map.Set(from, to - from, status);
        if (status != kFinished) return;
        if (!earlier) return copy(from, to, p);
        // The bytes the earlier file holds stay as they are.
        image::EachStatus(*earlier, from, to, [&](int64_t f, int64_t t, char held) {
          if (held != kFinished) copy(f, t, p + f - from);
        });
      });
    }
    at += length;
  }
  // Extents that give fewer bytes than the file's size: the rest is nowhere.
  if (at < size) map.Set(at, size - at, kBadSector);
  if (earlier)
    for (auto a = earlier->NextArea(0, kFinished); a; a = earlier->NextArea(a->end(), kFinished))
      map.Set(a->pos, a->size, kFinished);
  if (out.Size() != size) out.SetSize(size);
  return map;
}

std::string VolumeFolderName(const std::string& label) { return label.empty() ? "Płyta" : SafeName(label); }

ExtractNames::ExtractNames(std::string root, std::function<std::string(const std::string&)> nameKey,
                           std::function<bool(const std::string&)> taken)
    : root_(std::move(root)), nameKey_(nameKey ? std::move(nameKey) : LowerAscii), taken_(std::move(taken)) {}

bool ExtractNames::Taken(const std::string& path) const {
  if (given_.count(nameKey_(path)) != 0 || given_.count(nameKey_(MapPathFor(path))) != 0) return true;
  return taken_ && (taken_(path) || taken_(MapPathFor(path)));
}

std::string ExtractNames::PathFor(const std::string& entryPath) {
  // Each part of the disc's path made a name Windows takes; none climbs out
  // of the root.
  std::string path = root_;
  size_t from = entryPath.empty() || entryPath[0] != '\\' ? 0 : 1;
  for (;;) {
    const size_t slash = entryPath.find('\\', from);
    path += "\\" + SafeName(entryPath.substr(from, slash == std::string::npos ? std::string::npos : slash - from));
    if (slash == std::string::npos) break;
    from = slash + 1;
  }
  if (Taken(path)) {
    const std::string first = path;
    for (int n = 2; Taken(path = NumberedName(first, n)); ++n) {
    }
  }
  given_.insert(nameKey_(path));
  given_.insert(nameKey_(MapPathFor(path)));
  return path;
}

}  // namespace sk
