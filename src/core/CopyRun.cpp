#include "core/CopyRun.h"

#include <set>

#include "core/Text.h"

namespace sk {
namespace {

std::string Shortfall(size_t complete, size_t count) {
  return "Nie wszystkie pliki zostały skopiowane (" + std::to_string(complete) + " z " + std::to_string(count) + ")";
}

void CarryOutAction(ICopyRunView& view, ICopyRunSystem& system, size_t complete, size_t count) {
  switch (view.AfterCopyAction()) {
    case kActionMessage:
      view.LogEvent("Wyświetlanie komunikatu o skończonym kopiowaniu", ekInfo);
      if (complete == count)
        system.ShowFinishedMessage("Zakończono kopiowanie wszystkich plików!", true);
      else
        system.ShowFinishedMessage(Shortfall(complete, count) + ".", false);
      break;
    case kActionMinimize:
      view.LogEvent("Minimalizowanie aplikacji", ekInfo);
      system.MinimizeApplication();
      break;
    case kActionRunProgram: {
      view.LogEvent("Uruchamianie wybranej aplikacji", ekInfo);
      const std::string program = view.ProgramToRun();
      system.Execute("\"" + program + "\"", FolderPart(program));
      break;
    }
    case kActionCloseProgram:
      view.LogEvent("Zamykanie aplikacji", ekInfo);
      system.CloseMainWindow();
      break;
    case kActionShutDown:
      view.LogEvent("Zamykanie systemu", ekInfo);
      system.ExitSystem(5);  // shut down, forcing applications closed
      break;
    default:
      break;
  }
}

}  // namespace

std::string DestinationPath(const std::string& folder, const std::string& source) {
  return folder + "\\" + FileNamePart(source);
}

std::string NumberedName(const std::string& path, int n) {
  const size_t nameAt = path.size() - FileNamePart(path).size();
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot <= nameAt) dot = path.size();
  return path.substr(0, dot) + " (" + std::to_string(n) + ")" + path.substr(dot);
}

void RunCopy(ICopyRunView& view, ICopyRunSystem& system) {
  if (view.EntryCount() == 0) return;
  view.SetListHints(false);

  const std::string folder = view.Destination();
  if (folder.empty()) {
    view.ShowEmptyDestinationMessage();
    view.LogEvent("Błąd: Nieuzupełnione pole folderu docelowego", ekError);
    view.SetListHints(true);
    return;
  }
  if (!system.FolderExists(folder)) {
    view.LogEvent("Tworzenie folderu docelowego", ekInfo);
    try {
      system.CreateFolder(folder);
    } catch (...) {
      view.SetListHints(true);
      throw;
    }
  }

  view.LogEvent("Wyłączanie komponentów", ekInfo);
  view.SetRunControls(true);

  const size_t count = view.EntryCount();
  int64_t total = 0;
  for (size_t i = 0; i < count; ++i) total += system.FileSizeByName(view.EntryPath(i));
  view.LogEvent("Liczenie rozmiaru plików", ekInfo);
  view.SetOverallProgress(total, 0);

  view.LogEvent("Rozpoczynanie kopiowania plików", ekInfo);
  view.SetCopyStartTime(system.Now());

  size_t complete = 0;
  std::set<std::string> written;  // the destinations this run has written, by NameKey
  for (size_t i = 0; i < count; ++i) {
    const std::string source = view.EntryPath(i);
    const int level = view.Level();
    std::string destination = DestinationPath(view.Destination(), source);
    const bool renamed = written.count(system.NameKey(destination)) != 0;
    if (renamed) {
      const std::string first = destination;
      for (int n = 2;; ++n) {
        destination = NumberedName(first, n);
        if (!written.count(system.NameKey(destination)) && !system.PathExists(destination)) break;
      }
    }
    bool there = true;
    try {
      view.CopyFile(source, destination, level, renamed);
      // Both files are closed now, so their directory entries hold their sizes.
      if (system.FileSizeByName(destination) == system.FileSizeByName(source) && !view.LeftUnread()) ++complete;
    } catch (...) {
      // A file that fails never ends the run; the routine has logged it.
      // A destination that is there was written by this run (or, when the
      // source did not open, was there before and is kept all the same).
      there = system.PathExists(destination);
    }
    if (there) written.insert(system.NameKey(destination));
    if (view.StopRequested() || view.ClosePending()) {
      view.ClearStopRequest();
      break;
    }
    view.Repaint();
  }

  if (complete < count) {
    view.LogEvent("Błąd: " + Shortfall(complete, count), ekError);
  }
  view.LogEvent("Zakończono kopiowanie plików", ekInfo);
  view.LogEvent("Włączanie komponentów", ekInfo);
  view.SetRunControls(false);

  if (!view.ClosePending()) CarryOutAction(view, system, complete, count);
  view.SetListHints(true);
}

}  // namespace sk
