// What the Windows benchmarks share: a clock in seconds and a file of
// pseudo-random bytes to copy.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "win/Utf.h"

namespace bench {

inline double Seconds() {
  static LARGE_INTEGER f{};
  if (!f.QuadPart) QueryPerformanceFrequency(&f);
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

inline void MakeFile(const std::string& path, size_t size) {
  HANDLE h = CreateFileW(sk::win::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  std::vector<char> chunk(1 << 20);
  uint32_t x = 12345;
  for (auto& c : chunk) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  for (size_t done = 0; done < size;) {
    const DWORD n = static_cast<DWORD>(std::min(chunk.size(), size - done));
    DWORD wrote = 0;
    WriteFile(h, chunk.data(), n, &wrote, nullptr);
    done += wrote;
  }
  CloseHandle(h);
}

}  // namespace bench
