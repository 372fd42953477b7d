// The 1-based positions of the items of a collection, by entry id, kept right while items are
// removed from it (each removal moves the items after it up by one). Lookups and removals take
// O(log n). One thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace sx::assist {

class PositionIndex {
 public:
  // Starts over with the ids in collection order (an id given twice keeps its first position).
  void assign(const std::vector<std::u16string>& ids_in_order);
  void clear();
  bool empty() const { return slots_.empty(); }
  // The current 1-based position of `id`, or nothing when it is unknown or removed.
  std::optional<std::int32_t> position(const std::u16string& id) const;
  // Forgets `id`; the items after it move up by one.
  void remove(const std::u16string& id);

 private:
  void add(std::size_t slot, int delta);
  std::int32_t prefix(std::size_t slot) const;  // live slots 0..slot

  std::unordered_map<std::u16string, std::size_t> slots_;
  std::vector<std::int32_t> tree_;  // Fenwick tree of live marks over the original slots
};

}  // namespace sx::assist
