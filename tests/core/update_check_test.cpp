// The update check's order of steps over every way it can end, with a fake
// server, folder, signature check and updater.
#include "core/UpdateCheck.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace sk {
namespace {

constexpr const char* kFolder = "C:\\Program\\";

// Stand-ins for SHA-256 (the first 32 bytes: the test's files differ within
// them) and for the release key's signature (over the exact message).
std::string Digest(const std::string& data) { return (data + std::string(32, '.')).substr(0, 32); }
std::string Sign(const std::string& message) { return "signed " + message; }
std::string Hex(const std::string& bytes) {
  std::string hex;
  for (unsigned char c : bytes) hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return hex;
}

// Records what the check does, in order, as lines; the server and the folder
// are maps of file names to contents. Deleting a file that is not there
// leaves no line.
struct FakeCheck : IUpdateView, IUpdateSystem {
  std::map<std::string, std::string> served, files;
  // "": all goes well; a file's name: the window is closed during its fetch;
  // "?": closed while the question is open; "no": the question is answered
  // No; "no start": the updater does not start.
  std::string event;
  bool closing = false;
  uint32_t serial = 7;  // the highest accepted before
  std::vector<std::string> trail;

  static std::string Name(const std::string& path) { return path.substr(std::string(kFolder).size()); }
  void LogEvent(const std::string& text, EventKind kind) override {
    trail.push_back("log " + std::to_string(kind) + ": " + text);
  }
  // The downloads' counters are the window tests' part.
  void RewriteNewestEntry(const std::string&) override {}
  std::string DecimalSeparator() override { return ","; }
  void ShowMessage(const std::string& text, UpdateBoxIcon icon) override {
    trail.push_back((icon == UpdateBoxIcon::Error ? "error box: " : "box: ") + text);
  }
  bool Ask(const std::string& question) override {
    trail.push_back("ask: " + question);
    closing = closing || event == "?";
    return event != "no";
  }
  bool ClosePending() override { return closing; }
  void ClearCloseHandler() override { trail.push_back("close handler cleared"); }

  bool Fetch(const UpdateFetchRequest& r, const FetchProgress&) override {
    const std::string name = Name(r.path);
    trail.push_back("fetch " + r.url + " -> " + name + (r.exactSize ? ", exactly " : ", at most ") +
                    std::to_string(r.maxSize) + (r.useCache ? "" : ", no cache"));
    closing = closing || event == name;
    if (closing || !served.count(name)) return false;
    files[name] = served[name];
    return true;
  }
  std::optional<std::string> ReadFile(const std::string& path, int64_t limit) override {
    if (!files.count(Name(path)) || static_cast<int64_t>(files[Name(path)].size()) > limit) return std::nullopt;
    return files[Name(path)];
  }
  void DeleteFile(const std::string& path) override {
    if (files.erase(Name(path))) trail.push_back("delete " + Name(path));
  }
  bool VerifySignature(const std::string& message, const std::string& signature) override {
    return signature == Sign(message);
  }
  std::optional<std::string> Sha256OfFile(const std::string& path) override {
    if (!files.count(Name(path))) return std::nullopt;
    return Digest(files[Name(path)]);
  }
  CivilDate TodayUtc() override { return {2030, 6, 15}; }
  uint32_t AcceptedSerial() override { return serial; }
  void SetAcceptedSerial(uint32_t s) override {
    trail.push_back("serial " + std::to_string(s));
    serial = s;
  }
  bool StartUpdater(const std::string& file, const std::string& folder) override {
    trail.push_back("start " + file + " in " + folder);
    return event != "no start";
  }
  void EndInstances() override { trail.push_back("end instances"); }
};

const std::string kPackage(3000, 'p');
const std::string kUpdater = "MZ updater";

// A description of version 111 (one above the program's), valid through the
// fake's today, numbered as the fake's accepted serial, with the downloads'
// hashes and sizes; `change` gives keys other values ("": the key left out).
std::string Describe(const std::map<std::string, std::string>& change = {}) {
  const std::pair<std::string, std::string> keys[] = {
      {"Version", "111"},         {"URL", "http://files.example/SKTRN.bin"},
      {"Expires", "2030-06-15"},  {"Serial", "7"},
      {"PackageSHA256", Hex(Digest(kPackage))}, {"UpdaterSHA256", Hex(Digest(kUpdater))},
      {"PackageSize", "3000"},    {"UpdaterSize", "10"}};
  std::string ini = "[Update]\r\n";
  for (auto [key, value] : keys) {
    if (change.count(key)) value = change.at(key);
    if (!value.empty()) ini += key + "=" + value + "\r\n";
  }
  return ini;
}

TEST(UpdateCheck, EveryWayTheCheckEnds) {
  using Trail = std::vector<std::string>;
  auto then = [](Trail head, const Trail& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const std::string fetchIni = "fetch http://update.example/Update.ini -> Update.ini, at most 65536, no cache";
  const std::string fetchSig = "fetch http://update.example/Update.sig -> Update.sig, at most 1024, no cache";
  const std::string unsignedEntry = "log 0: Błąd: Aktualizacja nie ma ważnego podpisu";
  const std::string unsignedBox = "error box: Nie można zweryfikować aktualizacji. Aktualizacja została przerwana.";
  const std::string ask = "ask: Jest dostępna nowsza wersja programu. Czy chcesz teraz zaktualizować?";
  const std::string noNewer = "box: Nie ma nowszej wersji programu.";
  const std::string downloadFailed = "log 0: Błąd: Nie udało się pobrać aktualizacji";
  const Trail verified = {fetchIni, fetchSig, "delete Update.sig"};
  auto refused = [&](const std::string& why) {
    return then(verified, {"delete Update.ini", unsignedEntry + why, unsignedBox});
  };
  const Trail package = then(verified, {ask, "log 2: Pobieranie aktualizacji",
                                        "fetch http://files.example/SKTRN.bin -> SKTRN.tmp, exactly 3000"});
  const Trail updater = then(package, {"log 2: Pobieranie narzędzia aktualizacji",
                                       "fetch http://update.example/Swapit.exe -> Swapit.exe, exactly 10"});
  const Trail started = then(updater, {"log 2: Uruchamianie narzędzia aktualizacji", "delete Update.ini",
                                       "log 2: Proszę czekać...", "start C:\\Program\\Swapit.exe in C:\\Program\\"});

  const struct Case {
    const char* name;
    std::map<std::string, std::string> change;  // of the signed description's keys
    std::map<std::string, std::string> served;  // other answers of the server ("-": none)
    Trail trail;
    const char* event = "";
  } cases[] = {
      {"noServer", {}, {{"Update.ini", "-"}},
       {fetchIni, "delete Update.ini", "log 0: Błąd: Nie udało się sprawdzić aktualizacji",
        "error box: Nie udało się połączyć z serwerem aktualizacji."}},
      {"closedDuringTheDescription", {}, {}, {fetchIni, "delete Update.ini"}, "Update.ini"},
      // A signature that did not arrive is a check that could not be made;
      // one that arrived and is empty is no signature.
      {"signatureFetchFailed", {}, {{"Update.sig", "-"}},
       {fetchIni, fetchSig, "delete Update.ini", "log 0: Błąd: Nie udało się sprawdzić aktualizacji",
        "error box: Nie udało się połączyć z serwerem aktualizacji."}},
      {"emptySignature", {}, {{"Update.sig", ""}}, refused("")},
      {"wrongSignature", {}, {{"Update.sig", Sign(Describe() + " ")}}, refused("")},
      {"closedDuringTheSignature", {}, {}, {fetchIni, fetchSig, "delete Update.ini"}, "Update.sig"},
      {"noNewerVersion", {{"Version", "110"}}, {}, then(verified, {noNewer, "delete Update.ini"})},
      {"noPackageHash", {{"PackageSHA256", ""}}, {}, refused("")},
      {"noUpdaterHash", {{"UpdaterSHA256", ""}}, {}, refused("")},
      {"noUpdaterSize", {{"UpdaterSize", ""}}, {},
       refused(": opis nie podaje rozmiarów plików (PackageSize, UpdaterSize)")},
      // Fresh descriptions only: a genuine old one served again is refused,
      // and its Serial is not kept.
      {"expired", {{"Expires", "2030-06-14"}, {"Serial", "8"}}, {},
       refused(": opis stracił ważność 2030-06-14")},
      {"noExpires", {{"Expires", ""}}, {}, refused(": opis nie ma daty ważności (Expires)")},
      {"noSerial", {{"Serial", ""}}, {}, refused(": opis nie ma numeru (Serial)")},
      {"serialBelowTheAcceptedOne", {{"Serial", "6"}}, {},
       refused(": numer opisu 6 jest niższy niż przyjęty wcześniej 7")},
      {"higherSerialIsKept", {{"Version", "110"}, {"Serial", "4294967295"}}, {},
       then(verified, {"serial 4294967295", noNewer, "delete Update.ini"})},
      {"declined", {}, {}, then(verified, {ask}), "no"},  // Update.ini stays
      {"closedDuringTheQuestion", {}, {}, then(verified, {ask, "delete Update.ini"}), "?"},
      // Expiring today, with the Serial accepted before: it counts.
      {"accepted", {}, {}, then(started, {"close handler cleared", "end instances"})},
      // Start, then end: an updater that does not start ends nothing.
      {"updaterDoesNotStart", {}, {},
       then(started, {"delete SKTRN.tmp", "delete Swapit.exe", "log 0: Błąd: Nie udało się uruchomić aktualizacji",
                      "error box: Nie udało się uruchomić programu aktualizującego."}),
       "no start"},
      {"packageFailed", {}, {{"SKTRN.tmp", "-"}}, then(package, {"delete Update.ini", downloadFailed})},
      {"closedDuringThePackage", {}, {}, then(package, {"delete Update.ini"}), "SKTRN.tmp"},
      {"packageHashWrong", {}, {{"SKTRN.tmp", std::string(3000, 'q')}},
       then(package, {"delete Update.ini", "delete SKTRN.tmp", unsignedEntry, unsignedBox})},
      {"updaterFailed", {}, {{"Swapit.exe", "-"}},
       then(updater, {"delete Update.ini", "delete SKTRN.tmp", downloadFailed})},
      {"closedDuringTheUpdater", {}, {}, then(updater, {"delete Update.ini", "delete SKTRN.tmp"}), "Swapit.exe"},
      {"updaterHashWrong", {}, {{"Swapit.exe", "MZ updatex"}},
       then(updater, {"delete Update.ini", "delete SKTRN.tmp", "delete Swapit.exe", unsignedEntry, unsignedBox})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCheck check;
    const std::string ini = Describe(c.change);
    check.served = {{"Update.ini", ini}, {"Update.sig", Sign(ini)}, {"SKTRN.tmp", kPackage}, {"Swapit.exe", kUpdater}};
    for (const auto& [name, body] : c.served) {
      if (body == "-") {
        check.served.erase(name);
      } else {
        check.served[name] = body;
      }
    }
    check.event = c.event;
    check.files["Update.ini"] = "[Update]\r\nVersion=111\r\n";  // left by an earlier, declined check
    RunUpdateCheck({"http://update.example/", kFolder}, check, check);
    EXPECT_EQ(check.trail, c.trail);
  }
}

}  // namespace
}  // namespace sk
