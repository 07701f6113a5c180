// The program itself (its start-up, message loop, close and end) with an
// update check started from its menu at once, against a test server. The test
// of a close that never waits for the network runs it as a process of its own
// and closes its main window during a fetch the server holds. The question,
// when the check gets that far, is answered Yes; the settings dialog's level
// is set to 3, so that the test sees the close save the settings.
//   update_close_app BASE-ADDRESS UPDATE-FOLDER PUBLIC-KEY-HEX
// (the folder without its final backslash, which would quote the quote).
#include <windows.h>

#include <string>

#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const std::string base = sk::win::Narrow(argv[1]), folder = sk::win::Narrow(argv[2]) + "\\";
  const std::string hex = sk::win::Narrow(argv[3]);
  std::string key;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) key.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  sk::test::MessageBoxAnswerer yes(IDYES, 60000);
  return sk::ui::RunApplication([&] {
    using sk::ui::App;
    sk::ui::TForm1& main = *App().form1;
    main.SetUpdateBaseAddress(base);
    main.SetUpdateFolder(folder);
    main.SetUpdatePublicKey(key);
    App().form2->SetLevel(3);
    PostMessageW(main.hwnd(), WM_COMMAND, MAKEWPARAM(main.ControlId("Aktualizacjaprogramu1"), 0), 0);
  });
}
