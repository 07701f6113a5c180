// Small text helpers shared by the windows and the copy loops.
#pragma once
#include <string>
#include <string_view>

namespace sk {

// The file-name part of a Windows path: the text after its last '\' or ':'.
std::string FileNamePart(std::string_view path);

// The folder part: everything up to and including the last '\' or ':'.
std::string FolderPart(std::string_view path);

// A folder's path ending in a separator (an empty path stays empty).
std::string WithSlash(std::string folder);

// ASCII letters in lower case, every other byte as it is: a name key where
// the system's own comparison is not at hand.
std::string LowerAscii(std::string text);

// The program's version, as shown and as compared in the update check.
inline constexpr const char* kVersionText = "1.1.0";
inline constexpr int kUpdateVersion = 110;

}  // namespace sk

namespace sk {

// The text of the application-wide error box: a "." is appended when the text
// is not empty and its last character's code is greater than that of ".".
std::string ErrorReportText(const std::string& message);

}  // namespace sk
