#include "core/LevelCopy.h"

#include <limits>
#include <memory>
#include <vector>

#include "core/Formats.h"
#include "core/CopyPair.h"
#include "core/Text.h"

namespace sk {
namespace copy {

IFile& Opened(const std::unique_ptr<IFile>& file) {
  if (!file) throw NotOpenError();
  return *file;
}

void CloseQuietly(std::unique_ptr<IFile>& file) {
  if (!file) return;
  try {
    file->Close();
  } catch (...) {
  }
  file.reset();
}

OpenedPair OpenPair(const CopyEnvironment& env, const std::string& source, const std::string& destination,
                    const std::string* staleMap, bool renamed, bool fresh) {
  ICopyView& view = env.view;
  auto logError = [&](const std::string& message) { view.LogEvent("Błąd: " + message, ekError); };
  view.LogEvent("Rozpoczynanie kopiowania pliku " + FileNamePart(source), ekInfo);
  if (renamed) view.LogEvent("Zapisywanie jako " + FileNamePart(destination), ekInfo);
  view.LogEvent("Powiązywanie plików", ekInfo);
  OpenedPair files;
  // A rescue's own files may be opened through another layer (see CopyEnvironment).
  IFileSystem& opener = staleMap ? env.RescueLayer() : env.files;
  view.LogEvent("Przygotowywanie plików do kopiowania", ekInfo);
  try {
    files.src = opener.Open(source, OpenMode::ReadShared);
  } catch (const FileError& e) {
    logError(e.what());
  }
  if (files.src) {
    // Creating the destination would truncate the source when both name the
    // same file (a destination folder that is the source's own, however spelt).
    if (!fresh && opener.IsSameFile(*files.src, destination)) {
      logError(kSameFileText);
      CloseQuietly(files.src);
      throw FileError(kSameFileText);
    }
    try {
      files.dst = opener.Open(destination, fresh ? OpenMode::CreateNew : OpenMode::CreateReadWrite);
    } catch (const FileExistsError&) {
      CloseQuietly(files.src);
      throw;
    } catch (const FileError& e) {
      // The earlier rescue's file and its map stay as they were: the map
      // still names the holes of that file.
      logError(e.what());
    }
    if (staleMap && files.dst && !fresh) {
      try {
        if (InspectMapPath(env.files, *staleMap) == MapSlot::kMap) env.files.RemoveFile(*staleMap);
      } catch (const FileError& e) {
        logError(e.what());
        CloseQuietly(files.src);
        CloseQuietly(files.dst);
        throw;
      }
    }
  }
  return files;
}

void CheckSizes(ICopyView& view, OpenedPair& files, int64_t unread) {
  if (!view.CheckSizes()) return;
  view.LogEvent("Sprawdzanie rozmiaru pliku", ekInfo);
  if (Opened(files.src).Size() != Opened(files.dst).Size())
    view.LogEvent("Rozmiar plików jest różny - błąd", ekError);
  else if (unread > 0)
    view.LogEvent("Rozmiar plików jest taki sam, ale nie wszystkie bajty zostały odczytane - błąd", ekError);
  else
    view.LogEvent("Rozmiar plików jest taki sam - sukces", ekSuccess);
  view.LogEvent("Zakończono sprawdzanie rozmiaru plików", ekInfo);
}

void AbandonPair(ICopyView& view, OpenedPair& files, bool logged) {
  try {
    throw;
  } catch (const NotOpenError&) {
  } catch (const FileError& e) {
    if (!logged) view.LogEvent(std::string("Błąd: ") + e.what(), ekError);
  } catch (...) {
  }
  CloseQuietly(files.src);
  CloseQuietly(files.dst);
}

void ClosePair(ICopyView& view, OpenedPair& files, const std::string& ended, bool stopped) {
  view.LogEvent("Zamykanie plików", ekInfo);
  for (auto* file : {&files.src, &files.dst}) {
    try {
      (*file)->Close();
    } catch (const FileError& e) {
      view.LogEvent(std::string("Błąd: ") + e.what(), ekError);
    }
    file->reset();
  }
  view.LogEvent(ended, ekInfo);
  if (stopped) view.ShowStatus();  // a stop shows at once
}

}  // namespace copy

using copy::AbandonPair;
using copy::CheckSizes;
using copy::ClosePair;
using copy::Opened;
using copy::OpenedPair;
using copy::OpenPair;

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

int64_t CopyFileAtLevel(const CopyEnvironment& env, const std::string& source, const std::string& destination,
                        int level, bool renamed, std::vector<PutOffRescue>* putOff, bool fresh) {
  if (env.view.RescueMode()) return RescueFileAtLevel(env, source, destination, level, renamed, putOff, fresh);
  ICopyView& view = env.view;
  CopyStatus& status = view.Status();
  const std::string name = FileNamePart(source);
  const std::string separator = view.DecimalSeparator();
  auto sizesText = [&](int64_t copied, int64_t total) {
    return FormatSize(copied, separator) + " / " + FormatSize(total, separator);
  };

  // Announce, bind, open.
  OpenedPair opened = OpenPair(env, source, destination, nullptr, renamed, fresh);
  std::unique_ptr<IFile>& src = opened.src;
  std::unique_ptr<IFile>& dst = opened.dst;
  int refreshCounter = 0;

  bool stopped = false;
  try {
    // The file's name and size in the status, and the loop announced.
    status.fileName = name;
    status.fileMax = Opened(src).Size();
    view.LogEvent("Czytanie i zapisywanie bajtów", ekInfo);

    // The block loop: read a block, write it, until the source's end or a stop.
    std::vector<unsigned char> buffer(BlockSize(level));
    int64_t frequency = 0;
    const bool counter = env.clock.CounterFrequency(frequency) && frequency > 0;
    if (!counter) frequency = 1000;  // the millisecond clock instead
    auto ticks = [&] { return counter ? env.clock.Counter() : env.clock.Milliseconds(); };
    // Window work is due by time, not by step: it costs far more than a step.
    auto pump = [&] { view.PumpMessages(); };
    auto refresh = [&] {
      view.ShowStatus();
      env.pacer.RefreshMade();
    };
    double remaining = 0;
    for (;;) {
      IFile& in = Opened(src);
      const int64_t position = in.Position();
      const int64_t sourceSize = in.Size();
      if (position >= sourceSize) break;
      const size_t count = in.Read(buffer.data(), buffer.size());
      env.pacer.Step(pump, refresh, [] { return false; });
      const int64_t t1 = ticks();
      IFile& out = Opened(dst);
      if (out.Write(buffer.data(), count) != count) throw DiskFullError();
      if (env.pacer.Step(pump, refresh, [&] { return view.StopRequested(); })) {
        stopped = true;
        break;
      }
      const int64_t t2 = ticks();
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

    // The loop's end in the status and the log.
    status.remaining = "0 sek";
    const int64_t destinationSize = Opened(dst).Size();
    status.copied = sizesText(destinationSize, Opened(src).Size());
    view.LogEvent("Zakończono czytanie i zapisywanie bajtów", ekInfo);

    CheckSizes(view, opened, 0);
  } catch (...) {
    AbandonPair(view, opened, false);
    throw;
  }

  // Close both files and say that the file is done.
  ClosePair(view, opened, "Zakończono kopiowanie pliku " + name, stopped);
  return 0;
}

}  // namespace sk
