// The read maps the program writes (with the line naming their source),
// read by GNU ddrescuelog (installed by scripts/setup): it must take every
// one of them ("-l+" lists the rescued
// blocks and fails on a malformed map), read exactly our areas ("-A" writes
// them back) and so count the same rescued total.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/Rescue.h"
#include "core/RescueMap.h"
#include "core/RunCommand.h"

namespace sk {
namespace {

// Only what saving a map needs, on the real file system.
class MapFiles : public IFileSystem {
 public:
  std::unique_ptr<IFile> Open(const std::string&, OpenMode) override { throw FileError("I/O error 50", 50); }
  bool IsSameFile(IFile&, const std::string&) override { return false; }
  int64_t FileSizeByName(const std::string&) override { return 0; }
  void ReplaceContent(const std::string& path, const std::string& text) override {
    const std::string next = path + ".new";
    std::ofstream(next, std::ios::binary) << text;
    if (std::rename(next.c_str(), path.c_str()) != 0) throw FileError("I/O error 5", 5);
  }
};

using test::RunCommand;

// The areas as ddrescuelog -A writes them back ("0x… 0x… S" lines).
std::vector<MapArea> AreasOf(const std::string& annotated) {
  std::vector<MapArea> areas;
  std::istringstream lines(annotated);
  bool statusLineSeen = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (!statusLineSeen) {  // current_pos current_status current_pass
      statusLineSeen = true;
      continue;
    }
    MapArea a;
    char* end = nullptr;
    a.pos = std::strtoll(line.c_str(), &end, 16);
    a.size = std::strtoll(end, &end, 16);
    while (*end == ' ' || *end == '\t') ++end;
    a.status = *end;
    areas.push_back(a);
  }
  return areas;
}

struct MapCase {
  std::string name;
  int64_t size;
  std::vector<MapArea> marks;  // applied in order to a map of `size` bytes not yet tried
};

TEST(MapsReadByDdrescuelog, EveryMapTheProgramWritesIsReadAsWritten) {
  ASSERT_EQ(std::system("ddrescuelog --version >/dev/null 2>&1"), 0)
      << "ddrescuelog is missing (scripts/setup installs gddrescue)";
  constexpr int64_t MiB = 1 << 20;
  std::vector<MapCase> cases = {
      {"nothing tried", 16 * MiB, {}},
      {"all rescued", 16 * MiB, {{0, 16 * MiB, '+'}}},
      {"one byte", 1, {{0, 1, '+'}}},
      {"empty file", 0, {}},
      {"three areas at 4, 8, 12 MiB, byte-precise edges",
       16 * MiB,
       {{0, 16 * MiB, '+'}, {4 * MiB - 7, 32 * 1024 + 9, '-'}, {8 * MiB + 1, 32 * 1024, '-'}, {12 * MiB, 1, '-'}}},
      {"every status, a stopped rescue",
       10000,
       {{0, 3000, '+'}, {3000, 100, '*'}, {3100, 999, '/'}, {4099, 1, '-'}, {4100, 1000, '+'}}},
      {"damage at both ends", 5000, {{0, 5000, '+'}, {0, 10, '-'}, {4990, 10, '-'}}},
      {"beyond 4 GiB", (5LL << 30) + 3, {{0, (4LL << 30) + 1000, '+'}, {(4LL << 30) + 1000, 2048, '-'}}},
  };
  MapCase many{"10,000 bad spots", 10000 * 4096LL, {{0, 10000 * 4096LL, '+'}}};
  for (int64_t k = 0; k < 10000; ++k) many.marks.push_back({k * 4096 + 2048, 100 + k % 7, '-'});
  cases.push_back(many);

  char dir[] = "/tmp/sektorian_mapsXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  MapFiles files;
  for (const MapCase& c : cases) {
    SCOPED_TRACE(c.name);
    RescueMap map(c.size);
    for (const MapArea& m : c.marks) map.Set(m.pos, m.size, m.status);
    // The program's maps name their source in a comment line.
    map.source = SourceMark{c.size, 0, std::min<int64_t>(c.size, 4096), 0xFEDCBA9876543210ULL};
    const std::string path = std::string(dir) + "/case.map";
    SaveMapFile(files, path, map);
    int status = 0;
    RunCommand("ddrescuelog -l+ '" + path + "'", status);
    EXPECT_EQ(status, 0) << "ddrescuelog -l+ refused the map:\n" << map.ToText();
    const std::string annotated = RunCommand("ddrescuelog -A '" + path + "'", status);
    EXPECT_EQ(status, 0);
    const std::vector<MapArea> theirs = AreasOf(annotated);
    EXPECT_EQ(theirs, map.Areas());
    int64_t rescued = 0;
    for (const MapArea& a : theirs) rescued += a.status == '+' ? a.size : 0;
    EXPECT_EQ(rescued, map.Total('+'));
    std::remove(path.c_str());
  }
  rmdir(dir);
}

}  // namespace
}  // namespace sk
