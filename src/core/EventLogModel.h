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

}  // namespace sk
