// What the damage hit: each listed entry's state from the image's map, the
// list as the user saves it, and who owns the disc's bytes.
#include <algorithm>

#include "core/DiscImage.h"
#include "core/ImageExtents.h"
#include "core/Text.h"

namespace sk {

using image::EachStatus;
using image::EndOf;
using image::NotTried;
using image::OnDisc;

const char* ConditionName(FileCondition condition) {
  switch (condition) {
    case FileCondition::kWhole: return "Cały";
    case FileCondition::kDamaged: return "Uszkodzony";
    case FileCondition::kUnread: return "Nieodczytany";
  }
  return "";
}

EntryState StateOf(const DiscEntry& entry, const RescueMap& map) {
  EntryState state;
  if (entry.unknown) {
    state.condition = FileCondition::kDamaged;
    return state;
  }
  bool failed = false;  // a failed read lies in the file ('*' or '/')
  for (const DiscExtent& x : entry.extents) {
    if (x.size <= 0 || x.pos == DiscExtent::kZeros) continue;
    if (x.pos == DiscExtent::kUnknown) {
      // Not known where: not read, and a failed read lies behind it.
      state.notRead += x.size;
      failed = true;
      continue;
    }
    if (x.pos < 0) {
      state.unreadable += x.size;
      continue;
    }
    EachStatus(map, x.pos, EndOf(x), [&](int64_t p, int64_t e, char status) {
      if (status == kBadSector) state.unreadable += e - p;
      if (NotTried(status)) state.notRead += e - p;
      if (status == kNonTrimmed || status == kNonScraped) failed = true;
    });
  }
  state.condition = state.unreadable > 0 || failed ? FileCondition::kDamaged
                    : state.notRead > 0            ? FileCondition::kUnread
                                                   : FileCondition::kWhole;
  return state;
}

std::string FileListText(const DiscTree& tree, const RescueMap& map) {
  std::string text = "Ścieżka\tRozmiar\tNieczytelne\tNie odczytano\tStan\r\n";
  if (tree.format == DiscFormat::kNone) return text + "Nie rozpoznano systemu plików\r\n";
  for (const DiscEntry& entry : tree.entries) {
    const EntryState state = StateOf(entry, map);
    text += entry.path + '\t' + std::to_string(entry.size) + '\t' + std::to_string(state.unreadable) + '\t' +
            std::to_string(state.notRead) + '\t' + ConditionName(state.condition) + "\r\n";
  }
  if (const int64_t outside = DamageOutsideFiles(tree, map); outside > 0)
    text += "(poza plikami)\t0\t" + std::to_string(outside) + "\t0\tUszkodzenie poza plikami\r\n";
  return text;
}

int64_t DamageOutsideFiles(const DiscTree& tree, const RescueMap& map) {
  if (map.Total(kBadSector) == 0) return 0;
  // Everything the disc's files and file system hold, sorted and merged.
  std::vector<std::pair<int64_t, int64_t>> held;
  for (const DiscExtent& x : tree.system)
    if (OnDisc(x)) held.emplace_back(x.pos, EndOf(x));
  for (const DiscEntry& e : tree.entries)
    for (const DiscExtent& x : e.extents)
      if (OnDisc(x)) held.emplace_back(x.pos, EndOf(x));
  const std::vector<std::pair<int64_t, int64_t>> merged = MergeRanges(std::move(held));
  int64_t outside = 0;
  for (auto a = map.NextArea(0, kBadSector); a; a = map.NextArea(a->end(), kBadSector)) {
    int64_t covered = 0;
    auto it = std::partition_point(merged.begin(), merged.end(), [&](const auto& m) { return m.second <= a->pos; });
    for (; it != merged.end() && it->first < a->end(); ++it)
      covered += std::min(it->second, a->end()) - std::max(it->first, a->pos);
    outside += a->size - covered;
  }
  return outside;
}

ConditionTotals TotalsOf(const DiscTree& tree, const RescueMap& map) {
  ConditionTotals totals;
  for (const DiscEntry& entry : tree.entries) {
    switch (StateOf(entry, map).condition) {
      case FileCondition::kWhole: ++totals.whole; break;
      case FileCondition::kDamaged: ++totals.damaged; break;
      case FileCondition::kUnread: ++totals.unread; break;
    }
  }
  totals.outsideFiles = DamageOutsideFiles(tree, map);
  return totals;
}

DiscOwners::DiscOwners(const DiscTree& tree) : system_(tree.system) {
  for (size_t i = 0; i < tree.entries.size(); ++i) {
    names_.push_back(FileNamePart(tree.entries[i].path));
    for (const DiscExtent& x : tree.entries[i].extents)
      if (OnDisc(x)) pieces_.push_back({x.pos, EndOf(x), i});
  }
  std::sort(pieces_.begin(), pieces_.end(), [](const Piece& a, const Piece& b) { return a.pos < b.pos; });
  int64_t reach = 0;
  for (const Piece& p : pieces_) reach_.push_back(reach = std::max(reach, p.end));
  std::sort(system_.begin(), system_.end(), [](const DiscExtent& a, const DiscExtent& b) { return a.pos < b.pos; });
}

std::vector<size_t> DiscOwners::Owners(int64_t pos, int64_t end) const {
  // Pieces that begin before `end` and whose reach goes past `pos`: the
  // reach only grows, so both bounds are binary searches.
  const size_t last = static_cast<size_t>(
      std::lower_bound(pieces_.begin(), pieces_.end(), end, [](const Piece& p, int64_t v) { return p.pos < v; }) -
      pieces_.begin());
  size_t first = static_cast<size_t>(std::upper_bound(reach_.begin(), reach_.end(), pos) - reach_.begin());
  std::vector<size_t> owners;
  for (size_t k = first; k < last; ++k)
    if (pieces_[k].end > pos) owners.push_back(pieces_[k].entry);
  std::sort(owners.begin(), owners.end());
  owners.erase(std::unique(owners.begin(), owners.end()), owners.end());
  return owners;
}

bool DiscOwners::HoldsSystem(int64_t pos, int64_t end) const {
  for (auto it = std::lower_bound(system_.begin(), system_.end(), end,
                                  [](const DiscExtent& x, int64_t v) { return x.pos < v; });
       it != system_.begin();) {
    --it;
    if (EndOf(*it) > pos) return true;
    // The system's extents are merged: the one before ends earlier still.
    if (it->pos < pos) return false;
  }
  return false;
}

std::string DiscOwners::Describe(int64_t pos, int64_t end) const {
  std::vector<std::string> parts;
  if (HoldsSystem(pos, end)) parts.push_back("system plików");
  const std::vector<size_t> owners = Owners(pos, end);
  for (size_t k = 0; k < owners.size() && k < 3; ++k) parts.push_back(names_[owners[k]]);
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  if (owners.size() > 3) text += " i " + std::to_string(owners.size() - 3) + " innych";
  return text;
}

std::vector<DiscExtent> ChosenExtents(const DiscTree& tree, const std::vector<size_t>& entries) {
  std::vector<DiscExtent> all;
  for (const size_t i : entries)
    if (i < tree.entries.size())
      for (const DiscExtent& x : tree.entries[i].extents)
        if (OnDisc(x)) all.push_back({x.pos, EndOf(x) - x.pos});
  std::sort(all.begin(), all.end(), [](const DiscExtent& a, const DiscExtent& b) { return a.pos < b.pos; });
  std::vector<DiscExtent> merged;
  for (const DiscExtent& x : all) {
    if (!merged.empty() && x.pos <= EndOf(merged.back()))
      merged.back().size = std::max(EndOf(merged.back()), EndOf(x)) - merged.back().pos;
    else
      merged.push_back(x);
  }
  return merged;
}

}  // namespace sk
