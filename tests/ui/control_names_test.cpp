// Every control name the windows' code spells out is one its form has: a
// misspelt name would make the call act on nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "support/ErrorReports.h"
#include "support/UiTest.h"
#include "ui/MainForm.h"
#include "ui/ImageForm.h"
#include "ui/MapForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"

namespace sk::ui {
namespace {


// The window code's sources: Wine sees the build machine's root as drive Z:.
const std::string kSources = "Z:" SEKTORIAN_SOURCE_DIR "/src/ui/";

// The names in the source files matching `pattern`: string literals shaped
// like the design tables' names (a capital, letters, a number: "Button7",
// "Narzdzia1"), leaving out the forms' class names and key names ("F1").
std::set<std::string> NamesIn(const std::string& pattern) {
  std::set<std::string> names;
  WIN32_FIND_DATAA found{};
  HANDLE find = FindFirstFileA((kSources + pattern).c_str(), &found);
  EXPECT_NE(find, INVALID_HANDLE_VALUE) << pattern;
  if (find == INVALID_HANDLE_VALUE) return names;
  static const std::regex literal("\"([A-Z][A-Za-z]+[0-9]+)\"");
  do {
    std::ifstream in(kSources + found.cFileName);
    std::stringstream text;
    text << in.rdbuf();
    const std::string source = text.str();
    for (std::sregex_iterator it(source.begin(), source.end(), literal), end; it != end; ++it)
      if ((*it)[1].str().rfind("TForm", 0) != 0) names.insert((*it)[1].str());
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return names;
}

TEST(ControlNames, EveryNameTheCodeUsesIsOneOfItsForm) {
  // The main window made before its settings dialog cannot read its settings.
  test::ErrorReports reports{"the settings dialog does not exist."};
  TForm1 main;
  main.Create();
  TForm2 settings(main);
  settings.Create();
  TForm3 resume;
  resume.Create();
  TForm4 map;
  map.Create();
  TForm5 image;
  image.Create();
  const std::pair<const Window*, const char*> forms[] = {{&main, "MainForm*.cpp"},
                                                         {&settings, "SettingsForm.cpp"},
                                                         {&resume, "ResumeForm.cpp"},
                                                         {&map, "MapForm.cpp"},
                                                         {&image, "ImageForm.cpp"}};
  for (const auto& [form, files] : forms) {
    const std::set<std::string> names = NamesIn(files);
    EXPECT_GT(names.size(), 10u) << files;
    for (const std::string& name : names) {
      if (form->Has(name)) continue;
      // The main window's top menus have names of their own.
      EXPECT_TRUE(form == &main) << name << " in " << files;
      EXPECT_NO_THROW(main.TopMenuEnabled(name)) << name << " in " << files;
    }
  }
  // And a name a form does not have is a loud mistake, not a call on nothing.
  EXPECT_THROW(main.Control("Buton7"), std::logic_error);
  EXPECT_THROW(main.EnableTopMenu("Plik2", false), std::logic_error);
}

}  // namespace
}  // namespace sk::ui
