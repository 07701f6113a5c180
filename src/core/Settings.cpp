#include "core/Settings.h"

#include <algorithm>

namespace sk {
namespace {

std::string FailedToGet(const std::string& name) { return "Failed to get data for '" + name + "'"; }
std::string FailedToSet(const std::string& name) { return "Failed to set data for '" + name + "'"; }
std::string InvalidType(const std::string& name) { return "Invalid data type for '" + name + "'"; }

// Strings are stored as UTF-16 little-endian code units.
void AppendUnit(std::string& out, uint32_t unit) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>((unit >> 8) & 0xFF));
}

std::string Utf8ToUtf16Le(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2 + 2);
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    const unsigned char c = s[i];
    if (c < 0x80) {
      cp = c;
    } else if (c >= 0xC2 && c <= 0xF4) {
      len = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      if (i + len <= n && std::all_of(s + i + 1, s + i + len, [](unsigned char b) { return (b & 0xC0) == 0x80; })) {
        cp = c & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
      } else {
        len = 1;
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      AppendUnit(out, 0xD800 + (cp >> 10));
      AppendUnit(out, 0xDC00 + (cp & 0x3FF));
    } else {
      AppendUnit(out, cp);
    }
    i += len;
  }
  return out;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The stored text up to its first NUL; an odd last byte is no code unit.
std::string Utf16LeToUtf8(const std::string& bytes) {
  std::string out;
  const size_t units = bytes.size() / 2;
  auto unit = [&](size_t k) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * k])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * k + 1])) << 8;
  };
  for (size_t k = 0; k < units; ++k) {
    uint32_t u = unit(k);
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00);
      ++k;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    AppendUtf8(out, u);
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------- accessor

RegistryAccessor::RegistryAccessor(std::unique_ptr<IRegistryKey> key) : key_(std::move(key)) {}

RegistryAccessor::~RegistryAccessor() { key_->Close(); }

int32_t RegistryAccessor::ReadInteger(const std::string& name) {
  uint32_t type = 0;
  std::string data;
  if (!key_->QueryData(name, 4, type, data) || data.size() > 4) throw RegistryError(FailedToGet(name));
  if (type != kRegDword) throw RegistryError(InvalidType(name));
  uint32_t value = 0;
  for (size_t i = 0; i < data.size(); ++i) value |= static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  return static_cast<int32_t>(value);
}

bool RegistryAccessor::ReadBool(const std::string& name) { return ReadInteger(name) != 0; }

std::string RegistryAccessor::ReadString(const std::string& name) {
  uint32_t type = 0, size = 0;
  if (!key_->QueryInfo(name, type, size) || size == 0) return {};
  std::string data;
  if (!key_->QueryData(name, size, type, data) || data.size() > size) throw RegistryError(FailedToGet(name));
  if (type != kRegSz && type != kRegExpandSz) throw RegistryError(InvalidType(name));
  return Utf16LeToUtf8(data);
}

void RegistryAccessor::WriteInteger(const std::string& name, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  std::string data;
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  if (!key_->SetValue(name, kRegDword, data)) throw RegistryError(FailedToSet(name));
}

void RegistryAccessor::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

void RegistryAccessor::WriteString(const std::string& name, const std::string& value) {
  std::string data = Utf8ToUtf16Le(value);
  data.append(2, '\0');
  if (!key_->SetValue(name, kRegSz, data)) throw RegistryError(FailedToSet(name));
}

// ---------------------------------------------------------------- store

int ClampLevel(int stored) { return std::clamp(stored, 0, 4); }
int ClampEndAction(int stored) { return std::clamp(stored, -1, 5); }

SettingsStore::SettingsStore(RegistryKeyFactory openKey, ISettingsControls& controls, Log log)
    : openKey_(std::move(openKey)), controls_(controls), log_(std::move(log)) {}

SettingsStore::~SettingsStore() = default;

void SettingsStore::OpenAccessor() {
  accessor_.reset();  // the key in use is closed before a fresh one is opened
  accessor_ = std::make_unique<RegistryAccessor>(openKey_());
  accessor_->Open(kSettingsKeyPath);  // a failure shows at the first read or write
}

void SettingsStore::LoadDialogValues() {
  loaded_ = true;
  try {
    controls_.SetLevel(accessor_->ReadInteger(kLevel));
    controls_.SetEndAction(accessor_->ReadInteger(kEndAction));
    controls_.SetCheckFiles(accessor_->ReadBool(kCheckFiles));
    controls_.SetRunAfter(accessor_->ReadString(kRunAfter));
  } catch (...) {
    LoadRescueMode();
    throw;
  }
  LoadRescueMode();
}

void SettingsStore::LoadRescueMode() {
  bool on = false;
  try {
    on = accessor_->ReadBool(kRescueMode);
  } catch (const RegistryError&) {
    // Missing (an older installation) or mistyped: off, and nothing to report.
  }
  controls_.SetRescueMode(on);
}

void SettingsStore::LoadIfNeverLoaded() {
  if (loaded_) return;
  try {
    if (!accessor_) OpenAccessor();
    LoadDialogValues();
  } catch (const RegistryError&) {
    // As on "Anuluj": the values before the failing read are loaded.
  }
}

void SettingsStore::RunStarting() {
  if (!finished_) LoadIfNeverLoaded();
}

void SettingsStore::SaveAll() {
  accessor_->WriteInteger(kLevel, controls_.Level());
  accessor_->WriteInteger(kEndAction, controls_.EndAction());
  accessor_->WriteString(kLastCopyToFolder, controls_.LastCopyToFolder());
  accessor_->WriteString(kProgramPath, controls_.ProgramPath());
  accessor_->WriteBool(kCheckFiles, controls_.CheckFiles());
  accessor_->WriteString(kRunAfter, controls_.RunAfter());
  accessor_->WriteBool(kRescueMode, controls_.RescueMode());
}

void SettingsStore::MainWindowCreated() {
  if (finished_) return;
  try {
    OpenAccessor();
    controls_.SetLastCopyToFolder(accessor_->ReadString(kLastCopyToFolder));
  } catch (const std::exception& e) {
    log_(std::string("Błąd: ") + e.what(), ekError);
  }
}

void SettingsStore::DialogCreated() {
  if (finished_) return;
  if (!accessor_) OpenAccessor();
  LoadDialogValues();
}

void SettingsStore::OkPressed() {
  if (finished_) return;
  try {
    if (!accessor_) OpenAccessor();
    SaveAll();
  } catch (const RegistryError&) {
    // A failed save on OK is not reported; the values before it are stored.
  }
}

void SettingsStore::CancelPressed() {
  if (finished_) return;
  try {
    OpenAccessor();
    LoadDialogValues();
  } catch (const RegistryError&) {
    // A failed reload on "Anuluj" is not reported; the controls before it are reloaded.
  }
}

void SettingsStore::MainWindowClosing() {
  if (finished_) return;
  LoadIfNeverLoaded();
  finished_ = true;  // whatever happens below, the key is not used again
  try {
    if (!accessor_) OpenAccessor();
    SaveAll();
    accessor_->Close();
  } catch (const std::exception& e) {
    log_(std::string("Błąd: ") + e.what(), ekError);
  }
  accessor_.reset();
}

}  // namespace sk
