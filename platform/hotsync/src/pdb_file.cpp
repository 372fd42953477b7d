// Reading and writing Palm database files; see pdb_file.h and pdb_format.h.
#include "sx/hotsync_pdb.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "pdb_format.h"

namespace sx::hotsync {
namespace {

std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}
std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
         (std::uint32_t{b[at + 2]} << 8) | std::uint32_t{b[at + 3]};
}
void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

bool fail(std::string* why, const char* format, unsigned long long a = 0,
          unsigned long long b = 0) {
  if (why != nullptr) {
    char text[200];
    std::snprintf(text, sizeof text, format, a, b);
    *why = text;
  }
  return false;
}

}  // namespace

int PdbDatabase::find(std::uint32_t unique_id) const {
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].unique_id == unique_id) return static_cast<int>(i);
  }
  return -1;
}

std::uint32_t PdbDatabase::take_unique_id() {
  std::unordered_set<std::uint32_t> used;
  for (const PdbRecord& r : records) used.insert(r.unique_id);
  for (;;) {
    std::uint32_t id = seed & pdb::kMaxUniqueId;
    seed = (seed + 1) & pdb::kMaxUniqueId;
    if (id != 0 && used.count(id) == 0) return id;
  }
}

bool parse_pdb(std::span<const std::uint8_t> bytes, PdbDatabase* out, std::string* why) {
  const std::size_t size = bytes.size();
  if (size < pdb::kHeaderSize) {
    return fail(why, "file of %llu bytes is shorter than the 78-byte header", size);
  }
  PdbDatabase db;
  const auto name_end = std::find(bytes.begin(), bytes.begin() + pdb::kNameSize, 0);
  if (name_end == bytes.begin() + pdb::kNameSize) return fail(why, "database name is not ended");
  db.name.assign(bytes.begin(), name_end);
  db.attributes = get16(bytes, pdb::kOffAttributes);
  if (db.attributes & pdb::kDbResource) return fail(why, "resource databases are not supported");
  db.version = get16(bytes, pdb::kOffVersion);
  db.created = get32(bytes, pdb::kOffCreated);
  db.modified = get32(bytes, pdb::kOffModified);
  db.backed_up = get32(bytes, pdb::kOffBackedUp);
  db.mod_number = get32(bytes, pdb::kOffModNumber);
  const std::uint32_t app_info = get32(bytes, pdb::kOffAppInfo);
  const std::uint32_t sort_info = get32(bytes, pdb::kOffSortInfo);
  db.type = get32(bytes, pdb::kOffType);
  db.creator = get32(bytes, pdb::kOffCreator);
  db.seed = get32(bytes, pdb::kOffSeed) & pdb::kMaxUniqueId;
  if (get32(bytes, pdb::kOffNextList) != 0)
    return fail(why, "chained record lists are not supported");
  const std::size_t count = get16(bytes, pdb::kOffRecordCount);
  const std::size_t list_end = pdb::kHeaderSize + count * pdb::kRecordEntrySize;
  if (list_end > size) {
    return fail(why, "record list of %llu entries runs past the end of the file (%llu bytes)",
                count, size);
  }

  // Record offsets: inside the file, after the list, ascending.
  std::vector<std::size_t> offsets(count);
  std::unordered_set<std::uint32_t> ids;
  db.records.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = pdb::kHeaderSize + i * pdb::kRecordEntrySize;
    offsets[i] = get32(bytes, entry);
    db.records[i].attributes = bytes[entry + 4];
    db.records[i].unique_id = (std::uint32_t{bytes[entry + 5]} << 16) |
                              (std::uint32_t{bytes[entry + 6]} << 8) | bytes[entry + 7];
    if (offsets[i] < list_end || offsets[i] > size) {
      return fail(why, "record %llu starts at %llu, outside the record data", i, offsets[i]);
    }
    if (i > 0 && offsets[i] < offsets[i - 1]) {
      return fail(why, "record %llu starts before record %llu", i, i - 1);
    }
    if (!ids.insert(db.records[i].unique_id).second) {
      return fail(why, "unique record ID %llu is used twice", db.records[i].unique_id);
    }
  }
  const std::size_t data_start = count > 0 ? offsets[0] : size;

  // AppInfo and SortInfo: between the list and the first record, in that order.
  auto block = [&](std::uint32_t at, std::size_t next, const char* what,
                   std::optional<std::vector<std::uint8_t>>* into) {
    if (at == 0) return true;
    if (at < list_end || at > data_start || next < at || next > size) {
      if (why != nullptr) {
        *why =
            std::string(what) + " offset " + std::to_string(at) + " lies outside the file's blocks";
      }
      return false;
    }
    into->emplace(bytes.begin() + at, bytes.begin() + next);
    return true;
  };
  const std::size_t app_end =
      sort_info != 0 ? std::min<std::size_t>(sort_info, data_start) : data_start;
  if (!block(app_info, app_end, "AppInfo", &db.app_info)) return false;
  if (!block(sort_info, data_start, "SortInfo", &db.sort_info)) return false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t end = i + 1 < count ? offsets[i + 1] : size;
    if (end - offsets[i] > pdb::kMaxRecordBytes) {
      return fail(why, "record %llu is %llu bytes long", i, end - offsets[i]);
    }
    db.records[i].data.assign(bytes.begin() + offsets[i], bytes.begin() + end);
  }
  *out = std::move(db);
  return true;
}

bool check_pdb_limits(const PdbDatabase& db, std::string* why) {
  if (db.name.empty() || db.name.size() >= pdb::kNameSize ||
      db.name.find('\0') != std::string::npos) {
    return fail(why, "database name must be 1 to 31 characters");
  }
  if (db.records.size() > pdb::kMaxRecords) {
    return fail(why, "%llu records are more than a database holds", db.records.size());
  }
  std::unordered_set<std::uint32_t> ids;
  for (const PdbRecord& r : db.records) {
    if (r.data.size() > pdb::kMaxRecordBytes) return fail(why, "a record above 64 KiB");
    if (r.unique_id > pdb::kMaxUniqueId || !ids.insert(r.unique_id).second) {
      return fail(why, "unique record ID %llu is out of range or used twice", r.unique_id);
    }
  }
  return true;
}

std::vector<std::uint8_t> serialize_pdb(const PdbDatabase& db) {
  const std::size_t count = db.records.size();
  std::size_t total = pdb::kHeaderSize + count * pdb::kRecordEntrySize + pdb::kGapAfterEntries;
  const std::size_t app_at = total;
  if (db.app_info) total += db.app_info->size();
  const std::size_t sort_at = total;
  if (db.sort_info) total += db.sort_info->size();
  std::vector<std::uint8_t> out(total, 0);
  for (const PdbRecord& r : db.records) total += r.data.size();
  out.reserve(total);

  std::copy_n(db.name.data(), std::min(db.name.size(), pdb::kNameSize - 1), out.begin());
  put16(out, pdb::kOffAttributes, db.attributes);
  put16(out, pdb::kOffVersion, db.version);
  put32(out, pdb::kOffCreated, db.created);
  put32(out, pdb::kOffModified, db.modified);
  put32(out, pdb::kOffBackedUp, db.backed_up);
  put32(out, pdb::kOffModNumber, db.mod_number);
  put32(out, pdb::kOffAppInfo, db.app_info ? static_cast<std::uint32_t>(app_at) : 0);
  put32(out, pdb::kOffSortInfo, db.sort_info ? static_cast<std::uint32_t>(sort_at) : 0);
  put32(out, pdb::kOffType, db.type);
  put32(out, pdb::kOffCreator, db.creator);
  put32(out, pdb::kOffSeed, db.seed & pdb::kMaxUniqueId);
  put16(out, pdb::kOffRecordCount, static_cast<std::uint16_t>(count));
  if (db.app_info) std::copy(db.app_info->begin(), db.app_info->end(), out.begin() + app_at);
  if (db.sort_info) std::copy(db.sort_info->begin(), db.sort_info->end(), out.begin() + sort_at);
  for (std::size_t i = 0; i < count; ++i) {
    const PdbRecord& r = db.records[i];
    const std::size_t entry = pdb::kHeaderSize + i * pdb::kRecordEntrySize;
    put32(out, entry, static_cast<std::uint32_t>(out.size()));
    out[entry + 4] = r.attributes;
    out[entry + 5] = static_cast<std::uint8_t>(r.unique_id >> 16);
    out[entry + 6] = static_cast<std::uint8_t>(r.unique_id >> 8);
    out[entry + 7] = static_cast<std::uint8_t>(r.unique_id);
    out.insert(out.end(), r.data.begin(), r.data.end());
  }
  return out;
}

}  // namespace sx::hotsync
