// The update check ("Aktualizacja programu"): the signed description fetched
// and verified, the version compared, the user asked, the package and the
// updater downloaded and checked against their hashes, the updater started
// and the program's instances ended. The order of steps is here; the window
// and the system are behind two small interfaces, as for the copy run.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/EventLog.h"
#include "core/UpdateIni.h"

namespace sk {

// The files of a check, all in the update folder.
inline constexpr const char* kUpdateIniName = "Update.ini";
inline constexpr const char* kUpdateSignatureName = "Update.sig";
inline constexpr const char* kUpdatePackageName = "SKTRN.tmp";
inline constexpr const char* kUpdaterName = "Swapit.exe";

// The four fetches of a check, in their order.
enum class UpdateFetch { Description, Signature, Package, Updater };

struct UpdateFetchRequest {
  UpdateFetch what;
  std::string url;
  std::string path;  // the file that receives the body
  // false: past every cache, to the server itself (the description and its
  // signature); the downloads, checked by their hashes, may come from one.
  bool useCache = false;
  // The most the body may hold, enforced while it arrives; with `exactSize`
  // it must hold exactly that (the downloads' signed sizes).
  int64_t maxSize = 0;
  bool exactSize = false;
};

// The most a description and a signature may hold.
inline constexpr int64_t kUpdateIniLimit = 64 * 1024;
inline constexpr int64_t kUpdateSignatureLimit = 1024;

// Runs after every block of a fetch: the announced length (0: none) and the
// bytes received so far.
using FetchProgress = std::function<void(int64_t total, int64_t received)>;

enum class UpdateBoxIcon { Information, Error };

// What the check needs of the main window.
class IUpdateView {
 public:
  virtual ~IUpdateView() = default;
  virtual void LogEvent(const std::string& text, EventKind kind) = 0;
  // The newest event-log entry's text becomes `text` (its kind stays).
  virtual void RewriteNewestEntry(const std::string& text) = 0;
  virtual std::string DecimalSeparator() = 0;
  // A message box with the caption "Aktualizacja" and an OK button.
  virtual void ShowMessage(const std::string& text, UpdateBoxIcon icon) = 0;
  // A box with the caption "Aktualizacja", the question icon and Yes and No
  // buttons; true for Yes.
  virtual bool Ask(const std::string& question) = 0;
  // The main window is being closed: the check ends without a word and
  // leaves nothing of itself behind.
  virtual bool ClosePending() = 0;
  // From now on closing the window no longer saves the settings (the
  // updater is about to replace the program).
  virtual void ClearCloseHandler() = 0;
};

// What the check needs of the system: the fetches, the files, the checks,
// the updater and the program's processes.
class IUpdateSystem {
 public:
  virtual ~IUpdateSystem() = default;
  // Fetches `request.url` into `request.path`; true when the whole body
  // arrived within its bounds (an error answer, a body short of its announced
  // length, a body without a length, a body beyond the bounds, 30 s without
  // data and a cancelled fetch are all false).
  virtual bool Fetch(const UpdateFetchRequest& request, const FetchProgress& progress) = 0;
  // The whole file; nullopt when it cannot be read or holds more than
  // `limit` bytes.
  virtual std::optional<std::string> ReadFile(const std::string& path, int64_t limit) = 0;
  // Deletes the file whatever its attributes; a missing file is fine and a
  // failure is not reported.
  virtual void DeleteFile(const std::string& path) = 0;
  // Whether `signature` is the release key's signature over `message`.
  virtual bool VerifySignature(const std::string& message, const std::string& signature) = 0;
  // The 32 bytes of the file's SHA-256; nullopt when it cannot be read.
  virtual std::optional<std::string> Sha256OfFile(const std::string& path) = 0;
  // Today by the local clock, in UTC.
  virtual CivilDate TodayUtc() = 0;
  // The highest Serial of a description accepted before (UpdateSerial beside
  // the settings; 0 when there is none), and storing a higher one.
  virtual uint32_t AcceptedSerial() = 0;
  virtual void SetAcceptedSerial(uint32_t serial) = 0;
  // Starts `file` shown minimised, with no parameters, in `folder`; false
  // when it could not be started.
  virtual bool StartUpdater(const std::string& file, const std::string& folder) = 0;
  // Ends every process of this program, its own last.
  virtual void EndInstances() = 0;
};

struct UpdateSource {
  std::string baseAddress;  // the server's folder, ending with "/"
  std::string folder;       // the update folder, ending with "\"
};

// The whole check, from the description's fetch to the end of the
// instances, which follows only a successful start of the updater. A description counts only with the release key's signature over
// its exact bytes, an Expires that is today or later and a Serial no lower
// than the highest accepted before (which it then becomes). Every way out that does not hand over to the updater leaves no
// file of the check in the folder, except a declined update, which keeps
// Update.ini.
void RunUpdateCheck(const UpdateSource& source, IUpdateView& view, IUpdateSystem& system);

}  // namespace sk
