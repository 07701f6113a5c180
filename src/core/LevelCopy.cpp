#include "core/LevelCopy.h"

#include <limits>
#include <memory>
#include <vector>

#include "core/Formats.h"
#include "core/Text.h"

namespace sk {
namespace {

// An operation on a file that did not open. Its open already logged the
// error, so this ends the copy without another entry.
class NotOpenError : public FileError {
 public:
  NotOpenError() : FileError("I/O error 103", 103) {}
};

// A write that took fewer bytes than it was given: the disk is full.
constexpr unsigned long kDiskFull = 112;

constexpr const char* kSameFileText = "Plik docelowy jest tym samym plikiem co źródłowy";

IFile& Opened(const std::unique_ptr<IFile>& file) {
  if (!file) throw NotOpenError();
  return *file;
}

// Close on the way out of a failed copy; the failure that ended the copy is
// the one that counts.
void CloseQuietly(std::unique_ptr<IFile>& file) {
  if (!file) return;
  try {
    file->Close();
  } catch (...) {
  }
  file.reset();
}

}  // namespace

size_t BlockSize(int level) {
  static constexpr size_t kSizes[] = {1, 21, 129, 513, 1025};
  if (level < 0) level = 0;
  if (level > 4) level = 4;
  return kSizes[level];
}

BarRange ScaleBar(int64_t max, int64_t position) {
  if (max < 0) max = 0;
  if (position < 0) position = 0;
  if (position > max) position = max;
  int shift = 0;
  while ((max >> shift) > std::numeric_limits<int>::max()) ++shift;
  return {static_cast<int>(max >> shift), static_cast<int>(position >> shift)};
}

void CopyFileAtLevel(const CopyEnvironment& env, const std::string& source, const std::string& destination,
                     int level, bool renamed) {
  ICopyView& view = env.view;
  CopyStatus& status = view.Status();
  const std::string name = FileNamePart(source);
  const std::string separator = view.DecimalSeparator();
  auto logError = [&](const std::string& message) { view.LogEvent("Błąd: " + message, ekError); };
  auto sizesText = [&](int64_t copied, int64_t total) {
    return FormatSize(copied, separator) + " / " + FormatSize(total, separator);
  };

  // 1-3: announce, bind, open.
  view.LogEvent("Rozpoczynanie kopiowania pliku " + name, ekInfo);
  if (renamed) view.LogEvent("Zapisywanie jako " + FileNamePart(destination), ekInfo);
  int refreshCounter = 0;
  view.LogEvent("Powiązywanie plików", ekInfo);
  std::unique_ptr<IFile> src, dst;
  view.LogEvent("Przygotowywanie plików do kopiowania", ekInfo);
  try {
    src = env.files.Open(source, OpenMode::ReadShared);
  } catch (const FileError& e) {
    logError(e.what());
  }
  if (src) {
    // Creating the destination would truncate the source when both name the
    // same file (a destination folder that is the source's own, however spelt).
    if (env.files.IsSameFile(*src, destination)) {
      logError(kSameFileText);
      CloseQuietly(src);
      throw FileError(kSameFileText);
    }
    try {
      dst = env.files.Open(destination, OpenMode::CreateReadWrite);
    } catch (const FileError& e) {
      logError(e.what());
    }
  }

  bool stopped = false;
  try {
    // 4-5
    status.fileName = name;
    status.fileMax = Opened(src).Size();
    view.LogEvent("Czytanie i zapisywanie bajtów", ekInfo);

    // 6: the block loop.
    std::vector<unsigned char> buffer(BlockSize(level));
    int64_t frequency = 0;
    const bool counter = env.clock.CounterFrequency(frequency) && frequency > 0;
    if (!counter) frequency = 1000;  // the millisecond clock instead
    auto ticks = [&] { return counter ? env.clock.Counter() : env.clock.Milliseconds(); };
    // Window work is due by time, not by step: it costs far more than a step.
    auto windowWork = [&] {
      const unsigned due = env.pacer.Tick();
      if (due & Pacer::kPump) view.PumpMessages();
      if (due & Pacer::kRefresh) {
        view.ShowStatus();
        env.pacer.RefreshMade();
      }
    };
    double remaining = 0;
    for (;;) {
      IFile& in = Opened(src);
      const int64_t position = in.Position();
      const int64_t sourceSize = in.Size();
      if (position >= sourceSize) break;
      const size_t count = in.Read(buffer.data(), buffer.size());
      windowWork();
      const int64_t t1 = ticks();
      IFile& out = Opened(dst);
      if (out.Write(buffer.data(), count) != count) throw FileError("I/O error 112", kDiskFull);
      windowWork();
      const int64_t t2 = ticks();
      if (view.StopRequested()) {
        stopped = true;
        break;
      }
      const int64_t destinationSize = out.Size();
      // Seconds per byte measured on this step, times the bytes still to copy.
      if (count > 0)
        remaining = static_cast<double>(sourceSize - destinationSize) *
                    (static_cast<double>(t2 - t1) / static_cast<double>(frequency)) / static_cast<double>(count);
      if (refreshCounter == 100) {
        status.remaining = FormatRemaining(remaining);
        status.elapsed = FormatElapsed(ElapsedSeconds(env.clock.Now(), view.CopyStartTime()));
        status.copied = sizesText(destinationSize, sourceSize);
        refreshCounter = 0;
      } else {
        ++refreshCounter;
      }
      status.totalPosition += static_cast<int64_t>(count);
      status.filePosition = destinationSize;
    }

    // 7-8
    status.remaining = "0 sek";
    const int64_t destinationSize = Opened(dst).Size();
    status.copied = sizesText(destinationSize, Opened(src).Size());
    view.LogEvent("Zakończono czytanie i zapisywanie bajtów", ekInfo);

    // 9: sizes only, never contents.
    if (view.CheckSizes()) {
      view.LogEvent("Sprawdzanie rozmiaru pliku", ekInfo);
      if (Opened(src).Size() == Opened(dst).Size())
        view.LogEvent("Rozmiar plików jest taki sam - sukces", ekSuccess);
      else
        view.LogEvent("Rozmiar plików jest różny - błąd", ekError);
      view.LogEvent("Zakończono sprawdzanie rozmiaru plików", ekInfo);
    }
  } catch (const NotOpenError&) {
    CloseQuietly(src);
    CloseQuietly(dst);
    throw;
  } catch (const FileError& e) {
    logError(e.what());
    CloseQuietly(src);
    CloseQuietly(dst);
    throw;
  } catch (...) {
    CloseQuietly(src);
    CloseQuietly(dst);
    throw;
  }

  // 10-11
  view.LogEvent("Zamykanie plików", ekInfo);
  for (auto* file : {&src, &dst}) {
    try {
      (*file)->Close();
    } catch (const FileError& e) {
      logError(e.what());
    }
    file->reset();
  }
  view.LogEvent("Zakończono kopiowanie pliku " + name, ekInfo);
  if (stopped) view.ShowStatus();  // a stop shows at once
}

}  // namespace sk
