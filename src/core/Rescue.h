// The rescue engine: one loop that reads everything readable of a file into
// its destination, driven by a read map. The copy run uses it in rescue mode
// with a fresh map; the resume window uses it with a map loaded from disk.
//
// The rescue goes in phases over the map, each taking the areas of one
// status and narrowing them:
//   copy   '?' read in large blocks                   -> '+' or '*'
//   trim   '*' sector by sector from both edges         -> '+', '-' at the edges, '/' inside
//   scrape '/' every sector once                        -> '+' or '-'
//   refine '-' runs of bad sectors, in the level's block size from their ends
//          (and spot by spot where readable bytes lie between)  -> '+' or '-'
// Areas marked '-' by an earlier run are tried again (as '/') at the start.
// Failing reads are what costs on a real drive (seconds each), so their
// number stays near a sector-by-sector rescue's: each damaged sector once,
// plus about one per edge of each damaged area. The level keeps one meaning:
// how close to the damage readable bytes are still kept (level 0: every
// readable byte; level 4: at most 1024 bytes on each side given up).
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/FileApi.h"
#include "core/Pacer.h"
#include "core/RescueMap.h"

namespace sk {

// The window side of a rescue.
class IRescueView {
 public:
  virtual ~IRescueView() = default;
  // After every read (and its write): the map as it is now. Called very
  // often; keep it to updating numbers.
  virtual void Advanced(const RescueMap& map) = 0;
  // Process pending window messages (paced by time).
  virtual void Pump() = 0;
  // Bring the window up to date, labels included (paced by time).
  virtual void Refresh() = 0;
  // Tested after every block; true ends the rescue after the block in hand.
  virtual bool StopRequested() = 0;
  // Save the map where it belongs (e.g. SaveMapFile). Throws FileError.
  virtual void SaveMap(const RescueMap& map) = 0;
  // Asked after every failing read: whether the source is still there. When
  // it is not, the read was no damage (the medium went away).
  virtual bool SourcePresent() { return true; }
};

// The medium holding the source went away during a rescue: the read that
// found it was not taken as damage, and the map is as it was before it.
class MediumGone : public FileError {
 public:
  MediumGone() : FileError("Nośnik jest niedostępny") {}
};

struct RescueOptions {
  int level = 0;                 // copy level 0..4: the block size at the edges of damage
  size_t largeBlock = 64 * 1024;  // reads of never-tried areas
  size_t sectorSize = 2048;       // reads inside damaged areas
  int saveIntervalMs = 5000;      // the map is saved at least this often (when it changed)
  // A map file of this rescue exists already (a resume). Without one, the
  // map is also saved at once at the first failing read, before anything is
  // written beyond the hole, so the destination never says more than it
  // holds.
  bool mapOnDisk = false;
};

struct RescueResult {
  bool stopped = false;
  int64_t reads = 0;        // read calls made
  int64_t failedReads = 0;  // of which failed
};

class RescueEngine {
 public:
  RescueEngine(IFile& source, IFile& destination, RescueMap& map, IClock& clock, Pacer& pacer, IRescueView& view,
               RescueOptions options);

  // Runs the phases until no area is left to try, or until a stop. Every
  // block read is written at its own offset in the destination, and the
  // destination is made map.Size() long at the end (stopped or not); bytes
  // never read stay zero. The map is only marked '+' for bytes the
  // destination holds. The caller saves (or deletes) the map at the end.
  // A failed write, or a failure of the destination or of a save, ends the
  // rescue with a FileError; the map then still names exactly what the
  // destination holds.
  RescueResult Run();

  const RescueResult& Result() const { return result_; }

 private:
  struct Stopped {};
  struct Outcome {
    int64_t got = 0;     // bytes read and written from the start of the block
    bool failed = false;  // the rest of the block could not be read
  };
  Outcome ReadAt(int64_t pos, int64_t count, char failStatus);
  void AfterStep();
  void SaveNow();
  void CopyArea(const MapArea& area);
  void TrimArea(const MapArea& area);
  void ScrapeArea(const MapArea& area);
  void RefineArea(const MapArea& area);
  // Where a scan found the edge of damage, and whether its first read (at
  // every scale) failed: damage right where the scan began.
  struct Edge {
    int64_t at;
    bool immediate;
  };
  Edge EdgeForward(int64_t lo, int64_t hi, std::initializer_list<int64_t> scales);
  Edge EdgeBackward(int64_t lo, int64_t hi, std::initializer_list<int64_t> scales);
  bool HasCoarseScale() const;

  IFile& source_;
  IFile& destination_;
  RescueMap& map_;
  IClock& clock_;
  Pacer& pacer_;
  IRescueView& view_;
  RescueOptions options_;
  int64_t block_;  // the level's block size
  std::vector<unsigned char> buffer_;
  RescueResult result_;
  char phase_ = kNonTried;
  bool mapSaved_ = false;
  bool changedSinceSave_ = false;
  int64_t lastSaveMs_ = 0;
  int64_t sourceAt_ = -1, destinationAt_ = -1;  // the files' positions, when known
};

// The map of a destination: its path with ".map" added.
std::string MapPathFor(const std::string& destination);

// Writes the map in its text form so that the file on disk is always a whole
// map (IFileSystem::ReplaceContent). Throws FileError.
void SaveMapFile(IFileSystem& files, const std::string& path, const RescueMap& map);

// Reads a map file. Throws FileError when it cannot be read (e.g. "File not
// found") and MapFormatError when it is not a map.
RescueMap LoadMapFile(IFileSystem& files, const std::string& path);

// What lies where a destination's map goes: nothing, a map (left by an
// earlier rescue), or some other file (a file of the user's that happens to
// have that name, or one that cannot be read), which a rescue must neither
// delete nor replace.
enum class MapSlot { kFree, kMap, kForeign };
MapSlot InspectMapPath(IFileSystem& files, const std::string& path);

}  // namespace sk
