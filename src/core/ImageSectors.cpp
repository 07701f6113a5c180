// The disc's sectors as far as the image has them, for the file system
// readers; a sector not tried yet read from the drive at once.
#include <functional>

#include "core/DiscImage.h"
#include "core/ImageExtents.h"

namespace sk {

using image::EachStatus;

ImageSectors::ImageSectors(IFile& image, const RescueMap& map) : image_(image), map_(map) {}
ImageSectors::ImageSectors(IFile& image, const RescueMap& map, IRescueView& view)
    : image_(image), map_(map), view_(&view) {}

std::vector<int64_t> ImageSectors::Missing() const { return {missing_.begin(), missing_.end()}; }
ImageSectors::ImageSectors(IFile& image, RescueMap& map, IFile& device, IRescueView& view)
    : image_(image), map_(map), marks_(&map), device_(&device), view_(&view) {}

int64_t ImageSectors::SectorCount() { return map_.Size() / kDiscSectorSize; }

bool ImageSectors::ReadSector(int64_t sector, unsigned char* out) {
  if (sector < 0 || sector >= SectorCount()) return false;
  const int64_t pos = sector * kDiscSectorSize;
  if (keepTo && Inside({{pos, pos + kDiscSectorSize}}, *keepTo) != ByteAreas{{pos, pos + kDiscSectorSize}})
    return false;
  const bool had = Read(sector, out);
  if (!had) missing_.insert(sector);
  return had;
}

bool ImageSectors::Read(int64_t sector, unsigned char* out) {
  const int64_t pos = sector * kDiscSectorSize;
  bool read = true, failed = false;
  EachStatus(map_, pos, pos + kDiscSectorSize, [&](int64_t, int64_t, char status) {
    read = read && status == kFinished;
    failed = failed || status == kBadSector || status == kNonTrimmed || status == kNonScraped;
  });
  auto together = [&](const std::function<void()>& calls) { view_ ? view_->Together(calls) : calls(); };
  if (read) {
    size_t got = 0;
    together([&] {
      image_.Seek(pos);
      while (got < static_cast<size_t>(kDiscSectorSize)) {
        const size_t n = image_.Read(out + got, static_cast<size_t>(kDiscSectorSize) - got);
        if (n == 0) break;
        got += n;
      }
    });
    return got == static_cast<size_t>(kDiscSectorSize);
  }
  if (failed || !device_) return false;
  // One read of one sector: the file system's sectors lie apart, and a
  // failing read costs only that sector.
  bool bad = false;
  together([&] {
    size_t got = 0;
    try {
      device_->Seek(pos);
      got = device_->Read(out, static_cast<size_t>(kDiscSectorSize));
    } catch (const FileError&) {
      bad = true;
    }
    if (got < static_cast<size_t>(kDiscSectorSize)) bad = true;
    if (bad && !view_->SourcePresent()) throw MediumGone();
    if (bad) return;
    image_.Seek(pos);
    if (image_.Write(out, static_cast<size_t>(kDiscSectorSize)) != static_cast<size_t>(kDiscSectorSize))
      throw DiskFullError();
  });
  ++reads_;
  if (bad) {
    ++failedReads_;
    marks_->Set(pos, kDiscSectorSize, kBadSector);
  } else {
    marks_->Set(pos, kDiscSectorSize, kFinished);
    if (!marks_->source)
      marks_->source = SourceMark{marks_->Size(), pos, kDiscSectorSize, BlockHash(out, kDiscSectorSize)};
  }
  marks_->currentPos = pos;
  view_->Advanced(*marks_);
  if (afterDeviceRead) afterDeviceRead();
  return !bad;
}

DiscTree ListImage(IFile& image, const RescueMap& map) {
  ImageSectors sectors(image, map);
  return ReadDiscTree(sectors, FindDiscLayout(sectors));
}

}  // namespace sk
