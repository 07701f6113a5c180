// Entry of the test programs that run under Wine.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/SettingsKey.h"
#include "ui/Application.h"
#include "win/Utf.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(sk::win::Narrow(argv[i]));
  std::vector<char*> ptrs;
  for (auto& a : args) ptrs.push_back(a.data());
  int n = argc;
  testing::InitGoogleTest(&n, ptrs.data());
  // The program's settings key is as the test program found it when it ends.
  struct KeepSettingsKey : testing::Environment {
    std::unique_ptr<sk::test::SettingsKeyBackup> backup;
    void SetUp() override { backup = std::make_unique<sk::test::SettingsKeyBackup>(); }
    void TearDown() override { backup.reset(); }
  };
  testing::AddGlobalTestEnvironment(new KeepSettingsKey);
  OleInitialize(nullptr);
  sk::ui::InitControls();
  const int rc = RUN_ALL_TESTS();
  OleUninitialize();
  return rc;
}
