// The user's guide ("Podręcznik"): a page built into the program (its
// pictures inlined), written to the user's temporary folder and shown in the
// system's browser. F1 in any window of the program and the menu item
// "Podręcznik" open it; it needs no network.
#pragma once
#include <windows.h>

#include <string>

namespace sk::ui {

// The guide's page as built into the program (UTF-8); empty when the
// program was built without it.
std::string GuidePage();

// Where the guide is written: <temporary folder>\Sektorian\Podręcznik.html.
std::string GuidePath();

// Writes the page to GuidePath() and asks the shell to open it, owner
// `owner`. It never waits for the browser, so a run goes on. A failure is
// reported: during a run as an entry of the main window's log (a box would
// hold the run), otherwise in the program's error box.
void OpenGuide(HWND owner);

// The text of a failure, before ": " and the reason.
inline constexpr const char* kGuideFailure = "Nie udało się otworzyć podręcznika";

}  // namespace sk::ui
