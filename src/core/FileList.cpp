#include "core/FileList.h"

#include "core/Text.h"

namespace sk {

std::string FileInfoTip(const std::string& caption, const std::string& sizeText) {
  static const std::string kBreak = "\n\r";
  return "Nazwa pliku: " + FileNamePart(caption) + kBreak + "Folder: " + FolderPart(caption) + kBreak +
         "Rozmiar: " + sizeText;
}

uint32_t FileListRowColour(int index) { return index % 2 ? 0xF0F8FBu : 0xFFFFFFu; }

std::vector<std::string> ChosenFilePaths(const std::vector<std::string>& parts) {
  if (parts.size() <= 1) return parts;
  std::string folder = parts.front();
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  std::vector<std::string> paths;
  for (size_t i = 1; i < parts.size(); ++i) paths.push_back(folder + parts[i]);
  return paths;
}

}  // namespace sk
