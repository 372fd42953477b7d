// The in-memory state of one store: its folders and items as the records of its file built them,
// with per-folder item order and property indexes for Find and Restrict.
//
// Not thread-safe: the Store that owns it serialises access.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "sx/outlook/filter.h"
#include "sx/outlook/store_data.h"

namespace sx::outlook {

struct StoredItem {
  std::uint64_t id = 0;
  std::uint32_t folder = 0;
  std::uint64_t seq = 0;  // position key inside the folder: items keep the order they arrived in
  std::shared_ptr<const ItemData> data;
  // This version was written by this Outlook itself (through the Store that holds the model, not
  // for a call from another program), not read from another process's write. An open item uses it
  // to tell a change of its own Outlook from someone else's.
  bool written_here = false;
};

// A key of a property index: numbers (kind 1) before texts (kind 2, folded).
struct IndexKey {
  int kind = 0;
  double number = 0;
  std::string text;
  friend bool operator<(const IndexKey& a, const IndexKey& b) {
    return std::tie(a.kind, a.number, a.text) < std::tie(b.kind, b.number, b.text);
  }
  friend bool operator==(const IndexKey& a, const IndexKey& b) {
    return a.kind == b.kind && a.number == b.number && a.text == b.text;
  }
};

struct FolderState {
  FolderRecord record;
  std::vector<std::uint32_t> children;                         // in creation order
  std::vector<std::pair<std::uint64_t, std::uint64_t>> order;  // (seq, item id), ascending seq
  // Lazily built indexes by folded property name: (key, seq, id).
  mutable std::map<std::string, std::set<std::tuple<IndexKey, std::uint64_t, std::uint64_t>>>
      indexes;
};

class StoreModel {
 public:
  // Applies one record read from the file or about to be written. False with a reason when it does
  // not fit the state (a second header, an item in an unknown folder, ...); the state is then
  // unchanged.
  [[nodiscard]] bool apply(Record&& record, std::string* why);

  bool has_header() const { return has_header_; }
  std::uint32_t version() const { return version_; }  // of the file header; 0 before it
  const StoreId& store_id() const { return store_id_; }
  const FolderState* folder(std::uint32_t id) const;
  const StoredItem* item(std::uint64_t id) const;
  // Marks the item's current version as written by this Outlook (StoredItem::written_here).
  void mark_written_here(std::uint64_t id);
  const FolderState* root() const { return folder(format::kRootFolderId); }
  std::uint32_t next_folder_id() const { return last_folder_id_ + 1; }
  std::uint64_t next_item_id() const { return last_item_id_ + 1; }
  std::size_t item_count() const { return items_.size(); }
  // Records applied since the state was built, and how many of them are still live (one per
  // folder and item, plus the header): the rest is what compaction would drop.
  std::uint64_t applied_records() const { return applied_; }
  std::uint64_t live_records() const { return 1 + folders_.size() + items_.size(); }

  // 1-based position of an item in its folder; 0 when not there.
  std::size_t position(std::uint32_t folder, std::uint64_t id) const;
  // The first item of `folder` (in folder order) after sequence `after_seq` that matches; nothing
  // when none does. Uses (and keeps) an index on the first condition's property.
  std::optional<std::uint64_t> find(std::uint32_t folder, const Filter& filter,
                                    std::uint64_t after_seq = 0) const;
  // Every matching item in folder order.
  std::vector<std::uint64_t> restrict(std::uint32_t folder, const Filter& filter) const;

  // The records that rebuild this state in the current format: header, file length (0: the writer
  // fills it in), folders (parents first), items in folder order.
  std::vector<Record> snapshot() const;

 private:
  void index_insert(const FolderState& f, const StoredItem& item) const;
  void index_erase(const FolderState& f, const StoredItem& item) const;
  void remove_from_folder(const StoredItem& item);
  void delete_folder_tree(std::uint32_t id);

  bool has_header_ = false;
  std::uint32_t version_ = 0;
  StoreId store_id_{};
  std::unordered_map<std::uint32_t, FolderState> folders_;
  std::unordered_map<std::uint64_t, StoredItem> items_;
  std::uint32_t last_folder_id_ = 0;
  std::uint64_t last_item_id_ = 0;
  std::uint64_t last_seq_ = 0;
  std::uint64_t applied_ = 0;
};

}  // namespace sx::outlook
