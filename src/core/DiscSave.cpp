#include "core/DiscSave.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/Formats.h"
#include "core/RescueSession.h"
#include "core/Resume.h"
#include "core/Text.h"

namespace sk {
namespace {

// A file or folder as a listing gave it.
struct Listed {
  int64_t size = 0;
  uint64_t time = 0;
  bool folder = false;
};

// What is on the disk where a save writes: each folder listed once, the
// first time a path in it is asked about; files the save writes are added.
class OnDisk {
 public:
  OnDisk(IDirectory& dirs, std::function<std::string(const std::string&)> key)
      : dirs_(dirs), key_(std::move(key)) {}

  const Listed* Find(const std::string& path) {
    auto& names = Folder(FolderPart(path));
    auto it = names.find(key_(FileNamePart(path)));
    return it == names.end() ? nullptr : &it->second;
  }
  void Add(const std::string& path, Listed entry) { Folder(FolderPart(path))[key_(FileNamePart(path))] = entry; }
  // The file at `path` as it is now (one listing of that name alone).
  std::optional<Listed> Look(const std::string& path) {
    auto listing = dirs_.Open(path);
    DirEntry e;
    if (!listing || !listing->Next(e)) return std::nullopt;
    return Listed{e.size, e.writeTime, (e.attributes & kAttrDirectory) != 0};
  }

 private:
  std::map<std::string, Listed>& Folder(const std::string& folder) {
    const std::string k = key_(folder);
    auto it = folders_.find(k);
    if (it != folders_.end()) return it->second;
    auto& names = folders_[k];
    if (auto listing = dirs_.Open(folder + "*")) {
      for (DirEntry e; listing->Next(e);)
        if (e.name != "." && e.name != "..")
          names[key_(e.name)] = Listed{e.size, e.writeTime, (e.attributes & kAttrDirectory) != 0};
    }
    return names;
  }

  IDirectory& dirs_;
  std::function<std::string(const std::string&)> key_;
  std::map<std::string, std::map<std::string, Listed>> folders_;
};

// The record of a disc's folder.
struct Record {
  bool present = false;
  std::string identity;
  struct File {
    std::string path;  // from the disc's folder, starting with '\'
    Listed as;
  };
  std::map<std::string, File> files;  // by the path's key
};

constexpr const char* kRecordHeader = "Sektorian: pliki zapisane z obrazu płyty";

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  for (size_t from = 0;;) {
    const size_t tab = line.find('\t', from);
    fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
    if (tab == std::string::npos) return fields;
    from = tab + 1;
  }
}

Record ReadRecord(IFileSystem& files, const std::string& path,
                  const std::function<std::string(const std::string&)>& key) {
  Record record;
  std::string text;
  try {
    auto file = files.Open(path, OpenMode::ReadShared);
    if (file->Size() > (64 << 20)) return record;
    char chunk[65536];
    for (size_t got; (got = file->Read(chunk, sizeof chunk)) > 0;) text.append(chunk, got);
    file->Close();
  } catch (const FileError&) {
    return record;
  }
  size_t from = 0;
  bool first = true;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(from, end - from);
    from = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first) {
      if (line != kRecordHeader) return record;
      first = false;
      continue;
    }
    const std::vector<std::string> f = Fields(line);
    try {
      if (f.size() == 2 && f[0] == "Płyta") record.identity = f[1];
      if (f.size() == 4 && f[0] == "Plik")
        record.files[key(f[1])] = {f[1], {std::stoll(f[2]), std::stoull(f[3]), false}};
    } catch (const std::exception&) {
      return Record{};
    }
  }
  record.present = !first && !record.identity.empty();
  return record;
}

std::string RecordText(const Record& record) {
  std::string text = std::string(kRecordHeader) + "\r\nPłyta\t" + record.identity + "\r\n";
  for (const auto& [k, f] : record.files)
    text += "Plik\t" + f.path + "\t" + std::to_string(f.as.size) + "\t" + std::to_string(f.as.time) + "\r\n";
  return text;
}

}  // namespace

std::string DiscIdentity(const RescueMap& imageMap) {
  if (!imageMap.source) return std::to_string(imageMap.Size());
  const SourceMark& m = *imageMap.source;
  return std::to_string(m.size) + " " + std::to_string(m.pos) + " " + std::to_string(m.length) + " " +
         std::to_string(m.hash);
}

SaveReport SaveDiscFiles(const DiscTree& tree, const std::vector<size_t>& chosen, IFile& image,
                         const RescueMap& imageMap, const SaveSite& site, const std::string& destination,
                         const std::string& decimalSeparator,
                         const std::function<void(const std::string&, EventKind)>& log,
                         const std::function<bool()>& pump) {
  const auto key = site.nameKey ? site.nameKey : std::function<std::string(const std::string&)>(LowerAscii);
  IFileSystem& files = site.files;
  OnDisk disk(site.dirs, key);
  SaveReport report;
  std::vector<size_t> entries;
  for (const size_t i : chosen)
    if (i < tree.entries.size() && !tree.entries[i].unknown) entries.push_back(i);
  report.chosen = static_cast<int>(entries.size());
  // No destination folder given: nothing is written (a relative path would
  // put the files wherever the program happens to stand).
  if (destination.empty()) {
    log("Błąd: Nieuzupełnione pole folderu docelowego", ekError);
    return report;
  }

  // The disc's folder: the label's, or the first numbered one that is
  // missing or this disc's.
  const std::string identity = DiscIdentity(imageMap);
  const std::string base = WithSlash(destination) + VolumeFolderName(tree.label);
  Record record;
  std::string root;
  for (int n = 1;; ++n) {
    root = n == 1 ? base : base + " (" + std::to_string(n) + ")";
    const Listed* there = disk.Find(root);
    if (!there) break;
    if (!there->folder) continue;
    record = ReadRecord(files, root + "\\" + kSaveRecordName, key);
    if (record.present && record.identity == identity) break;
    record = Record{};
  }
  record.identity = identity;
  report.folder = root;
  const std::string recordPath = root + "\\" + kSaveRecordName;

  auto relative = [&](const std::string& path) { return path.substr(root.size()); };
  // A file an earlier save of this disc left, as it left it.
  auto ours = [&](const std::string& path) {
    const Listed* now = disk.Find(path);
    auto it = record.files.find(key(relative(path)));
    return now && !now->folder && it != record.files.end() && it->second.as.size == now->size &&
           it->second.as.time == now->time;
  };
  auto taken = [&](const std::string& path) {
    if (key(path) == key(recordPath)) return true;
    if (!disk.Find(path)) return false;
    const std::string plain = path.size() > 4 ? path.substr(0, path.size() - 4) : std::string();
    if (key(MapPathFor(plain)) == key(path) && ours(plain)) return false;  // the map of a file of ours
    return !ours(path);
  };
  ExtractNames names(root, key, taken);

  for (size_t k = 0; k < entries.size(); ++k) {
    const DiscEntry& entry = tree.entries[entries[k]];
    const std::string path = names.PathFor(entry.path);
    log("Rozpoczynanie kopiowania pliku " + FileNamePart(entry.path), ekInfo);
    std::unique_ptr<IFile> out;
    try {
      const bool again = disk.Find(path) != nullptr;  // a file of an earlier save: ours
      std::optional<RescueMap> earlier;
      if (again) {
        earlier = LoadEarlierMap(files, MapPathFor(path));
        const bool hadMap = earlier.has_value();
        if (!earlier) earlier = RescueMap(std::max<int64_t>(0, entry.size), kFinished);
        if (earlier->Size() != std::max<int64_t>(0, entry.size)) throw FileError(kMapMismatchText);
        out = files.Open(path, OpenMode::ReadWriteExisting);
        const RescueMap fileMap = ExtractFile(entry, image, imageMap, *out, &*earlier);
        MapKeeper keeper(files, MapPathFor(path), hadMap);
        if (keeper.Finish(out.get(), fileMap)) log("Zapisano mapę odczytu " + FileNamePart(keeper.Path()), ekInfo);
        out->Close();
        out.reset();
        earlier = fileMap;
      } else {
        site.makeFoldersFor(path);
        out = files.Open(path, OpenMode::CreateReadWrite);
        const RescueMap fileMap = ExtractFile(entry, image, imageMap, *out);
        MapKeeper keeper(files, MapPathFor(path));
        if (keeper.Finish(out.get(), fileMap)) log("Zapisano mapę odczytu " + FileNamePart(keeper.Path()), ekInfo);
        out->Close();
        out.reset();
        earlier = fileMap;
      }
      // The file as this save left it: the next save tells it from the user's.
      if (const std::optional<Listed> now = disk.Look(path)) {
        disk.Add(path, *now);
        record.files[key(relative(path))] = {relative(path), *now};
      }
      const int64_t unread = earlier->Unfinished();
      if (unread > 0)
        log("Błąd: Nie odczytano " + FormatSize(unread, decimalSeparator) + " pliku " + FileNamePart(entry.path),
            ekError);
      else
        ++report.complete;
    } catch (const std::exception& e) {
      log("Błąd: " + std::string(e.what()), ekError);
      if (out) {
        try {
          out->Close();
        } catch (const std::exception&) {
        }
      }
    }
    if (pump && pump()) {
      report.stopped = k + 1 < entries.size();
      break;
    }
  }
  if (!entries.empty()) {
    try {
      site.makeFoldersFor(recordPath);
      files.ReplaceContent(recordPath, RecordText(record));
    } catch (const std::exception& e) {
      log("Błąd: " + std::string(e.what()), ekError);
    }
  }
  return report;
}

}  // namespace sk
