// The drive's table of contents read into a DiscLayout: the bytes a CD drive
// answers to IOCTL_CDROM_READ_TOC_EX (the full TOC, the TOC and the session
// formats) and IOCTL_CDROM_GET_LAST_SESSION, as the device layer gets them.
// Pure functions over the buffers, so that any bytes a drive may give are
// read safely; a buffer that does not describe a disc gives no layout.
#pragma once
#include <cstddef>
#include <optional>

#include "core/DiscLayout.h"

namespace sk {

// The full TOC (MSF addresses): a 4-byte header (length, first and last
// complete session), then 11-byte descriptors of the lead-in's Q data:
// session, ADR/control, TNO, POINT, MIN, SEC, FRAME, zero, PMIN, PSEC,
// PFRAME. POINT 1..99 gives a track's start (data when control's bit 2 is
// set), POINT A2h its session's lead-out. Each track runs to the next track
// of its session or to the session's lead-out, so the gaps between sessions
// lie in no track. None when the answer is shorter than its length field
// says (a session may be missing), a session with tracks has no lead-out, or
// an address or number is out of its range.
std::optional<DiscLayout> LayoutFromFullToc(const unsigned char* data, size_t size);

// The TOC (a 4-byte header, then 8-byte track entries: reserved,
// ADR/control, track number, reserved, address; track AAh the lead-out of
// the last session) and, when had (else null), the session format's answer
// (header with the first and last complete session, then one entry: the
// first track of the last session and its address). Addresses in MSF
// (0, M, S, F) when `msf`, else big-endian logical block addresses. The TOC
// does not say where earlier sessions end (and a DVD's gaps are not a CD's):
// the tracks before the last session are all taken as session 1, and each
// track runs to the next one, so a gap before the last session is read (and
// fails) rather than data left out on a guess. None for a TOC that does not
// read.
std::optional<DiscLayout> LayoutFromToc(const unsigned char* toc, size_t tocSize, const unsigned char* session,
                                        size_t sessionSize, bool msf);

}  // namespace sk
