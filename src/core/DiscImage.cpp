#include "core/DiscImage.h"

#include <stdexcept>

namespace sk {

// First shape: the interface links; the bodies follow.

const char* ConditionName(FileCondition condition) {
  switch (condition) {
    case FileCondition::kWhole: return "Cały";
    case FileCondition::kDamaged: return "Uszkodzony";
    case FileCondition::kUnread: return "Nieodczytany";
  }
  return "";
}

EntryState StateOf(const DiscEntry&, const RescueMap&) { return {}; }
std::string FileListText(const DiscTree&, const RescueMap&) { return {}; }
ConditionTotals TotalsOf(const DiscTree&, const RescueMap&) { return {}; }

DiscOwners::DiscOwners(const DiscTree&) {}
std::string DiscOwners::Describe(int64_t, int64_t) const { return {}; }
std::vector<size_t> DiscOwners::Owners(int64_t, int64_t) const { return {}; }
bool DiscOwners::HoldsSystem(int64_t, int64_t) const { return false; }

std::vector<DiscExtent> ChosenExtents(const DiscTree&, const std::vector<size_t>&) { return {}; }

ImageSectors::ImageSectors(IFile& image, const RescueMap& map) : image_(image), map_(map) {}
ImageSectors::ImageSectors(IFile& image, RescueMap& map, IFile& device, IRescueView& view)
    : image_(image), map_(map), marks_(&map), device_(&device), view_(&view) {}
int64_t ImageSectors::SectorCount() { return map_.Size() / kDiscSectorSize; }
bool ImageSectors::ReadSector(int64_t, unsigned char*) { return false; }

DiscTree ListImage(IFile& image, const RescueMap& map) {
  ImageSectors sectors(image, map);
  return ReadDiscTree(sectors);
}

class DiscImageRun::Guard {};

DiscImageRun::DiscImageRun(IFile& device, IFile& image, RescueMap& map, IClock& clock, Pacer& pacer,
                           IImageView& view, ImageRunOptions options)
    : device_(device), image_(image), map_(map), clock_(clock), pacer_(pacer), view_(view), options_(options) {}

ImageRunResult DiscImageRun::Run() { throw std::logic_error("DiscImageRun::Run not built yet"); }

RescueMap ExtractFile(const DiscEntry& entry, IFile&, const RescueMap&, IFile&) { return RescueMap(entry.size); }

std::string VolumeFolderName(const std::string& label) { return label.empty() ? "Płyta" : label; }

ExtractNames::ExtractNames(std::string root, std::function<std::string(const std::string&)> nameKey)
    : root_(std::move(root)), nameKey_(std::move(nameKey)) {}
std::string ExtractNames::PathFor(const std::string& entryPath) { return root_ + entryPath; }
bool ExtractNames::Taken(const std::string&) const { return false; }

}  // namespace sk
