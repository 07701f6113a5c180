// The settings store: the registry values copied between the registry and the
// live settings in memory, at five moments (main window created, settings
// dialog created, OK, "Anuluj", main window closed).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/EventLog.h"

namespace sk {

// Registry value types, with the registry's own numbers.
enum RegistryType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
};

// The settings key, relative to HKEY_LOCAL_MACHINE.
inline constexpr const char* kSettingsKeyPath = "Software\\Sektorian";

// The values, in the order in which every save writes them.
inline constexpr const char* kLevel = "Level";
inline constexpr const char* kEndAction = "EndAction";
inline constexpr const char* kLastCopyToFolder = "LastCopyToFolder";
inline constexpr const char* kProgramPath = "ProgramPath";
inline constexpr const char* kCheckFiles = "CheckFiles";
inline constexpr const char* kRunAfter = "RunAfter";
// Rescue mode, 0 or 1; saved after the six. A missing or mistyped value means
// off and is not reported (older installations have none).
inline constexpr const char* kRescueMode = "RescueMode";
// The highest Serial of an update description accepted so far (REG_DWORD),
// written by the update check itself, never by the store; missing means 0.
inline constexpr const char* kUpdateSerial = "UpdateSerial";

// A failed registry read or write; what() is the text the program reports.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One registry key. The store opens it, queries and writes values through it
// and closes it. Value names are UTF-8; data are the raw stored bytes.
class IRegistryKey {
 public:
  virtual ~IRegistryKey() = default;
  // Open `path` for full access, creating it when missing. false on failure;
  // the key then stays closed and every query and write on it fails.
  virtual bool OpenOrCreate(const std::string& path) = 0;
  // Open `path` only when it exists, for full access (`writable`) or for
  // reading only; nothing is created. false on failure, as above.
  virtual bool OpenExisting(const std::string& path, bool writable) = 0;
  // The type and stored size in bytes of value `name`; false when it cannot
  // be queried (value missing, key not open).
  virtual bool QueryInfo(const std::string& name, uint32_t& type, uint32_t& size) = 0;
  // Read value `name` with room for `limit` bytes. false when the query fails:
  // value missing, key not open, or data longer than `limit`. On success
  // `type` and `data` (the stored bytes) are set.
  virtual bool QueryData(const std::string& name, uint32_t limit, uint32_t& type, std::string& data) = 0;
  // Store value `name`; false on failure.
  virtual bool SetValue(const std::string& name, uint32_t type, const std::string& data) = 0;
  // Close the key; later queries and writes fail. Closing twice is harmless.
  virtual void Close() = 0;
};

using RegistryKeyFactory = std::function<std::unique_ptr<IRegistryKey>()>;

// Coding of integers, booleans and strings in registry values. Every failure
// throws RegistryError with "Failed to get data for '%s'", "Invalid data type
// for '%s'" or "Failed to set data for '%s'" (%s: the value name).
class RegistryAccessor {
 public:
  explicit RegistryAccessor(std::unique_ptr<IRegistryKey> key);
  ~RegistryAccessor();
  RegistryAccessor(const RegistryAccessor&) = delete;
  RegistryAccessor& operator=(const RegistryAccessor&) = delete;

  bool Open(const std::string& path) { return key_->OpenOrCreate(path); }
  void Close() { key_->Close(); }

  // A REG_DWORD of at most 4 bytes.
  int32_t ReadInteger(const std::string& name);
  // The integer; any non-zero value is true.
  bool ReadBool(const std::string& name);
  // REG_SZ or REG_EXPAND_SZ (unexpanded), cut at its first NUL. A missing
  // value or one of size 0 reads as the empty string.
  std::string ReadString(const std::string& name);

  void WriteInteger(const std::string& name, int32_t value);
  void WriteBool(const std::string& name, bool value);  // 1 or 0
  void WriteString(const std::string& name, const std::string& value);  // REG_SZ, NUL included

 private:
  std::unique_ptr<IRegistryKey> key_;
};

// The settings a run uses, in memory: the store loads them into it and saves
// them from it, the settings dialog shows them and writes each change of the
// user's into it at once, and a run reads them here, whether or not the
// dialog was ever created.
struct RunSettings {
  int level = 0;  // 0..4
  int endAction = 0;  // -1..5; -1: no item selected
  bool checkFiles = false;
  std::string runAfter;
  bool rescueMode = false;
};

// Where the live settings are held: the run settings (shown by the settings
// dialog) and the main window's destination field. Setters take stored
// values as they are and bring them into their ranges (ClampLevel,
// ClampEndAction).
class ISettingsControls {
 public:
  virtual ~ISettingsControls() = default;
  virtual int Level() = 0;
  virtual void SetLevel(int level) = 0;
  virtual int EndAction() = 0;  // -1: no item selected
  virtual void SetEndAction(int action) = 0;
  virtual bool CheckFiles() = 0;
  virtual void SetCheckFiles(bool on) = 0;
  virtual std::string RunAfter() = 0;
  virtual void SetRunAfter(const std::string& path) = 0;
  virtual bool RescueMode() { return false; }
  virtual void SetRescueMode(bool on) { (void)on; }
  virtual std::string LastCopyToFolder() = 0;
  virtual void SetLastCopyToFolder(const std::string& folder) = 0;
  // The full path of the running executable, at the moment of asking.
  virtual std::string ProgramPath() = 0;
};

// The track bar's range 0..4 and the radio group's -1..5.
int ClampLevel(int stored);
int ClampEndAction(int stored);

// The five moments. The store owns the one accessor in use; after the exit
// save it is finished and never touches a key again.
class SettingsStore {
 public:
  using Log = std::function<void(const std::string& text, EventKind kind)>;
  SettingsStore(RegistryKeyFactory openKey, ISettingsControls& controls, Log log);
  ~SettingsStore();

  // Main window created: open the key (its result ignored) and load
  // LastCopyToFolder; a failure becomes an error entry of the event log.
  void MainWindowCreated();
  // Settings dialog created: load Level, EndAction, CheckFiles, RunAfter. The
  // first failing read ends the load and throws (the error report shows it).
  // RescueMode is loaded whatever happens to the others, and silently.
  void DialogCreated();
  // OK: save the values; the first failing write ends the save, unreported.
  void OkPressed();
  // "Anuluj": open a fresh key in place of the old one and reload the four
  // dialog values; the first failure ends the reload, unreported.
  void CancelPressed();
  // Main window closing: save the values and close the key, once. A
  // failing write ends the save and becomes an error entry of the event log.
  // Values never loaded (no settings dialog was created) are loaded first, so
  // that the save keeps what is stored.
  void MainWindowClosing();
  // A run starts: values never loaded are loaded now, silently (a failing
  // read ends the load, the values after it stay as they are), so that a run
  // uses the stored settings whether or not the dialog was ever created.
  void RunStarting();

  bool Finished() const { return finished_; }

 private:
  void OpenAccessor();
  void LoadDialogValues();
  void LoadRescueMode();
  void LoadIfNeverLoaded();
  void SaveAll();

  RegistryKeyFactory openKey_;
  ISettingsControls& controls_;
  Log log_;
  std::unique_ptr<RegistryAccessor> accessor_;
  bool finished_ = false;
  bool loaded_ = false;  // the dialog's values were loaded (or their load tried) once
};

}  // namespace sk
