#include "core/SettingsLocation.h"

namespace sk {

FallbackRegistryKey::FallbackRegistryKey(std::unique_ptr<IRegistryKey> machine, std::unique_ptr<IRegistryKey> user)
    : machine_(std::move(machine)), user_(std::move(user)) {}

FallbackRegistryKey::~FallbackRegistryKey() { Close(); }

bool FallbackRegistryKey::OpenOrCreate(const std::string& path) { return Open(path, true, true); }

bool FallbackRegistryKey::OpenExisting(const std::string& path, bool writable) { return Open(path, writable, false); }

bool FallbackRegistryKey::Open(const std::string& path, bool writable, bool create) {
  Close();
  if (create ? machine_->OpenOrCreate(path) : machine_->OpenExisting(path, writable)) {
    reader_ = writer_ = machine_.get();
    return true;
  }
  if (user_->OpenExisting(path, writable)) {
    reader_ = user_.get();
    writer_ = writable ? user_.get() : nullptr;
    return true;
  }
  if (create) pendingUserPath_ = path;
  if (machine_->OpenExisting(path, false)) {
    reader_ = machine_.get();
    return true;
  }
  return create;  // nothing to read yet; the first write makes the user's key
}

bool FallbackRegistryKey::QueryInfo(const std::string& name, uint32_t& type, uint32_t& size) {
  return reader_ && reader_->QueryInfo(name, type, size);
}

bool FallbackRegistryKey::QueryData(const std::string& name, uint32_t limit, uint32_t& type, std::string& data) {
  return reader_ && reader_->QueryData(name, limit, type, data);
}

bool FallbackRegistryKey::SetValue(const std::string& name, uint32_t type, const std::string& data) {
  if (!writer_ && !pendingUserPath_.empty()) {
    if (!user_->OpenOrCreate(pendingUserPath_)) return false;
    pendingUserPath_.clear();
    if (reader_) reader_->Close();
    reader_ = writer_ = user_.get();  // the user's key holds the settings from now on
  }
  return writer_ && writer_->SetValue(name, type, data);
}

void FallbackRegistryKey::Close() {
  machine_->Close();
  user_->Close();
  reader_ = writer_ = nullptr;
  pendingUserPath_.clear();
}

}  // namespace sk
