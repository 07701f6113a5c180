// Splitting an http address into the host name and the object path that the
// connection and the request are opened with.
#pragma once
#include <string>
#include <string_view>

namespace sk {

struct UrlParts {
  std::string host;  // handed to the connection as it stands (a ":port" stays part of it)
  std::string path;  // begins with "/" and keeps any query part
};

// Drops a leading "http://" (any letter case), then cuts at the first "/".
// With no "/" after the host the host comes out empty and the path is the
// whole remainder.
UrlParts SplitUrl(std::string_view url);

}  // namespace sk
