// Kinds of event-log entries; the value is the entry's image index.
#pragma once

namespace sk {

enum EventKind : int {
  ekError = 0,
  ekSuccess = 1,
  ekInfo = 2,
};

}  // namespace sk
