// For the check of maps written by GNU ddrescue (tests/media/check_maps.sh):
// opens each map file named on the command line as the read map window opens
// one, and prints what the window counts of it, one line a map:
//   "size S read R untried U narrow N bad B places K"
// or "not a map: REASON" / "cannot read: REASON".
#include <cinttypes>
#include <cstdio>

#include "core/FileApi.h"
#include "core/MapPicture.h"
#include "win/Utf.h"
#include "win/WinFile.h"

int wmain(int argc, wchar_t** argv) {
  sk::win::WinFileSystem files;
  for (int i = 1; i < argc; ++i) {
    try {
      const sk::MapPicture p = sk::ReadMapFile(files, sk::win::Narrow(argv[i]));
      std::printf("size %" PRId64 " read %" PRId64 " untried %" PRId64 " narrow %" PRId64 " bad %" PRId64
                  " places %zu\n",
                  p.Size(), p.Bytes(sk::CellKind::kRead), p.Bytes(sk::CellKind::kUntried),
                  p.Bytes(sk::CellKind::kNarrow), p.Bytes(sk::CellKind::kBad), p.BadPlaces());
    } catch (const sk::MapFormatError& e) {
      std::printf("not a map: %s\n", e.what());
    } catch (const sk::FileError& e) {
      std::printf("cannot read: %s\n", e.what());
    }
  }
  return 0;
}
