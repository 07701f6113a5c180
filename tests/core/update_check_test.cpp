// The update check's order of steps over every way it can end, with a fake
// server, folder, signature check and updater.
#include "core/UpdateCheck.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/Formats.h"

namespace sk {
namespace {

constexpr const char* kFolder = "C:\\Program\\";
constexpr const char* kBase = "http://update.example/";

// A stand-in for SHA-256: 32 bytes that change with every byte of `data`.
std::string Digest(const std::string& data) {
  std::string digest;
  size_t h = std::hash<std::string>{}(data);
  while (digest.size() < 32) {
    digest.push_back(static_cast<char>(h & 0xFF));
    h = h * 1099511628211ull + 0x9E3779B97F4A7C15ull;
  }
  return digest;
}
std::string Hex(const std::string& bytes) {
  static const char* figures = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) hex += {figures[c >> 4], figures[c & 15]};
  return hex;
}
// What the fake release key signs `message` with.
std::string Sign(const std::string& message) { return "signed " + Hex(Digest(message)); }

const char* const kNames[] = {"description", "signature", "package", "updater"};

// Records what the check does, in order, as one list of lines; the folder is
// a map of file names to contents.
struct FakeCheck : IUpdateView, IUpdateSystem {
  std::map<UpdateFetch, std::string> served;  // a fetch not in it fails
  std::optional<UpdateFetch> closeDuring;     // the window is closed during this fetch...
  bool closeAtQuestion = false;               // ...or while the question is open
  bool answer = true;
  std::map<std::string, std::string> files;
  std::vector<std::string> trail;
  bool closing = false;

  static std::string Name(const std::string& path) { return path.substr(std::string(kFolder).size()); }
  void Note(const std::string& s) { trail.push_back(s); }

  // ---- the window ----
  void LogEvent(const std::string& text, EventKind kind) override {
    Note("log " + std::to_string(kind) + ": " + text);
  }
  void RewriteNewestEntry(const std::string& text) override { Note("counter " + text); }
  std::string DecimalSeparator() override { return ","; }
  void ShowMessage(const std::string& text, UpdateBoxIcon icon) override {
    Note(std::string(icon == UpdateBoxIcon::Error ? "error box: " : "box: ") + text);
  }
  bool Ask(const std::string& question) override {
    Note("ask: " + question);
    closing = closing || closeAtQuestion;
    return answer;
  }
  bool ClosePending() override { return closing; }
  void ClearCloseHandler() override { Note("close handler cleared"); }

  // ---- the system ----
  bool Fetch(const UpdateFetchRequest& request, const FetchProgress& progress) override {
    Note(std::string("fetch ") + kNames[static_cast<int>(request.what)] + " " + request.url + " -> " +
         Name(request.path) + (request.exactSize ? ", exactly " : ", at most ") + std::to_string(request.maxSize) +
         (request.useCache ? "" : ", no cache"));
    if (closeDuring == request.what) {
      closing = true;
      return false;
    }
    const auto it = served.find(request.what);
    if (it == served.end()) return false;
    const auto size = static_cast<int64_t>(it->second.size());
    if (request.exactSize ? size != request.maxSize : size > request.maxSize) return false;
    files[Name(request.path)] = it->second;
    if (progress) progress(size, size);
    return true;
  }
  std::optional<std::string> ReadFile(const std::string& path, int64_t limit) override {
    const auto it = files.find(Name(path));
    if (it == files.end() || static_cast<int64_t>(it->second.size()) > limit) return std::nullopt;
    return it->second;
  }
  void DeleteFile(const std::string& path) override {
    if (files.erase(Name(path))) Note("delete " + Name(path));
  }
  bool VerifySignature(const std::string& message, const std::string& signature) override {
    return signature == Sign(message);
  }
  std::optional<std::string> Sha256OfFile(const std::string& path) override {
    const auto it = files.find(Name(path));
    if (it == files.end()) return std::nullopt;
    return Digest(it->second);
  }
  bool StartUpdater(const std::string& file, const std::string& folder) override {
    Note("start " + file + " in " + folder);
    return updaterStarts;
  }
  bool updaterStarts = true;
  void EndInstances() override { Note("end instances"); }
  CivilDate TodayUtc() override { return {2030, 6, 15}; }
  uint32_t AcceptedSerial() override { return acceptedSerial; }
  void SetAcceptedSerial(uint32_t serial) override {
    Note("serial " + std::to_string(serial));
    acceptedSerial = serial;
  }
  uint32_t acceptedSerial = 7;

  std::set<std::string> FilesLeft() const {
    std::set<std::string> names;
    for (const auto& f : files) names.insert(f.first);
    return names;
  }
};

const std::string kPackage(3000, 'p');
const std::string kUpdater = "MZ updater";

// A description of `version`, with the hashes of the package and the
// updater, valid through `expires` (the fake's today is 2030-06-15), numbered
// `serial` (the fake accepted 7 before); an empty text leaves its key out.
std::string Describe(const std::string& version, const std::string& package = kPackage,
                     const std::string& updater = kUpdater, const std::string& expires = "2030-06-15",
                     const std::string& serial = "7") {
  std::string ini = "[Update]\r\nVersion=" + version + "\r\nURL=http://files.example/SKTRN.bin\r\n";
  if (!expires.empty()) ini += "Expires=" + expires + "\r\n";
  if (!serial.empty()) ini += "Serial=" + serial + "\r\n";
  if (!package.empty()) ini += "PackageSHA256=" + Hex(Digest(package)) + "\r\n";
  if (!updater.empty()) ini += "UpdaterSHA256=" + Hex(Digest(updater)) + "\r\n";
  if (!package.empty() && !updater.empty()) {
    ini += "PackageSize=" + std::to_string(package.size()) + "\r\nUpdaterSize=" + std::to_string(updater.size()) +
           "\r\n";
  }
  return ini;
}

// The description without its line that begins with `key`.
std::string Without(std::string ini, const std::string& key) {
  const size_t at = ini.find(key);
  return ini.erase(at, ini.find('\n', at) + 1 - at);
}

// The trail's lines, named.
const std::string kFetchDescription =
    "fetch description http://update.example/Update.ini -> Update.ini, at most 65536, no cache";
const std::string kFetchSignature =
    "fetch signature http://update.example/Update.sig -> Update.sig, at most 1024, no cache";
const std::string kFetchPackage = "fetch package http://files.example/SKTRN.bin -> SKTRN.tmp, exactly 3000";
const std::string kFetchUpdater = "fetch updater http://update.example/Swapit.exe -> Swapit.exe, exactly 10";
const std::string kDeleteSignature = "delete Update.sig";
const std::string kAsk = "ask: Jest dostępna nowsza wersja programu. Czy chcesz teraz zaktualizować?";
const std::string kNoServer = "log 0: Błąd: Nie udało się sprawdzić aktualizacji";
const std::string kNoServerBox = "error box: Nie udało się połączyć z serwerem aktualizacji.";
const std::string kUnsigned = "log 0: Błąd: Aktualizacja nie ma ważnego podpisu";
const std::string kUnsignedBox =
    "error box: Nie można zweryfikować aktualizacji. Aktualizacja została przerwana.";
const std::string kDownloadFailed = "log 0: Błąd: Nie udało się pobrać aktualizacji";
const std::string kPackageEntry = "log 2: Pobieranie aktualizacji";
const std::string kUpdaterEntry = "log 2: Pobieranie narzędzia aktualizacji";
const std::string kPackageCounter =
    "counter Pobieranie aktualizacji (" + FormatSize(3000, ",") + " / " + FormatSize(3000, ",") + ")";
const std::string kUpdaterCounter =
    "counter Pobieranie narzędzia aktualizacji (" + FormatSize(10, ",") + " / " + FormatSize(10, ",") + ")";

TEST(UpdateCheck, EveryWayTheCheckEnds) {
  using F = UpdateFetch;
  using Served = std::map<UpdateFetch, std::string>;
  const std::string newer = Describe("111");
  const Served all = {{F::Description, newer}, {F::Signature, Sign(newer)}, {F::Package, kPackage},
                      {F::Updater, kUpdater}};
  auto without = [&](F what) {
    Served s = all;
    s.erase(what);
    return s;
  };
  auto with = [&](F what, const std::string& body) {
    Served s = all;
    s[what] = body;
    return s;
  };
  auto signedDescription = [&](const std::string& ini) {
    Served s = all;
    s[F::Description] = ini;
    s[F::Signature] = Sign(ini);
    return s;
  };
  const std::vector<std::string> verified = {kFetchDescription, kFetchSignature, kDeleteSignature};
  auto after = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const std::vector<std::string> untilPackage = after(verified, {kAsk, kPackageEntry, kFetchPackage});
  const std::vector<std::string> untilUpdater =
      after(untilPackage, {kPackageCounter, kUpdaterEntry, kFetchUpdater});
  const std::vector<std::string> discardAll = {"delete Update.ini", "delete SKTRN.tmp", "delete Swapit.exe"};

  const struct Case {
    const char* name;
    Served served;
    std::vector<std::string> trail;
    std::set<std::string> left;  // the files of the check still in the folder
    bool answer = true;
    std::optional<F> closeDuring = std::nullopt;
    bool closeAtQuestion = false;
    bool updaterStarts = true;
  } cases[] = {
      {"noServer", {}, {kFetchDescription, "delete Update.ini", kNoServer, kNoServerBox}, {}},
      {"closedDuringTheDescription", all, {kFetchDescription, "delete Update.ini"}, {}, true, F::Description},
      {"noSignature", without(F::Signature), {kFetchDescription, kFetchSignature, "delete Update.ini", kUnsigned,
                                             kUnsignedBox}, {}},
      {"wrongSignature", with(F::Signature, Sign(newer + " ")),
       after(verified, {"delete Update.ini", kUnsigned, kUnsignedBox}), {}},
      {"signatureOver1KiB", with(F::Signature, Sign(newer) + std::string(1024, ' ')),
       {kFetchDescription, kFetchSignature, "delete Update.ini", kUnsigned, kUnsignedBox}, {}},
      {"closedDuringTheSignature", all, {kFetchDescription, kFetchSignature, "delete Update.ini"}, {}, true,
       F::Signature},
      {"noNewerVersion", signedDescription(Describe("110")),
       after(verified, {"box: Nie ma nowszej wersji programu.", "delete Update.ini"}), {}},
      {"noUpdaterHash", signedDescription(Describe("111", kPackage, "")),
       after(verified, {"delete Update.ini", kUnsigned, kUnsignedBox}), {}},
      {"noPackageHash", signedDescription(Describe("111", "", kUpdater)),
       after(verified, {"delete Update.ini", kUnsigned, kUnsignedBox}), {}},
      {"noUpdaterSize", signedDescription(Without(Describe("111"), "UpdaterSize=")),
       after(verified, {"delete Update.ini", kUnsigned + ": opis nie podaje rozmiarów plików (PackageSize, UpdaterSize)",
                        kUnsignedBox}), {}},
      // Fresh descriptions only: a genuine old one served again is refused.
      {"expired", signedDescription(Describe("111", kPackage, kUpdater, "2030-06-14")),
       after(verified, {"delete Update.ini", kUnsigned + ": opis stracił ważność 2030-06-14", kUnsignedBox}), {}},
      {"noExpires", signedDescription(Describe("111", kPackage, kUpdater, "")),
       after(verified, {"delete Update.ini", kUnsigned + ": opis nie ma daty ważności (Expires)", kUnsignedBox}), {}},
      {"noDayOfThatDate", signedDescription(Describe("111", kPackage, kUpdater, "2031-02-29")),
       after(verified, {"delete Update.ini", kUnsigned + ": opis nie ma daty ważności (Expires)", kUnsignedBox}), {}},
      {"noSerial", signedDescription(Describe("111", kPackage, kUpdater, "2031-01-01", "")),
       after(verified, {"delete Update.ini", kUnsigned + ": opis nie ma numeru (Serial)", kUnsignedBox}), {}},
      {"serialBeyond32Bits", signedDescription(Describe("111", kPackage, kUpdater, "2031-01-01", "4294967296")),
       after(verified, {"delete Update.ini", kUnsigned + ": opis nie ma numeru (Serial)", kUnsignedBox}), {}},
      {"serialBelowTheAcceptedOne", signedDescription(Describe("110", kPackage, kUpdater, "2031-01-01", "6")),
       after(verified, {"delete Update.ini", kUnsigned + ": numer opisu 6 jest niższy niż przyjęty wcześniej 7",
                        kUnsignedBox}), {}},
      {"higherSerialIsKept", signedDescription(Describe("110", kPackage, kUpdater, "2031-01-01", "4294967295")),
       after(verified, {"serial 4294967295", "box: Nie ma nowszej wersji programu.", "delete Update.ini"}), {}},
      {"declined", all, after(verified, {kAsk}), {"Update.ini"}, false},
      {"closedDuringTheQuestion", all, after(verified, {kAsk, "delete Update.ini"}), {}, false, std::nullopt, true},
      // Its Serial equals the one accepted before: it counts.
      {"accepted", all,
       after(untilUpdater, {kUpdaterCounter, "log 2: Uruchamianie narzędzia aktualizacji", "delete Update.ini",
                            "log 2: Proszę czekać...", "start C:\\Program\\Swapit.exe in C:\\Program\\",
                            "close handler cleared", "end instances"}),
       {"SKTRN.tmp", "Swapit.exe"}},
      // Start, then end: an updater that does not start ends nothing.
      {"updaterDoesNotStart", all,
       after(untilUpdater, {kUpdaterCounter, "log 2: Uruchamianie narzędzia aktualizacji", "delete Update.ini",
                            "log 2: Proszę czekać...", "start C:\\Program\\Swapit.exe in C:\\Program\\",
                            "delete SKTRN.tmp", "delete Swapit.exe", "log 0: Błąd: Nie udało się uruchomić aktualizacji",
                            "error box: Nie udało się uruchomić programu aktualizującego."}),
       {}, true, std::nullopt, false, false},
      {"packageFailed", without(F::Package), after(untilPackage, {"delete Update.ini", kDownloadFailed}), {}},
      {"closedDuringThePackage", all, after(untilPackage, {"delete Update.ini"}), {}, true, F::Package},
      {"packageLargerThanSigned", with(F::Package, kPackage + "x"),
       after(untilPackage, {"delete Update.ini", kDownloadFailed}), {}},
      {"packageHashWrong", with(F::Package, std::string(3000, 'q')),
       after(untilPackage, {kPackageCounter, "delete Update.ini", "delete SKTRN.tmp", kUnsigned, kUnsignedBox}), {}},
      {"updaterFailed", without(F::Updater), after(untilUpdater, {"delete Update.ini", "delete SKTRN.tmp",
                                                                  kDownloadFailed}), {}},
      {"closedDuringTheUpdater", all, after(untilUpdater, {"delete Update.ini", "delete SKTRN.tmp"}), {}, true,
       F::Updater},
      {"updaterSmallerThanSigned", with(F::Updater, "MZ"),
       after(untilUpdater, {"delete Update.ini", "delete SKTRN.tmp", kDownloadFailed}), {}},
      {"updaterHashWrong", with(F::Updater, "MZ updatex"),
       after(untilUpdater, {kUpdaterCounter, discardAll[0], discardAll[1], discardAll[2], kUnsigned, kUnsignedBox}),
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCheck check;
    check.served = c.served;
    check.answer = c.answer;
    check.closeDuring = c.closeDuring;
    check.closeAtQuestion = c.closeAtQuestion;
    check.updaterStarts = c.updaterStarts;
    // An earlier, declined check left its description.
    check.files["Update.ini"] = "[Update]\r\nVersion=111\r\n";
    RunUpdateCheck({kBase, kFolder}, check, check);
    EXPECT_EQ(check.trail, c.trail);
    EXPECT_EQ(check.FilesLeft(), c.left);
  }
}

}  // namespace
}  // namespace sk
