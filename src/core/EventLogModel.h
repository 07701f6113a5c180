// The event log's entries, as the main window shows them: added at the end,
// never removed, and only the newest one ever rewritten.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "core/EventLog.h"

namespace sk {

class EventLogModel {
 public:
  struct Entry {
    std::string text;  // UTF-8
    int kind;          // EventKind; other values draw no icon and no colour
  };

  void Add(std::string text, int kind);
  // Set the newest entry's text (its kind stays); nothing when the log is empty.
  void RewriteNewest(std::string text);

  size_t Count() const { return entries_.size(); }
  const Entry& At(size_t index) const { return entries_[index]; }
  const Entry& Newest() const { return entries_.back(); }

  // Grows with every change; a view compares it with the one it showed last.
  uint64_t Revision() const { return revision_; }

 private:
  // A deque grows without copying what it holds: no spikes of memory however
  // many entries accumulate.
  std::deque<Entry> entries_;
  uint64_t revision_ = 0;
};

// The name of an entry kind in a saved log: "Błąd", "Sukces" or "Info".
const char* EventKindName(int kind);
// One entry as a line of a saved log or of the clipboard: "[kind] text" or
// the bare text, with any line break inside the text made a space.
std::string EventLogLine(const EventLogModel::Entry& entry, bool withKind);
// The whole log as a text file: UTF-8 with a byte-order mark, one entry a
// line as "[kind] text", each line ended by CR LF.
std::string EventLogFileText(const EventLogModel& log);

}  // namespace sk
