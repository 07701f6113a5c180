// Where the settings key lives. The machine's key (HKEY_LOCAL_MACHINE) comes
// first; a user without administrator rights can neither create nor write it,
// and then the settings are kept in the user's own key (HKEY_CURRENT_USER)
// instead, without a word to the user.
#pragma once
#include <memory>
#include <string>

#include "core/Settings.h"

namespace sk {

// One key made of two. Opened with OpenOrCreate:
// - the machine's key opened (or created) for full access: all reads and
//   writes go there;
// - otherwise, when the user's key exists: all reads and writes go there;
// - otherwise reads come from the machine's key opened read-only (when it
//   exists), and the first write creates the user's key, which from then on
//   takes the reads as well.
class FallbackRegistryKey : public IRegistryKey {
 public:
  FallbackRegistryKey(std::unique_ptr<IRegistryKey> machine, std::unique_ptr<IRegistryKey> user);
  ~FallbackRegistryKey() override;

  bool OpenOrCreate(const std::string& path) override;
  // The same places in the same order, with nothing created.
  bool OpenExisting(const std::string& path, bool writable) override;
  bool QueryInfo(const std::string& name, uint32_t& type, uint32_t& size) override;
  bool QueryData(const std::string& name, uint32_t limit, uint32_t& type, std::string& data) override;
  bool SetValue(const std::string& name, uint32_t type, const std::string& data) override;
  void Close() override;

 private:
  bool Open(const std::string& path, bool writable, bool create);

  std::unique_ptr<IRegistryKey> machine_;
  std::unique_ptr<IRegistryKey> user_;
  IRegistryKey* reader_ = nullptr;   // where values are read; null: nowhere
  IRegistryKey* writer_ = nullptr;   // where values are written, once open
  std::string pendingUserPath_;      // the user's key to create at the first write
};

}  // namespace sk
