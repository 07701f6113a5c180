#include "core/UpdateCheck.h"

#include <cstdio>

#include "core/Formats.h"
#include "core/Text.h"

namespace sk {
namespace {

constexpr const char* kNoNewer = "Nie ma nowszej wersji programu.";
constexpr const char* kQuestion = "Jest dostępna nowsza wersja programu. Czy chcesz teraz zaktualizować?";
constexpr const char* kNotVerified = "Nie można zweryfikować aktualizacji. Aktualizacja została przerwana.";

class UpdateCheck {
 public:
  UpdateCheck(const UpdateSource& source, IUpdateView& view, IUpdateSystem& system)
      : source_(source), view_(view), system_(system) {}

  void Run() {
    // The description and its signature: a fetch of either that fails (no
    // answer, a lost connection, the stall limit, an error answer) is a check
    // that could not be made, whatever was fetched before.
    const std::string ini = Path(kUpdateIniName);
    const std::string signaturePath = Path(kUpdateSignatureName);
    if (!Fetch({UpdateFetch::Description, source_.baseAddress + kUpdateIniName, ini, false, kUpdateIniLimit}) ||
        !Fetch({UpdateFetch::Signature, source_.baseAddress + kUpdateSignatureName, signaturePath, false,
                kUpdateSignatureLimit})) {
      DiscardFiles();  // a partial description and one left from an earlier check alike
      if (view_.ClosePending()) return;
      view_.LogEvent("Błąd: Nie udało się sprawdzić aktualizacji", ekError);
      view_.ShowMessage("Nie udało się połączyć z serwerem aktualizacji.", UpdateBoxIcon::Error);
      return;
    }
    // The description counts only with the release key's signature over its
    // exact bytes; nothing in it is read before that.
    const std::string signature = system_.ReadFile(signaturePath, kUpdateSignatureLimit).value_or("");
    system_.DeleteFile(signaturePath);
    const std::string description = system_.ReadFile(ini, kUpdateIniLimit).value_or("");
    if (!system_.VerifySignature(description, signature)) return Reject();
    const UpdateDescription update = ReadUpdateDescription(description);
    // A genuine description may still be an old one served again.
    if (const std::string stale = Staleness(update); !stale.empty()) return Reject(stale);
    if (*update.serial > system_.AcceptedSerial()) system_.SetAcceptedSerial(*update.serial);

    if (update.version <= kUpdateVersion) {
      view_.ShowMessage(kNoNewer, UpdateBoxIcon::Information);
      system_.DeleteFile(ini);
      return;
    }
    // Without both hashes the downloads could not be checked, without both
    // sizes they could not be bounded: not worth asking.
    if (update.packageSha256.empty() || update.updaterSha256.empty()) return Reject();
    if (!update.packageSize || !update.updaterSize) {
      return Reject("opis nie podaje rozmiarów plików (PackageSize, UpdaterSize)");
    }
    const bool accepted = view_.Ask(kQuestion);
    if (view_.ClosePending()) return DiscardFiles();
    if (!accepted) return;  // Update.ini stays until the next check

    view_.LogEvent("Pobieranie aktualizacji", ekInfo);
    if (!Download(UpdateFetch::Package, update.url, kUpdatePackageName, *update.packageSize, update.packageSha256)) {
      return;
    }
    view_.LogEvent("Pobieranie narzędzia aktualizacji", ekInfo);
    if (!Download(UpdateFetch::Updater, source_.baseAddress + kUpdaterName, kUpdaterName, *update.updaterSize,
                  update.updaterSha256)) {
      return;
    }

    view_.LogEvent("Uruchamianie narzędzia aktualizacji", ekInfo);
    system_.DeleteFile(ini);
    view_.LogEvent("Proszę czekać...", ekInfo);
    if (!system_.StartUpdater(Path(kUpdaterName), source_.folder)) {
      // Nothing is ended: the program goes on as after a declined update.
      DiscardFiles();
      view_.LogEvent("Błąd: Nie udało się uruchomić aktualizacji", ekError);
      view_.ShowMessage("Nie udało się uruchomić programu aktualizującego.", UpdateBoxIcon::Error);
      return;
    }
    view_.ClearCloseHandler();
    system_.EndInstances();  // ends this process too when it works
  }

 private:
  std::string Path(const char* name) const { return source_.folder + name; }

  bool Fetch(const UpdateFetchRequest& request, const FetchProgress& progress = {}) {
    return system_.Fetch(request, progress) && !view_.ClosePending();
  }

  // Why a signed description does not count now; empty when it does.
  std::string Staleness(const UpdateDescription& update) {
    if (!update.expires) return "opis nie ma daty ważności (Expires)";
    if (!update.serial) return "opis nie ma numeru (Serial)";
    if (system_.TodayUtc() > *update.expires) return "opis stracił ważność " + IsoDate(*update.expires);
    const uint32_t accepted = system_.AcceptedSerial();
    if (*update.serial < accepted) {
      return "numer opisu " + std::to_string(*update.serial) + " jest niższy niż przyjęty wcześniej " +
             std::to_string(accepted);
    }
    return {};
  }

  static std::string IsoDate(const CivilDate& d) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    return text;
  }

  // One of the two downloads, its progress shown as a counter in the entry
  // just added; false (with everything of the check deleted) when it did not
  // arrive whole at its signed size, or its hash is not the signed one. It
  // may come from a cache: the hash tells.
  bool Download(UpdateFetch what, const std::string& url, const char* name, int64_t size, const std::string& sha256) {
    const std::string label =
        what == UpdateFetch::Package ? "Pobieranie aktualizacji (" : "Pobieranie narzędzia aktualizacji (";
    const std::string separator = view_.DecimalSeparator();
    const FetchProgress progress = [&](int64_t total, int64_t received) {
      view_.RewriteNewestEntry(label + FormatSize(received, separator) + " / " + FormatSize(total, separator) + ")");
    };
    if (!Fetch({what, url, Path(name), true, size, true}, progress)) {
      // Cut short, refused or cancelled by a close: nothing of this check stays.
      DiscardFiles();
      if (!view_.ClosePending()) view_.LogEvent("Błąd: Nie udało się pobrać aktualizacji", ekError);
      return false;
    }
    if (system_.Sha256OfFile(Path(name)) != sha256) {
      Reject();
      return false;
    }
    return true;
  }

  void DiscardFiles() {
    for (const char* name : {kUpdateIniName, kUpdateSignatureName, kUpdatePackageName, kUpdaterName}) {
      system_.DeleteFile(Path(name));
    }
  }

  // `why`, when given, follows the entry after a colon.
  void Reject(const std::string& why = {}) {
    DiscardFiles();
    view_.LogEvent(std::string("Błąd: Aktualizacja nie ma ważnego podpisu") + (why.empty() ? "" : ": " + why), ekError);
    view_.ShowMessage(kNotVerified, UpdateBoxIcon::Error);
  }

  const UpdateSource& source_;
  IUpdateView& view_;
  IUpdateSystem& system_;
};

}  // namespace

void RunUpdateCheck(const UpdateSource& source, IUpdateView& view, IUpdateSystem& system) {
  UpdateCheck(source, view, system).Run();
}

}  // namespace sk
