// What the benchmarks measure with: a high-resolution clock and the
// process's peak working set.
#pragma once
#include <windows.h>
#include <psapi.h>

namespace sk::bench {

// Seconds from an arbitrary start, at the performance counter's resolution.
inline double Seconds() {
  static LARGE_INTEGER f{};
  if (!f.QuadPart) QueryPerformanceFrequency(&f);
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

inline double PeakWorkingSetMiB() {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  return static_cast<double>(pmc.PeakWorkingSetSize) / (1 << 20);
}

}  // namespace sk::bench
