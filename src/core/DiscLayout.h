// How a disc is laid out: its sessions and tracks, each track with its first
// sector, its length and whether it holds data or audio. A home-burned CD-R
// often has several sessions (each burn appends one), with gaps between them
// that hold no data and cannot be read (lead-out, lead-in and pre-gap); a
// CD-Extra has an audio session before its data session, and a mixed-mode CD
// audio tracks after its data track. Only data tracks are imaged; the rest
// of the disc keeps its addresses in the image but is never read.
//
// The layout comes from the drive (its table of contents) where the drive
// answers one, else from the disc's own file systems (FindDiscLayout).
#pragma once
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace sk {

class ISectorSource;

struct DiscTrack {
  int number = 1;       // the track's number on the disc (1..99)
  int session = 1;      // the session it belongs to (1..99)
  int64_t start = 0;    // its first sector (logical block address)
  int64_t length = 0;   // its length in sectors (to the next track, lead-out or gap)
  bool audio = false;   // an audio track: no 2048-byte data sectors at all
  bool operator==(const DiscTrack&) const = default;
};

struct DiscLayout {
  // Every track in disc order. Empty: nothing is known of the disc's layout
  // (it is read as one data area from its first sector to its last).
  std::vector<DiscTrack> tracks;
  // Where the layout came from: the drive's table of contents, or the disc's
  // own file systems.
  bool fromDrive = false;
  bool operator==(const DiscLayout&) const = default;

  // How many sessions the disc has (1 for an empty layout).
  int Sessions() const;
  // The first sector of the newest session that holds a data track, or 0.
  int64_t LastDataSessionStart() const;
  // The data tracks' sectors, [first, end) clipped to `sectorCount`, sorted
  // and merged. An empty layout: the whole disc, {{0, sectorCount}}.
  std::vector<std::pair<int64_t, int64_t>> DataAreas(int64_t sectorCount) const;
  // Audio tracks and their sectors in all.
  int AudioTracks() const;
  int64_t AudioSectors() const;
};

// Ranges [first, end) sorted, those that meet or overlap joined.
std::vector<std::pair<int64_t, int64_t>> MergeRanges(std::vector<std::pair<int64_t, int64_t>> ranges);

// The layout as the disc's own file systems tell it, for a drive that answers
// no table of contents: the first session's volume space (ISO 9660's volume
// descriptors, UDF's anchors), then the standard gaps above it (11,400
// sectors after the first session, 6,900 after later ones) probed for a
// volume descriptor set or a UDF anchor, session by session. A handful of
// reads; each read goes through `disc` and so is counted by it. A disc with
// one session gives one data track over the whole disc. Each session is one
// data track numbered as its session; an earlier session's track reaches to
// the gap after it (2 run-out sectors included where the next session lies
// 2 sectors further). A disc whose sector 16 cannot be read (an audio
// session first, or damage) gives an empty layout after that one read: the
// sessions after audio cannot be found without reading the audio area.
DiscLayout FindDiscLayout(ISectorSource& disc);

// The standard gaps between sessions on a CD: lead-out, the next session's
// lead-in and its first track's pre-gap.
inline constexpr int64_t kFirstSessionGap = 11400;
inline constexpr int64_t kLaterSessionGap = 6900;

}  // namespace sk
