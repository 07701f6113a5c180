#include "core/EventLogModel.h"

#include <utility>

namespace sk {

void EventLogModel::Add(std::string text, int kind) {
  entries_.push_back({std::move(text), kind});
  ++revision_;
}

void EventLogModel::RewriteNewest(std::string text) {
  if (entries_.empty()) return;
  entries_.back().text = std::move(text);
  ++revision_;
}

const char* EventKindName(int kind) {
  switch (kind) {
    case ekError: return "Błąd";
    case ekSuccess: return "Sukces";
    default: return "Info";
  }
}

std::string EventLogLine(const EventLogModel::Entry& entry, bool withKind) {
  std::string line;
  if (withKind) line = std::string("[") + EventKindName(entry.kind) + "] ";
  line.reserve(line.size() + entry.text.size());
  for (char c : entry.text) line += (c == '\r' || c == '\n') ? ' ' : c;
  return line;
}

std::string EventLogFileText(const EventLogModel& log) {
  std::string text = "\xEF\xBB\xBF";
  for (size_t i = 0; i < log.Count(); ++i) text += EventLogLine(log.At(i), true) + "\r\n";
  return text;
}

}  // namespace sk
