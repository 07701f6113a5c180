// UTF-8 inside the program, UTF-16 at the Windows boundary.
#pragma once
#include <string>
#include <string_view>

namespace sk::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The text of a Windows error code as the program reports file errors:
// 2 "File not found", 3 "Invalid filename", 4 "Too many open files",
// 5 "File access denied", otherwise "I/O error N".
std::string FileErrorText(unsigned long code);

// The text with its letters in upper case as Windows compares file names
// (without regard to the user's language).
std::string UpperCase(std::string_view utf8);

// The full path of the running executable, and its folder with a trailing '\'.
std::string ExecutablePath();
std::string ExecutableFolder();

}  // namespace sk::win

namespace sk::win {
// The decimal separator of the user's regional settings ("," under Polish ones).
std::string DecimalSeparator();
}  // namespace sk::win
