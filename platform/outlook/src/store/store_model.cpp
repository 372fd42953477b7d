#include "sx/outlook/store_model.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>

namespace sx::outlook {

namespace {

using Entry = std::tuple<IndexKey, std::uint64_t, std::uint64_t>;

bool is_numeric(const Value& v) {
  return v.tag == Value::Tag::kNumber || v.tag == Value::Tag::kDate || v.tag == Value::Tag::kBool ||
         v.tag == Value::Tag::kInt;
}

// The keys under which a value is indexed (see the probe rules in probe_keys).
std::vector<IndexKey> value_keys(const Value* v) {
  std::vector<IndexKey> keys;
  if (v == nullptr || v->empty()) return keys;
  if (is_numeric(*v)) {
    keys.push_back({1, v->number, {}});
  } else {
    keys.push_back({2, 0, fold_case(v->text)});
    if (auto n = read_number(v->text)) keys.push_back({1, *n, {}});
  }
  return keys;
}

// The keys to look up for a literal: every item that matches it has one of them.
std::vector<IndexKey> probe_keys(const Value& literal) {
  std::vector<IndexKey> keys;
  if (literal.tag == Value::Tag::kText) {
    keys.push_back({2, 0, fold_case(literal.text)});
    if (auto n = read_number(literal.text)) keys.push_back({1, *n, {}});
  } else {
    keys.push_back({1, literal.number, {}});
  }
  return keys;
}

}  // namespace

const FolderState* StoreModel::folder(std::uint32_t id) const {
  auto it = folders_.find(id);
  return it == folders_.end() ? nullptr : &it->second;
}

const StoredItem* StoreModel::item(std::uint64_t id) const {
  auto it = items_.find(id);
  return it == items_.end() ? nullptr : &it->second;
}

void StoreModel::mark_written_here(std::uint64_t id) {
  if (auto it = items_.find(id); it != items_.end()) it->second.written_here = true;
}

void StoreModel::index_insert(const FolderState& f, const StoredItem& item) const {
  for (auto& [name, index] : f.indexes)
    for (auto& key : value_keys(item.data->find_any(name))) index.emplace(key, item.seq, item.id);
}

void StoreModel::index_erase(const FolderState& f, const StoredItem& item) const {
  for (auto& [name, index] : f.indexes)
    for (auto& key : value_keys(item.data->find_any(name)))
      index.erase(Entry(key, item.seq, item.id));
}

void StoreModel::remove_from_folder(const StoredItem& item) {
  auto fit = folders_.find(item.folder);
  if (fit == folders_.end()) return;
  FolderState& f = fit->second;
  index_erase(f, item);
  auto pos =
      std::lower_bound(f.order.begin(), f.order.end(), std::make_pair(item.seq, std::uint64_t{0}));
  if (pos != f.order.end() && pos->second == item.id) f.order.erase(pos);
}

void StoreModel::delete_folder_tree(std::uint32_t id) {
  auto it = folders_.find(id);
  if (it == folders_.end()) return;
  std::vector<std::uint32_t> children = it->second.children;
  for (std::uint32_t child : children) delete_folder_tree(child);
  for (const auto& [seq, item_id] : it->second.order) items_.erase(item_id);
  const std::uint32_t parent = it->second.record.parent;
  folders_.erase(it);
  auto pit = folders_.find(parent);
  if (pit != folders_.end()) std::erase(pit->second.children, id);
}

bool StoreModel::apply(Record&& record, std::string* why) {
  auto fail = [&](std::string reason) {
    if (why) *why = std::move(reason);
    return false;
  };
  if (!has_header_ && !std::holds_alternative<FileHeaderRecord>(record))
    return fail("the file does not start with a store header");
  bool ok = std::visit(
      [&](auto& r) -> bool {
        using T = std::decay_t<decltype(r)>;
        if constexpr (std::is_same_v<T, FileHeaderRecord>) {
          if (has_header_) return fail("a second store header");
          if (r.version < format::kFirstFormatVersion || r.version > format::kFormatVersion)
            return fail("store format version " + std::to_string(r.version) + " is not supported");
          has_header_ = true;
          version_ = r.version;
          store_id_ = r.store_id;
          return true;
        } else if constexpr (std::is_same_v<T, FileLengthRecord>) {
          return true;  // read by the store from its place, not as a change
        } else if constexpr (std::is_same_v<T, FolderRecord>) {
          if (r.id == format::kNoFolder) return fail("folder id 0");
          if (r.id == format::kRootFolderId) {
            r.parent = format::kNoFolder;
          } else if (r.parent == r.id || folder(r.parent) == nullptr) {
            // A folder whose parent was lost stays reachable under the root.
            if (root() == nullptr)
              return fail("folder " + std::to_string(r.id) + " before the root");
            r.parent = format::kRootFolderId;
          }
          for (std::uint32_t up = r.parent; up != format::kNoFolder;) {
            if (up == r.id)
              return fail("folder " + std::to_string(r.id) + " would be inside itself");
            const FolderState* p = folder(up);
            up = p ? p->record.parent : format::kNoFolder;
          }
          auto [it, added] = folders_.try_emplace(r.id);
          FolderState& f = it->second;
          if (!added && f.record.parent != r.parent) {
            std::erase(folders_[f.record.parent].children, r.id);
            added = true;
          }
          if (added && r.parent != format::kNoFolder) folders_[r.parent].children.push_back(r.id);
          f.record = std::move(r);
          last_folder_id_ = std::max(last_folder_id_, f.record.id);
          return true;
        } else if constexpr (std::is_same_v<T, FolderDeleteRecord>) {
          if (r.id == format::kRootFolderId) return fail("the root folder cannot be deleted");
          if (folder(r.id) == nullptr)
            return fail("deleting unknown folder " + std::to_string(r.id));
          delete_folder_tree(r.id);
          return true;
        } else if constexpr (std::is_same_v<T, ItemPutRecord>) {
          auto fit = folders_.find(r.folder);
          if (fit == folders_.end())
            return fail("item " + std::to_string(r.id) + " is in unknown folder " +
                        std::to_string(r.folder));
          auto data = std::make_shared<const ItemData>(std::move(r.data));
          auto [it, added] = items_.try_emplace(r.id);
          StoredItem& item = it->second;
          item.written_here = false;
          if (!added && item.folder == r.folder) {
            index_erase(fit->second, item);
            item.data = std::move(data);
            index_insert(fit->second, item);
          } else {
            if (!added) remove_from_folder(item);
            item.id = r.id;
            item.folder = r.folder;
            item.seq = ++last_seq_;
            item.data = std::move(data);
            fit->second.order.emplace_back(item.seq, item.id);
            index_insert(fit->second, item);
          }
          last_item_id_ = std::max(last_item_id_, r.id);
          return true;
        } else {
          auto it = items_.find(r.id);
          if (it == items_.end()) return fail("deleting unknown item " + std::to_string(r.id));
          remove_from_folder(it->second);
          items_.erase(it);
          return true;
        }
      },
      record);
  if (ok) ++applied_;
  return ok;
}

std::size_t StoreModel::position(std::uint32_t folder_id, std::uint64_t id) const {
  const FolderState* f = folder(folder_id);
  const StoredItem* it = item(id);
  if (f == nullptr || it == nullptr || it->folder != folder_id) return 0;
  auto pos =
      std::lower_bound(f->order.begin(), f->order.end(), std::make_pair(it->seq, std::uint64_t{0}));
  if (pos == f->order.end() || pos->second != id) return 0;
  return static_cast<std::size_t>(pos - f->order.begin()) + 1;
}

std::optional<std::uint64_t> StoreModel::find(std::uint32_t folder_id, const Filter& filter,
                                              std::uint64_t after_seq) const {
  const FolderState* f = folder(folder_id);
  if (f == nullptr || filter.all.empty()) return std::nullopt;
  const Condition& first = filter.all.front();
  auto [iit, built] = f->indexes.try_emplace(fold_case(first.name));
  if (built) {
    for (const auto& [seq, id] : f->order) {
      const StoredItem& it = items_.at(id);
      for (auto& key : value_keys(it.data->find_any(first.name))) iit->second.emplace(key, seq, id);
    }
  }
  std::optional<std::pair<std::uint64_t, std::uint64_t>> best;  // (seq, id)
  for (const IndexKey& key : probe_keys(first.literal)) {
    for (auto e = iit->second.lower_bound(Entry(key, after_seq + 1, 0));
         e != iit->second.end() && std::get<0>(*e) == key; ++e) {
      const auto seq = std::get<1>(*e);
      if (best && best->first <= seq) break;
      if (matches(*items_.at(std::get<2>(*e)).data, filter)) {
        best = std::make_pair(seq, std::get<2>(*e));
        break;
      }
    }
  }
  if (!best) return std::nullopt;
  return best->second;
}

std::vector<std::uint64_t> StoreModel::restrict(std::uint32_t folder_id,
                                                const Filter& filter) const {
  std::vector<std::uint64_t> out;
  std::uint64_t after = 0;
  while (auto id = find(folder_id, filter, after)) {
    out.push_back(*id);
    after = items_.at(*id).seq;
  }
  return out;
}

std::vector<Record> StoreModel::snapshot() const {
  std::vector<Record> out;
  out.push_back(FileHeaderRecord{format::kFormatVersion, store_id_});
  out.push_back(FileLengthRecord{});  // the writer records the length it wrote
  std::vector<std::uint32_t> queue = {format::kRootFolderId};
  for (std::size_t i = 0; i < queue.size(); ++i) {
    const FolderState* f = folder(queue[i]);
    if (f == nullptr) continue;
    out.push_back(f->record);
    for (std::uint32_t c : f->children) queue.push_back(c);
  }
  for (std::uint32_t id : queue) {
    const FolderState* f = folder(id);
    if (f == nullptr) continue;
    for (const auto& [seq, item_id] : f->order) {
      const StoredItem& it = items_.at(item_id);
      out.push_back(ItemPutRecord{it.id, it.folder, *it.data});
    }
  }
  return out;
}

}  // namespace sx::outlook
