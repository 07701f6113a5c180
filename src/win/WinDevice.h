// CD and DVD drives read as devices: the drives with their volume labels,
// and a drive's disc opened as a file ("\\.\D:"), read only and unbuffered,
// so that a bad sector never costs its neighbours through the system's cache.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/DiscLayout.h"
#include "core/FileApi.h"
#include "win/WinFile.h"

namespace sk::win {

struct DiscDrive {
  char letter = 'D';
  bool hasDisc = false;
  std::string label;  // the volume label (empty where the system gives none)
  // "D: (ETYKIETA)", "D: (brak płyty)", or "D:" for a disc with no label.
  std::string Caption() const;
  // The device path, "\\.\D:".
  std::string DevicePath() const;
};

// The drives of type CD-ROM, in letter order.
std::vector<DiscDrive> ListDiscDrives();

// Whether a disc is in the drive of the device path `devicePath`.
bool DiscPresent(const std::string& devicePath);

// Whether `path` names a drive as a device ("\\.\X:").
bool IsDevicePath(const std::string& path);
// The drive letter of a path ("D:\a\b" or "\\.\D:"), upper case; 0 when it has none.
char DriveLetterOf(const std::string& path);

// Opens a drive's disc read only, shared, unbuffered. Every read the device
// gets starts and ends on a sector boundary and goes into a buffer aligned
// to the page; the caller may ask any range (the sectors around it are read
// and what was asked copied out). Size(): IOCTL_DISK_GET_LENGTH_INFO, else
// the table of contents' lead-out, else the handle's size. SectorSize():
// IOCTL_DISK_GET_DRIVE_GEOMETRY's, else 2048. Errors throw
// FileError with the program's texts ("I/O error 21").
std::unique_ptr<IFile> OpenDevice(const std::string& devicePath);

// The disc's sessions and tracks as the drive tells them: the full TOC
// (IOCTL_CDROM_READ_TOC_EX), else the TOC with the last session
// (IOCTL_CDROM_READ_TOC_EX's TOC and session formats, else the older
// IOCTL_CDROM_READ_TOC and IOCTL_CDROM_GET_LAST_SESSION). None when the drive
// answers none of them (Wine's drives mapped to an image file, some USB
// drives): the layout then comes from the disc itself (FindDiscLayout).
std::optional<DiscLayout> ReadDriveLayout(const std::string& devicePath);

// Every read made of a device, as it goes to the system (offset and length in
// bytes, the buffer's address), and the device's sector size. Tests observe
// the reads here; null: none.
using DeviceReadObserver = std::function<void(int64_t offset, uint32_t length, const void* buffer, uint32_t sector)>;
void SetDeviceReadObserver(DeviceReadObserver observer);

// Files as WinFileSystem opens them, and drives as devices: Open of a device
// path opens the disc (OpenDevice), and Present of it tells whether a disc
// is in the drive.
class DeviceFileSystem : public WinFileSystem {
 public:
  std::unique_ptr<IFile> Open(const std::string& path, OpenMode mode) override;
  bool Present(const std::string& path) override;
};

}  // namespace sk::win
