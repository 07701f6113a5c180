#include <gtest/gtest.h>

#include "support/UiTest.h"
#include "ui/MainForm.h"

namespace sk::ui {
namespace {

TEST(MainWindow, FrameAndBoxesAsDesigned) {
  TForm1 form;
  form.Create();
  ShowWindow(form.hwnd(), SW_SHOWNORMAL);
  test::Flush();
  EXPECT_EQ(test::WindowText(form.hwnd()), "Sektorian 1.1.0 (2008-02-03)");
  RECT client{};
  GetClientRect(form.hwnd(), &client);
  EXPECT_EQ(client.right, Dpi(680));
  EXPECT_EQ(client.bottom, Dpi(497));
  const LONG style = GetWindowLongW(form.hwnd(), GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_EQ(form.Text("GroupBox3"), " Lista plików ");
  EXPECT_EQ(form.Text("GroupBox4"), " Status kopiowania ");
  RECT box{};
  GetWindowRect(form.Control("GroupBox4"), &box);
  MapWindowPoints(nullptr, form.hwnd(), reinterpret_cast<POINT*>(&box), 2);
  EXPECT_EQ(box.left, Dpi(4));
  EXPECT_EQ(box.top, Dpi(288));
  EXPECT_EQ(box.right - box.left, Dpi(669));
  EXPECT_EQ(box.bottom - box.top, Dpi(201));
}

TEST(MainWindow, AboutBoxTextByteForByte) {
  TForm1 form;
  form.Create();
  test::MessageBoxAnswerer box;
  form.Oprogramie1Click();
  ASSERT_TRUE(box.Answered());
  EXPECT_EQ(box.Caption(), "O programie");
  EXPECT_EQ(box.Text(),
            "             ::... Sektorian ...::\r\rWersja programu.............: 1.1.0\r"
            "Data wydania.................: 03.02.2008");
}

}  // namespace
}  // namespace sk::ui
