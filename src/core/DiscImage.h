// The image of a whole disc: the drive read as a device, sector by sector
// where it must, into an image file of the disc's full length, with a read
// map beside it ("<image>.map", the mapfile a rescue keeps, its source line
// naming the disc). The run reads the file system's own sectors first and
// lists the files as soon as it has them, then the data of the files the user
// ticked, then the rest of the disc, all through the rescue engine. What the
// map says of each file's bytes tells which files the damage hit; files are
// written out of the image with a read map of their own.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/DiscLayout.h"
#include "core/DiscTree.h"
#include "core/FileApi.h"
#include "core/ImageDomain.h"
#include "core/Pacer.h"
#include "core/Rescue.h"
#include "core/RescueMap.h"
#include "core/RescueSession.h"

namespace sk {

// ---- what the damage hit ----

enum class FileCondition { kWhole, kDamaged, kUnread };
// "Cały", "Uszkodzony", "Nieodczytany".
const char* ConditionName(FileCondition condition);

struct EntryState {
  FileCondition condition = FileCondition::kWhole;
  int64_t unreadable = 0;  // bytes the map names unreadable (or that lie outside the disc)
  int64_t notRead = 0;     // bytes not tried yet
};
// A listed entry's state from the image's map. Over the entry's extents: '-'
// bytes and bytes outside the disc (DiscExtent::kOutside, or past the map's
// end) are unreadable; '?', '*' and '/' bytes are not read yet; kZeros
// extents count as read; kUnknown extents count as not read, with a failed
// read behind them. "Uszkodzony" when any byte is unreadable or '*' or
// '/' (a failed read lies there); "Nieodczytany" when not damaged and some
// byte is '?'; else "Cały". `unreadable` counts '-' and outside bytes,
// `notRead` counts '?', '*' and '/' bytes. An unknown folder is "Uszkodzony"
// with both counts 0.
EntryState StateOf(const DiscEntry& entry, const RescueMap& map);

// The list as the user saves it: UTF-8, tab-separated, CRLF line ends, the
// header "Ścieżka\tRozmiar\tNieczytelne\tNie odczytano\tStan" and one line per
// entry in the tree's order (sizes as plain numbers of bytes). A tree with no
// file system known gets one line after the header: "Nie rozpoznano systemu
// plików". Damage that hits no file (DamageOutsideFiles) gets a line of its
// own after the entries, apart from them:
// "(poza plikami)\t0\t<bytes>\t0\tUszkodzenie poza plikami".
std::string FileListText(const DiscTree& tree, const RescueMap& map);

// The bytes the map names unreadable ('-') that lie in no entry's extents
// and in none of the file system's own sectors (such as the two run-out
// sectors a track written at once leaves at its end, which many drives
// count as the disc's): damage that hits no file.
int64_t DamageOutsideFiles(const DiscTree& tree, const RescueMap& map);

// The totals of each state, for the window's summary.
struct ConditionTotals {
  int64_t whole = 0, damaged = 0, unread = 0;  // entries of each state
  int64_t outsideFiles = 0;                    // DamageOutsideFiles
};
ConditionTotals TotalsOf(const DiscTree& tree, const RescueMap& map);

// Which entries own the disc's bytes: for the map window's chosen cell. Built
// once per listing (an index over the extents sorted by position); a query
// is a binary search plus the entries it names.
class DiscOwners {
 public:
  DiscOwners() = default;
  explicit DiscOwners(const DiscTree& tree);
  // The entries whose data lie in [pos, end) by name (the last part of their
  // path), at most three, then "i N innych"; "system plików" first where the
  // file system's own sectors lie there. Parts joined by ", ". Empty when
  // nothing does.
  std::string Describe(int64_t pos, int64_t end) const;
  // The indexes (into tree.entries) of the entries whose data lie in
  // [pos, end), ascending, each once.
  std::vector<size_t> Owners(int64_t pos, int64_t end) const;
  // Whether the file system's own sectors lie in [pos, end).
  bool HoldsSystem(int64_t pos, int64_t end) const;

 private:
  struct Piece {
    int64_t pos, end;
    size_t entry;
  };
  std::vector<Piece> pieces_;      // sorted by pos
  std::vector<int64_t> reach_;     // reach_[i]: the largest end among pieces_[0..i]
  std::vector<std::string> names_;  // the last part of each entry's path
  std::vector<DiscExtent> system_;
};

// The disc's bytes of the chosen entries (ticked files, and the files under
// ticked folders, given as indexes into tree.entries), sorted and merged; the
// file system's own sectors are not among them. For IImageView::Chosen.
std::vector<DiscExtent> ChosenExtents(const DiscTree& tree, const std::vector<size_t>& entries);

// ---- the sectors as the file system readers get them ----

// The disc's sectors as far as the image has them: a sector the map names
// read ('+' over all of it) comes from the image; any other cannot be had.
// With a device, a sector not tried yet ('?' over all of it, or '?' and '+')
// is read from the device at once (one read of one sector), written into the
// image and marked in the map: '+', or '-' when the read fails. A sector with
// any '-', '*' or '/' byte is not read again. The first sector that reads
// gives a map without a source line its SourceMark. Device reads and image
// writes go through view.Together; after a failing read view.SourcePresent
// is asked, and when the disc is gone MediumGone is thrown with the map as it
// was. A failure of the image (a write, "I/O error 112") throws FileError
// with the map not yet marked for that sector.
class ImageSectors : public ISectorSource {
 public:
  // The image alone (a finished image, or one read so far): nothing is read
  // from a device.
  ImageSectors(IFile& image, const RescueMap& map);
  // The image alone, its reads made through view.Together.
  ImageSectors(IFile& image, const RescueMap& map, IRescueView& view);
  ImageSectors(IFile& image, RescueMap& map, IFile& device, IRescueView& view);

  int64_t SectorCount() override;
  bool ReadSector(int64_t sector, unsigned char* out) override;

  // The data areas (bytes) the sectors are read from; a sector outside them
  // cannot be had and is never read. None: the whole disc.
  std::optional<ByteAreas> keepTo;

  // The sectors inside keepTo asked for that could not be had, sorted, each once.
  std::vector<int64_t> Missing() const;

  int64_t DeviceReads() const { return reads_; }
  int64_t FailedReads() const { return failedReads_; }
  // Called after every device read (and its mark in the map); the run paces
  // its window work here. May throw to end the pass.
  std::function<void()> afterDeviceRead;

 private:
  bool Read(int64_t sector, unsigned char* out);
  IFile& image_;
  const RescueMap& map_;
  RescueMap* marks_ = nullptr;  // the same map, when it may be marked
  IFile* device_ = nullptr;
  IRescueView* view_ = nullptr;
  int64_t reads_ = 0, failedReads_ = 0;
  std::set<int64_t> missing_;
};

// The file system of an image without a device: ImageSectors over the image
// and its map, read by ReadDiscTree. An image without a map: pass
// RescueMap(image.Size(), kFinished).
DiscTree ListImage(IFile& image, const RescueMap& map);

// ---- the run ----

// The window of an image run, as the rescue session sees it (progress,
// pacing, stops, the map window, the question after the disc went away),
// and the file list.
class IImageView : public IRescueWindow {
 public:
  // The file system has been read: the files can be listed (called once a
  // run, before any file data is read; again after the disc came back, and
  // whenever a pass has read a sector the listing asked for and could not
  // have: the tree read again, from the image).
  virtual void Listed(const DiscTree& tree) = 0;
  // The disc's bytes of the ticked files and folders, sorted and merged
  // (empty: none ticked; see ChosenExtents). Asked when the run begins and
  // after each block; a new answer changes the reading order at once.
  virtual std::vector<DiscExtent> Chosen() = 0;
  // The disc's layout is known (from the drive, or found on the disc): called
  // once a run, before Listed. Only its data areas are read.
  virtual void LaidOut(const DiscLayout& layout) { (void)layout; }
};

struct ImageRunOptions {
  size_t largeBlock = 64 * 1024;
  size_t sectorSize = 2048;
  int saveIntervalMs = 5000;
  // The map existed when the run began (a run going on from it): the disc is
  // checked against the map's source line, and what the map lacks is read,
  // '?', '*' and '/' first, the sectors found bad by an earlier run last.
  bool continuing = false;
  // The disc's sessions and tracks as the drive tells them; none: found on
  // the disc itself (FindDiscLayout, a handful of reads).
  std::optional<DiscLayout> layout;
};

// The map's refusal when it was made from another disc (caption "Obraz płyty").
inline constexpr const char* kImageMismatchText = "Mapa obrazu nie pasuje do płyty w napędzie.";
// Thrown by DiscImageRun::Run before anything is read or written when
// continuing with a map of another disc (another size, or the block its
// source line names reads otherwise): image and map untouched.
class ImageMismatch : public FileError {
 public:
  ImageMismatch() : FileError(kImageMismatchText) {}
};

struct ImageRunResult {
  bool stopped = false;    // the view asked to stop, or the disc went away and was not put back
  bool cancelled = false;  // ... the disc went away, "Anuluj"
  bool listed = false;     // the file system pass ended and Listed was called
  int64_t reads = 0;           // device reads
  int64_t failedReads = 0;     // of which failed
  int64_t failedBeforeList = 0;  // failing reads made before Listed
};

// The image run's order of reading, driven by the rescue session that every
// rescue shares (the wait for the disc, the map's keeper and its saves, the
// save after a failure are the session's).
class DiscImageRun : public ReadingOrder {
 public:
  DiscImageRun(IImageView& view, ImageRunOptions options);

  // One image run: the drive's device `device` (read only; its Size() is
  // the disc's length, opened through the session's file system) into
  // `image` (open for reading and writing), marked in `map`, through
  // `session` (whose window is the view and whose keeper keeps the image's
  // map; a keeper with the map on the disk when continuing).
  // (a) The disc: continuing, a map of another size or whose source line
  //     does not match the device throws ImageMismatch, touching nothing.
  //     A fresh run makes `map` RescueMap(device.Size()).
  // (b) The session makes the map true of an image cut short (continuing);
  //     the image is made the disc's full length at once (unread sectors
  //     zero) and the map saved, so that the image never says more than the
  //     map on the disk.
  // (c) The layout (options.layout, else FindDiscLayout), then
  //     view.LaidOut(layout): from here on only its data areas are read
  //     (every pass below is kept to them), and bytes outside them that are
  //     not read become '?' in the map. Then the file system's sectors,
  //     each read alone (ImageSectors), then view.Listed(tree); whenever a
  //     pass has read a sector the listing could not have, the tree is read
  //     again from the image and Listed again (paced by its cost, and once
  //     more before the run ends).
  // (d) While view.Chosen() has bytes not yet tried: the engine over those
  //     alone; a changed answer ends that pass at once and starts one over
  //     the new answer.
  // (e) The whole disc through the engine (whole-sector reads: a drive fails
  //     sectors whole), going back to (d) whenever Chosen() changes to bytes
  //     not yet tried; last, continuing, the sectors found bad by an earlier
  //     run once more.
  // The map is saved at least every saveIntervalMs while it changes, and at
  // the end (also after a stop), each time after the image is flushed. The
  // disc taken out: the session saves the map as it was and asks "Ponów" /
  // "Anuluj"; on "Ponów" the run goes on from (c) (the file system's sectors
  // come from the image then). A failure of the image or of a save throws
  // FileError once the session has saved the map where it could.
  ImageRunResult Run(RescueSession& session, std::unique_ptr<IFile>& device, IFile& image, RescueMap& map,
                     IClock& clock, Pacer& pacer);

  // The tree of the last file system pass (empty before Listed).
  const DiscTree& Tree() const { return tree_; }
  // The disc's layout and its data areas in bytes (before LaidOut: none, the
  // whole disc).
  const DiscLayout& Layout() const { return layout_; }
  const ByteAreas& DataAreas() const { return areas_; }

  void Read(IFile& source, IFile& destination, RescueMap& map, RescueSession& session, RescueResult& total) override;

 private:
  enum class Watch { kNothing, kAnyChange, kNewUntried };
  // Each false when the run ends there (a stop; the chosen files changed,
  // for EnginePass).
  bool ReadFileSystem(IFile& device, IFile& image, RescueMap& map, RescueSession& session, RescueResult& total);
  bool ChosenPasses(IFile& device, IFile& image, RescueMap& map, RescueSession& session, RescueResult& total);
  bool EnginePass(IFile& device, IFile& image, RescueMap& map, RescueSession& session, RescueResult& total,
                  const std::vector<DiscExtent>& within);
  // The pass in hand ends when the ticked files change (as `watch_` says).
  bool ChosenChanged(const RescueMap& map);
  // The tree read again from the image when a sector it could not have is
  // read now (`due`: at once, else when the last reading's cost allows).
  void Relist(bool due);
  void KeepTo(DiscLayout layout, RescueMap& map);
  // The parts of `extents` inside the data areas.
  std::vector<DiscExtent> InData(const std::vector<DiscExtent>& extents) const;

  IImageView& view_;
  ImageRunOptions options_;
  DiscTree tree_;
  bool listed_ = false, started_ = false;
  int64_t failedBeforeList_ = 0;
  DiscLayout layout_;
  ByteAreas areas_;        // the data areas, in bytes
  bool wholeDisc_ = true;  // they cover the whole disc
  std::vector<int64_t> unread_;  // sectors the listing could not have
  int64_t nextRelistMs_ = 0;
  bool laidOut_ = false, relisting_ = false;
  // During Read: what Relist reads the tree again from.
  IFile* image_ = nullptr;
  RescueMap* map_ = nullptr;
  RescueSession* session_ = nullptr;
  std::vector<MapArea> earlierBad_;
  Watch watch_ = Watch::kNothing;
  std::vector<DiscExtent> chosen_;  // the answer the pass in hand follows
};

// ---- files out of the image ----

// Writes `entry`'s bytes out of `image` into `out` (made entry.size long):
// bytes the map names read come from the image, all others (and kZeros
// extents) are zeros. Returns the file's own map: each byte's status carried
// from the image's map (kZeros bytes '+', kOutside bytes and bytes past the
// map's end '-', kUnknown bytes zeros and '?'). With `earlier` (the map of
// the file `out` already is, of the same size: an earlier save of the same
// disc) `out` is not cut: the bytes `earlier` names read are left as they
// are, and the map returned names them read too. Throws FileError of
// `image` or `out`.
RescueMap ExtractFile(const DiscEntry& entry, IFile& image, const RescueMap& imageMap, IFile& out,
                      const RescueMap* earlier = nullptr);

// The folder a save goes into under the destination folder: the volume
// label as a Windows-safe name, "Płyta" when there is none.
std::string VolumeFolderName(const std::string& label);

// The destinations of the files of one save, under `root` (the disc's
// folder): root + the entry's path, each part a name Windows takes. A path
// given earlier in the same save (or whose "<path>.map" was), compared by
// `nameKey` (as Windows compares names), or that `taken` says is taken on
// the disk (itself or its "<path>.map"), is numbered as the copy run numbers
// a repeated name: "name (n).ext", the first n from 2 not given or taken.
class ExtractNames {
 public:
  explicit ExtractNames(std::string root, std::function<std::string(const std::string&)> nameKey = {},
                        std::function<bool(const std::string&)> taken = {});
  std::string PathFor(const std::string& entryPath);

 private:
  bool Taken(const std::string& path) const;
  std::string root_;
  std::function<std::string(const std::string&)> nameKey_;
  std::function<bool(const std::string&)> taken_;
  std::set<std::string> given_;
};

}  // namespace sk
