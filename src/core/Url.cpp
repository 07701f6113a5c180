#include "core/Url.h"

#include <cctype>

namespace sk {

UrlParts SplitUrl(std::string_view url) {
  constexpr std::string_view kPrefix = "http://";
  if (url.size() >= kPrefix.size()) {
    bool prefixed = true;
    for (size_t i = 0; i < kPrefix.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(url[i])) != kPrefix[i]) {
        prefixed = false;
        break;
      }
    }
    if (prefixed) url.remove_prefix(kPrefix.size());
  }
  const size_t slash = url.find('/');
  if (slash == std::string_view::npos) return {"", std::string(url)};
  return {std::string(url.substr(0, slash)), std::string(url.substr(slash))};
}

}  // namespace sk
