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

}  // namespace sk
