// Fuzz target: decoding whatever a registry value holds (any type, any bytes,
// any size) as the settings read it: integers, booleans and strings. A read
// either gives a value or fails with one of the program's error texts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/Settings.h"

namespace {

struct OneValueKey : sk::IRegistryKey {
  uint32_t type;
  std::string data;
  bool present;
  OneValueKey(uint32_t t, std::string d, bool p) : type(t), data(std::move(d)), present(p) {}
  bool OpenOrCreate(const std::string&) override { return true; }
  bool OpenExisting(const std::string&, bool) override { return true; }
  bool QueryInfo(const std::string&, uint32_t& t, uint32_t& size) override {
    if (!present) return false;
    t = type;
    size = static_cast<uint32_t>(data.size());
    return true;
  }
  bool QueryData(const std::string&, uint32_t limit, uint32_t& t, std::string& d) override {
    if (!present || data.size() > limit) return false;
    t = type;
    d = data;
    return true;
  }
  bool SetValue(const std::string&, uint32_t, const std::string&) override { return true; }
  void Close() override {}
};

bool KnownError(const std::string& text) {
  return text == "Failed to get data for 'V'" || text == "Invalid data type for 'V'";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t type = data[0] % 8;
  const bool present = data[1] & 1;
  const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  sk::RegistryAccessor reader(std::make_unique<OneValueKey>(type, bytes, present));
  try {
    (void)reader.ReadInteger("V");
  } catch (const sk::RegistryError& e) {
    if (!KnownError(e.what())) std::abort();
  }
  try {
    const std::string s = reader.ReadString("V");
    if (s.find('\0') != std::string::npos) std::abort();  // cut at the first NUL
  } catch (const sk::RegistryError& e) {
    if (!KnownError(e.what())) std::abort();
  }
  (void)sk::ClampLevel(static_cast<int>(size) - 8);
  return 0;
}
