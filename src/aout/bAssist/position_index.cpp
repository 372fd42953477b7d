#include "position_index.h"

namespace sx::assist {

void PositionIndex::assign(const std::vector<std::u16string>& ids_in_order) {
  clear();
  tree_.assign(ids_in_order.size() + 1, 0);
  for (std::size_t slot = 0; slot < ids_in_order.size(); ++slot) {
    // Every slot counts as a position, so positions match the collection's own even for an id
    // that appears twice; only the first of such ids can be looked up.
    slots_.try_emplace(ids_in_order[slot], slot);
    add(slot, 1);
  }
}

void PositionIndex::clear() {
  slots_.clear();
  tree_.clear();
}

std::optional<std::int32_t> PositionIndex::position(const std::u16string& id) const {
  const auto it = slots_.find(id);
  if (it == slots_.end()) return std::nullopt;
  return prefix(it->second);
}

void PositionIndex::remove(const std::u16string& id) {
  const auto it = slots_.find(id);
  if (it == slots_.end()) return;
  add(it->second, -1);
  slots_.erase(it);
}

void PositionIndex::add(std::size_t slot, int delta) {
  for (std::size_t i = slot + 1; i < tree_.size(); i += i & (~i + 1)) tree_[i] += delta;
}

std::int32_t PositionIndex::prefix(std::size_t slot) const {
  std::int32_t sum = 0;
  for (std::size_t i = slot + 1; i > 0; i -= i & (~i + 1)) sum += tree_[i];
  return sum;
}

}  // namespace sx::assist
