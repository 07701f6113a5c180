#include "core/CopyRun.h"

#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/FileApi.h"
#include "core/Rescue.h"
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

// Inside a catch handler: whether the failure is a medium that went away
// and was not put back.
bool IsMediumGone() {
  try {
    throw;
  } catch (const MediumGone&) {
    return true;
  } catch (...) {
    return false;
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
  const bool rescue = view.RescueMode();
  // The destinations this run has written (and in rescue mode their maps), by NameKey.
  std::set<std::string> written;
  auto taken = [&](const std::string& path) {
    return written.count(system.NameKey(path)) != 0 ||
           (rescue && written.count(system.NameKey(MapPathFor(path))) != 0);
  };
  // What was in the destination folder as the run began (and what has
  // appeared there since, once a create met it), by NameKey. Without a
  // listing, the disk is asked about each name.
  const std::optional<std::vector<std::string>> names = system.FolderNames(folder);
  std::unordered_set<std::string> present;
  if (names) {
    present.reserve(names->size());
    for (const std::string& name : *names) present.insert(system.NameKey(DestinationPath(folder, name)));
  }
  auto onDisk = [&](const std::string& path) {
    return names ? present.count(system.NameKey(path)) != 0 : system.PathExists(path);
  };
  // The first free numbered name for `first`. Names only ever become taken
  // during a run, so the search for a name goes on from the number it last
  // gave (by NameKey of `first`): many files of one name cost one try each.
  std::unordered_map<std::string, int> nextNumber;
  auto freeName = [&](const std::string& first) {
    int& n = nextNumber.try_emplace(system.NameKey(first), 2).first->second;
    for (;; ++n) {
      std::string name = NumberedName(first, n);
      if (!taken(name) && !onDisk(name)) return name;
    }
  };
  // Whether a destination is created new: nothing had its name (nor, in
  // rescue mode, its map's) as far as the listing and the run tell.
  auto fresh = [&](const std::string& path) {
    return names && !onDisk(path) && !(rescue && onDisk(MapPathFor(path)));
  };
  // A file that counts as copied: the routine returned, and the destination
  // holds as many bytes as the source, none left unread. Both files are
  // closed now, so their directory entries hold their sizes.
  auto copied = [&](const std::string& source, const std::string& destination) {
    return system.FileSizeByName(destination) == system.FileSizeByName(source) && !view.LeftUnread();
  };
  // After each file: a stop or a close ends the run (and so does a medium
  // that was not put back).
  bool ended = false;
  auto endsHere = [&](bool mediumGone) {
    if (!mediumGone && !view.StopRequested() && !view.ClosePending()) return false;
    view.ClearStopRequest();
    return ended = true;
  };
  std::vector<std::pair<std::string, std::string>> putOff;  // source, destination
  for (size_t i = 0; i < count; ++i) {
    const std::string source = view.EntryPath(i);
    const int level = view.Level();
    const std::string first = DestinationPath(folder, source);
    const bool renamed = taken(first);
    std::string destination = renamed ? freeName(first) : first;
    bool createNew = fresh(destination);
    bool there = true, mediumGone = false;
    for (;;) {
      try {
        view.CopyFile(source, destination, level, renamed, createNew);
        if (view.PutOff())
          putOff.emplace_back(source, destination);
        else if (copied(source, destination))
          ++complete;
      } catch (const FileExistsError&) {
        // A file of that name has appeared meanwhile. A renamed file goes to
        // the next free name; any other is copied over it, as over a file
        // that was there before the run.
        present.insert(system.NameKey(destination));
        if (renamed) {
          destination = freeName(first);
          createNew = fresh(destination);
        } else {
          createNew = false;
        }
        continue;
      } catch (...) {
        // A file that fails never ends the run; the routine has logged it.
        // A destination that is there was written by this run (or, when the
        // source did not open, was there before and is kept all the same).
        mediumGone = IsMediumGone();
        there = system.PathExists(destination);
      }
      break;
    }
    if (there) {
      written.insert(system.NameKey(destination));
      if (rescue) written.insert(system.NameKey(MapPathFor(destination)));
    }
    if (endsHere(mediumGone)) break;
    view.Repaint();
  }

  if (!ended && !putOff.empty()) {
    view.LogEvent("Rozpoczynanie zawężania uszkodzonych miejsc (plików: " + std::to_string(putOff.size()) + ")",
                  ekInfo);
    for (size_t k = 0; k < putOff.size(); ++k) {
      bool mediumGone = false;
      try {
        view.NarrowPutOff(k);
        if (copied(putOff[k].first, putOff[k].second)) ++complete;
      } catch (...) {
        mediumGone = IsMediumGone();
      }
      if (endsHere(mediumGone)) break;
      view.Repaint();
    }
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
