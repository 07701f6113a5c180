// Whether a rescue slows down with the number of bad spots: the rescue
// engine over an in-memory file with 100, 1,000 and 10,000 separate
// unreadable spots (10 bytes each, one every 4 KiB), level 2. Prints, per
// case, the time per spot and per MiB, the failing reads per spot, the
// areas of the map and the size of its text. Flat figures mean a cost per
// step that does not grow with the spots. (Built natively, with the
// sanitizers of the native build: compare the rows, not the absolute times.)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/FileApi.h"
#include "core/Pacer.h"
#include "core/Rescue.h"

namespace {

constexpr int64_t kEvery = 4096, kSpot = 10, kFirst = 2048;

struct SpottedFile : sk::IFile {
  int64_t size = 0, pos = 0;
  int64_t failures = 0;
  int64_t Position() override { return pos; }
  void Seek(int64_t p) override { pos = p; }
  int64_t Size() override { return size; }
  size_t Read(void* buffer, size_t count) override {
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(static_cast<int64_t>(count), size - pos));
    // The first spot at or after pos - kSpot + 1.
    const int64_t k = std::max<int64_t>(0, (pos - kFirst - kSpot + kEvery) / kEvery);
    const int64_t spot = kFirst + k * kEvery;
    if (spot < pos + n && spot + kSpot > pos) {
      ++failures;
      throw sk::FileError("I/O error 23", 23);
    }
    std::memset(buffer, 0x5A, static_cast<size_t>(n));
    pos += n;
    return static_cast<size_t>(n);
  }
  size_t Write(const void*, size_t) override { return 0; }
  void Close() override {}
};

struct Sink : sk::IFile {
  int64_t size = 0, pos = 0;
  int64_t Position() override { return pos; }
  void Seek(int64_t p) override { pos = p; }
  int64_t Size() override { return size; }
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void*, size_t count) override {
    pos += static_cast<int64_t>(count);
    size = std::max(size, pos);
    return count;
  }
  void SetSize(int64_t s) override { size = s; }
  void Close() override {}
};

struct SteadyClock : sk::IClock {
  double Now() override { return 0; }
  bool CounterFrequency(int64_t& f) override {
    f = 1000000000;
    return true;
  }
  int64_t Counter() override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  int64_t Milliseconds() override { return Counter() / 1000000; }
};

struct Quiet : sk::IRescueView {
  size_t textBytes = 0;
  void Advanced(const sk::RescueMap&) override {}
  void Pump() override {}
  void Refresh() override {}
  bool StopRequested() override { return false; }
  void SaveMap(const sk::RescueMap& map) override { textBytes = map.ToText().size(); }
};

}  // namespace

int main() {
  for (int64_t spots : {100, 1000, 10000}) {
    SpottedFile source;
    source.size = kFirst + spots * kEvery;
    Sink destination;
    SteadyClock clock;
    sk::Pacer pacer(clock);
    Quiet view;
    sk::RescueMap map(source.size);
    sk::RescueOptions options;
    options.level = 2;
    const auto t0 = std::chrono::steady_clock::now();
    sk::RescueEngine(source, destination, map, clock, pacer, view, options).Run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    view.SaveMap(map);
    std::printf("%6lld spots: %7.1f us a spot, %7.1f ms a MiB, %.1f failing reads a spot, %zu areas, "
                "map text %zu bytes, %lld bytes unread\n",
                static_cast<long long>(spots), seconds * 1e6 / static_cast<double>(spots),
                seconds * 1e3 / (static_cast<double>(source.size) / (1 << 20)),
                static_cast<double>(source.failures) / static_cast<double>(spots), map.AreaCount(), view.textBytes,
                static_cast<long long>(map.Unfinished()));
  }
  return 0;
}
