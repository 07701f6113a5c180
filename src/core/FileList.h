// Texts and colours of the main window's file list.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sk {

// The tooltip of a list item: "Nazwa pliku: " name, "Folder: " folder and
// "Rozmiar: " size text, the lines separated by LF CR (in that order).
std::string FileInfoTip(const std::string& caption, const std::string& sizeText);

// Background of the row with zero-based index `index` (0x00BBGGRR): white for
// even rows, cream RGB(251, 248, 240) for odd ones.
uint32_t FileListRowColour(int index);

// The full paths chosen in a multiple-selection open dialog, from the parts it
// returns: one part is a full path; more are the folder followed by names.
std::vector<std::string> ChosenFilePaths(const std::vector<std::string>& parts);

}  // namespace sk
