// The rescue engine: one loop that reads everything readable of a file into
// its destination, driven by a read map. The copy run uses it in rescue mode
// with a fresh map; the resume window uses it with a map loaded from disk.
//
// The rescue goes in phases over the map, each taking the areas of one
// status and narrowing them. The fast phases find the readable data and
// where each damaged stretch begins and ends:
//   copy   '?' read in large blocks; after a block that fails, the reads skip
//          ahead, further while they keep failing, and once one reads the
//          skipped part is read backwards in large blocks up to the damage
//                                                    -> '+', '*' where damaged
//   trim   each '*' stretch sector by sector: backwards from the good data
//          behind it up to its first bad sector, then forwards from the good
//          data before it up to its first bad sector (never one known bad)
//                                                    -> '+', '-' at the edges, '/' inside
// The slow phases read the inside of the stretches:
//   scrape '/' every sector once                      -> '+' or '-'
// Unless the medium is known to fail sectors whole, the trim and the scrape
// read a sector in pieces (its two end bytes, then the rest), at no more
// failing reads: a bad sector whose end byte reads ends its run of bad
// sectors there, so places of damage in neighbouring sectors are narrowed
// each from its own ends.
//   refine '-' runs of bad sectors, in the level's block size from their ends
//          (and spot by spot where readable bytes lie between), only on a
//          medium that returns part of a sector      -> '+' or '-'
// Going on from a map, sectors found bad by an earlier run are tried once
// more after everything else (another drive or a cleaned disc may read them).
// Failing reads are what costs on a real drive (seconds each), so no sector
// is read twice in a rescue and no read is made that cannot tell anything.
// The level keeps one meaning: how close to the damage readable bytes are
// still kept (level 0: every readable byte; level 4: at most 1024 bytes on
// each side given up).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Clock.h"
#include "core/FileApi.h"
#include "core/Pacer.h"
#include "core/MapFile.h"
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
  // A block's reads and writes, as one piece (IFileSystem::Together).
  virtual void Together(const std::function<void()>& calls) { calls(); }
};

// The medium holding the source went away during a rescue: the read that
// found it was not taken as damage, and the map is as it was before it.
class MediumGone : public FileError {
 public:
  MediumGone() : FileError("Nośnik jest niedostępny") {}
};

// What a rescue asks when its source is not there as it was: "Ponów" (go
// on) or "Anuluj" (stop).
enum class MediumQuestion {
  kGone,       // the medium went away: put it back
  kOtherDisc,  // the source opened again is another medium's file of that name
};

// Whether the block a map's source line names reads as it did when the map
// was made. A block that cannot be read now tells nothing (true).
bool BlockMatches(IFile& source, const SourceMark& mark);
// Whether `source` is the file `map` was made of: its size, and the block
// the map names (where it names one).
bool SameSource(IFile& source, const RescueMap& map);

// The sector of a rescue of `source`: the medium's own (IFile::SectorSize)
// where it names one of 512 bytes to 64 KiB (a power of two), else a disc's
// 2048 bytes.
size_t RescueSectorOf(IFile& source);

// Whether the medium returns the readable part of a sector that holds an
// unreadable byte (a file system that fails byte by byte does; a drive never
// does: it fails the whole sector), as far as a rescue has found out.
//   kNo          known (a drive, or a read that can only fail so): sectors
//                are read whole
//   kEdgesWhole  every edge of damage read so far failed at its byte next to
//                the good data, and no sector has returned a part: taken as
//                failing sectors whole only for what costs no readable byte
//                (no narrowing below the sector), while every sector is still
//                read in pieces, so that a later place beginning or ending
//                off the sector grid shows itself (kYes) and is narrowed
enum class PartialReads : char { kUnknown, kYes, kNo, kEdgesWhole };

struct RescueOptions {
  int level = 0;                 // copy level 0..4: the block size at the edges of damage
  size_t largeBlock = 64 * 1024;  // reads of never-tried areas
  // Reads inside damaged areas: the medium's own sector (RescueSectorOf).
  size_t sectorSize = 2048;
  // The map is saved at least this often (when it changed), by the run's
  // clock, whether or not the window has been brought up to date meanwhile.
  int saveIntervalMs = 5000;
  // The longest a run of healthy large blocks is handed over as one piece
  // (off the window's thread, one hand-over for many blocks).
  int batchMs = 50;
  // A map file of this rescue exists already (a resume). Without one, the
  // map is also saved at once at the first failing read, before anything is
  // written beyond the hole, so the destination never says more than it
  // holds.
  bool mapOnDisk = false;
  // Only the fast phases (copy and trim); a later run over the same map does
  // the slow ones.
  bool fastOnly = false;
  // Sectors the map names as bad when the rescue begins (found by an earlier
  // run) are tried once more, after everything else.
  bool retryBadSectors = false;
  // The sectors still to try once more, where an earlier engine of the same
  // run has made that list already (a rescue going on after the medium came
  // back): a sector this run has retried is not tried a third time.
  std::optional<std::vector<MapArea>> earlierBad;
  // What an earlier run over the same map found out about the medium.
  PartialReads partialReads = PartialReads::kUnknown;
  // Only these byte ranges [from, to) of the map, sorted and not
  // overlapping; empty: the whole map. Every phase (the sectors found bad
  // earlier included) takes only the parts of its areas inside them: outside
  // nothing is read, and the map is not called finished at the end.
  std::vector<std::pair<int64_t, int64_t>> within;
};

struct RescueResult {
  bool stopped = false;
  // The medium went away and was not put back (the user chose to stop): the
  // rescue ended as after a stop, and so does the run.
  bool cancelled = false;
  int64_t reads = 0;        // read calls made
  int64_t failedReads = 0;  // of which failed
  PartialReads partialReads = PartialReads::kUnknown;  // as found out by now
  // After the fast phases alone: whether the slow ones have anything to do.
  bool narrowingLeft = false;
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
  // destination holds. A medium that went away ends it with MediumGone
  // (the destination not yet made full length).
  RescueResult Run();

  const RescueResult& Result() const { return result_; }
  // What the rescue has found out so far about the medium.
  PartialReads Partial() const { return partial_; }
  // The sectors found bad before this run that are still to be tried once
  // more (see RescueOptions::earlierBad): for an engine that goes on.
  const std::vector<MapArea>& EarlierBadLeft() const { return earlierBad_; }

 private:
  struct Stopped {};
  struct Outcome {
    int64_t got = 0;     // bytes read and written from the start of the block
    bool failed = false;  // the rest of the block could not be read
  };
  Outcome ReadAt(int64_t pos, int64_t count, char failStatus);
  // A run of large blocks forwards from `pos` up to `end`, handed over as one
  // piece until a block fails, the batch's time is up or `end` is reached;
  // each block is then marked and stepped as ReadAt does. Returns the last
  // block read and its outcome.
  struct Block {
    int64_t pos = 0, count = 0;
    Outcome out;
  };
  Block ReadForward(int64_t pos, int64_t end, char failStatus);
  // One block's read and write (made inside IRescueView::Together).
  Outcome Transfer(int64_t pos, int64_t count);
  void Mark(const Block& block, char failStatus);
  int64_t Ticks();
  void AfterStep();
  void SaveNow();
  void CopyArea(const MapArea& area);
  void ReadSkippedBackwards(int64_t from, int64_t to);
  void TrimArea(const MapArea& area);
  int64_t ScanBackward(int64_t lo, int64_t hi);
  int64_t ScanForward(int64_t lo, int64_t hi);
  bool EdgeSector(int64_t s, int64_t e, bool backward);
  int SectorInPieces(int64_t s, int64_t e, bool backward);
  void ScrapeArea(const MapArea& area);
  void RefineArea(const MapArea& area);
  bool ShowsPartialSectors() const;
  bool NarrowingLeft() const;
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
  PartialReads partial_ = PartialReads::kUnknown;
  int wholeProbes_ = 0;  // edge sectors that failed at their first byte read alone
  std::vector<MapArea> earlierBad_;
  std::vector<Block> batch_;
  std::optional<SourceMark> mark_;  // of the first block read, until the map takes it
  bool counter_ = false;
  int64_t frequency_ = 1000;
};

}  // namespace sk
