#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

#include "support/UiTest.h"
#include "ui/MainForm.h"

namespace sk::ui {
namespace {

// Where each control of the main window stands, in client coordinates at 96
// DPI: the boxes' offsets added to the positions given relative to them.
struct Placed {
  const char* name;
  int x, y, w, h;
};
constexpr Placed kLayout[] = {
    {"GroupBox3", 4, 4, 669, 277},     {"ListView1", 12, 20, 653, 145},   {"Button1", 12, 168, 209, 21},
    {"Button2", 236, 168, 209, 21},    {"Button8", 456, 168, 209, 21},    {"Button3", 12, 192, 325, 21},
    {"Button4", 340, 192, 325, 21},    {"GroupBox1", 12, 220, 653, 49},   {"Edit1", 20, 240, 613, 21},
    {"Button5", 636, 240, 21, 21},     {"GroupBox4", 4, 288, 669, 201},   {"Label3", 76, 304, 209, 13},
    {"Label5", 80, 320, 205, 13},      {"Label7", 100, 348, 185, 13},     {"Label9", 92, 364, 193, 13},
    {"ProgressBar1", 20, 384, 265, 17}, {"ProgressBar2", 20, 432, 265, 17}, {"Button65", 20, 460, 81, 21},
    {"Button7", 204, 460, 81, 21},     {"GroupBox2", 296, 300, 369, 181},
};

// The client area as a 24-bit bitmap file, for a person to compare with the
// design (written beside the test program, never committed).
void SaveClientBitmap(HWND window, const char* path) {
  RECT r{};
  GetClientRect(window, &r);
  const int w = r.right, h = r.bottom;
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info{sizeof info, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  const int stride = (w * 3 + 3) & ~3;
  std::string pixels(static_cast<size_t>(stride) * h, '\0');
  GetDIBits(memory, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof info + pixels.size()), 0, 0,
                        sizeof(BITMAPFILEHEADER) + sizeof info};
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, screen);
}

TEST(MainWindow, EveryControlWhereTheDesignPutsIt) {
  TForm1 form;
  form.Create();
  ShowWindow(form.hwnd(), SW_SHOWNORMAL);
  test::Flush();
  for (const auto& p : kLayout) {
    SCOPED_TRACE(p.name);
    HWND h = form.Control(p.name);
    ASSERT_NE(h, nullptr);
    RECT r{};
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, form.hwnd(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, Dpi(p.x));
    EXPECT_EQ(r.top, Dpi(p.y));
    EXPECT_EQ(r.right - r.left, Dpi(p.w));
    EXPECT_EQ(r.bottom - r.top, Dpi(p.h));
  }
  SaveClientBitmap(form.hwnd(), "main_window.bmp");
}

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
