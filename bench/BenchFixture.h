// The badmedia fixture's files as the benchmarks under Wine reach them.
#pragma once
#include <windows.h>

#include <string>

#include "win/Utf.h"

namespace sk::bench {

inline std::string ReadText(const std::string& path) {
  HANDLE h = CreateFileW(sk::win::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  std::string text;
  if (h == INVALID_HANDLE_VALUE) return text;
  static char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) text.append(buf, got);
  CloseHandle(h);
  return text;
}

// Truncates a control file of the fixture (ctl\fails: back to 0; ctl\trace:
// cleared, tracing on) or writes `text` into it.
inline void Control(const std::string& mount, const char* name, const std::string& text = "") {
  HANDLE h = CreateFileW(sk::win::Widen(mount + "ctl\\" + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         text.empty() ? TRUNCATE_EXISTING : OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  if (!text.empty()) WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  CloseHandle(h);
}

}  // namespace sk::bench
