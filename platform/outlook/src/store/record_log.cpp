#include "record_log.h"

#include <cstring>
#include <type_traits>

#include "crc32c.h"

namespace sx::outlook {

namespace {

using format::RecordType;
using format::ValueTag;

// ---- encoding ----

class Encoder {
 public:
  void u8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void f64(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    u64(bits);
  }
  void text(std::string_view s) {
    u32(static_cast<std::uint32_t>(s.size()));
    out_.append(s);
  }
  void bytes(const void* p, std::size_t n) { out_.append(static_cast<const char*>(p), n); }
  void value(const Value& v) {
    u8(static_cast<std::uint8_t>(v.tag));
    if (v.tag == ValueTag::kText)
      text(v.text);
    else if (v.tag != ValueTag::kEmpty)
      f64(v.number);
  }
  std::string& out() { return out_; }

 private:
  std::string out_;
};

void encode_item(Encoder& e, const ItemData& item) {
  e.u32(static_cast<std::uint32_t>(item.object_class));
  e.u32(static_cast<std::uint32_t>(item.props.size()));
  for (const auto& [name, value] : item.props) {
    e.text(name);
    e.value(value);
  }
  e.u32(static_cast<std::uint32_t>(item.user_props.size()));
  for (const auto& p : item.user_props) {
    e.text(p.name);
    e.u32(static_cast<std::uint32_t>(p.type));
    e.value(p.value);
  }
  e.u32(static_cast<std::uint32_t>(item.links.size()));
  for (const auto& l : item.links) {
    e.text(l.name);
    e.text(l.entry_id);
  }
}

// ---- decoding: every read checks what is left ----

class Decoder {
 public:
  Decoder(const std::uint8_t* p, std::size_t n) : p_(p), left_(n) {}
  bool u8(std::uint8_t* v) {
    if (left_ < 1) return fail("payload ends early");
    *v = *p_++;
    --left_;
    return true;
  }
  bool u32(std::uint32_t* v) {
    if (left_ < 4) return fail("payload ends early");
    *v = 0;
    for (int i = 0; i < 4; ++i) *v |= static_cast<std::uint32_t>(p_[i]) << (8 * i);
    p_ += 4;
    left_ -= 4;
    return true;
  }
  bool u64(std::uint64_t* v) {
    if (left_ < 8) return fail("payload ends early");
    *v = 0;
    for (int i = 0; i < 8; ++i) *v |= static_cast<std::uint64_t>(p_[i]) << (8 * i);
    p_ += 8;
    left_ -= 8;
    return true;
  }
  bool i32(std::int32_t* v) {
    std::uint32_t u;
    if (!u32(&u)) return false;
    *v = static_cast<std::int32_t>(u);
    return true;
  }
  bool f64(double* d) {
    std::uint64_t bits;
    if (!u64(&bits)) return false;
    std::memcpy(d, &bits, sizeof bits);
    return true;
  }
  bool text(std::string* s) {
    std::uint32_t n;
    if (!u32(&n)) return false;
    if (n > format::kMaxTextBytes) return fail("text longer than the limit");
    if (n > left_) return fail("text runs past the payload");
    s->assign(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    left_ -= n;
    return true;
  }
  bool bytes(void* out, std::size_t n) {
    if (n > left_) return fail("payload ends early");
    std::memcpy(out, p_, n);
    p_ += n;
    left_ -= n;
    return true;
  }
  bool count(std::uint32_t* n) {
    if (!u32(n)) return false;
    if (*n > format::kMaxListEntries) return fail("list longer than the limit");
    return true;
  }
  bool value(Value* v) {
    std::uint8_t tag;
    if (!u8(&tag)) return false;
    if (tag > static_cast<std::uint8_t>(ValueTag::kInt)) return fail("unknown value tag");
    v->tag = static_cast<ValueTag>(tag);
    if (v->tag == ValueTag::kText) return text(&v->text);
    if (v->tag == ValueTag::kEmpty) return true;
    return f64(&v->number);
  }
  bool finish() { return left_ == 0 ? true : fail("trailing bytes after the payload"); }
  bool fail(const char* why) {
    if (why_.empty()) why_ = why;
    return false;
  }
  const std::string& why() const { return why_; }

 private:
  const std::uint8_t* p_;
  std::size_t left_;
  std::string why_;
};

bool decode_item(Decoder& d, ItemData* item) {
  std::uint32_t n;
  if (!d.i32(&item->object_class) || !d.count(&n)) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    std::string name;
    Value v;
    if (!d.text(&name) || !d.value(&v)) return false;
    item->props.emplace_back(std::move(name), std::move(v));
  }
  if (!d.count(&n)) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    UserProp p;
    if (!d.text(&p.name) || !d.i32(&p.type) || !d.value(&p.value)) return false;
    item->user_props.push_back(std::move(p));
  }
  if (!d.count(&n)) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    LinkData l;
    if (!d.text(&l.name) || !d.text(&l.entry_id)) return false;
    item->links.push_back(std::move(l));
  }
  return true;
}

RecordType type_of(const Record& r) {
  switch (r.index()) {
    case 0:
      return RecordType::kFileHeader;
    case 1:
      return RecordType::kFolderPut;
    case 2:
      return RecordType::kFolderDelete;
    case 3:
      return RecordType::kItemPut;
    case 4:
      return RecordType::kItemDelete;
    default:
      return RecordType::kFileLength;
  }
}

std::uint32_t read_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The checksum covers the length, the type and the payload.
std::uint32_t record_crc(const std::uint8_t* length_and_type, const std::uint8_t* payload,
                         std::size_t payload_size) {
  std::uint32_t crc = crc32c(length_and_type, 5);
  return crc32c_extend(crc, payload, payload_size);
}

}  // namespace

std::string encode_record(const Record& record) {
  Encoder e;
  std::visit(
      [&](const auto& r) {
        using T = std::decay_t<decltype(r)>;
        if constexpr (std::is_same_v<T, FileHeaderRecord>) {
          e.bytes(format::kFileMagic, sizeof format::kFileMagic);
          e.u32(r.version);
          e.bytes(r.store_id.data(), r.store_id.size());
        } else if constexpr (std::is_same_v<T, FolderRecord>) {
          e.u32(r.id);
          e.u32(r.parent);
          e.text(r.name);
          e.u32(static_cast<std::uint32_t>(r.default_item_type));
          e.text(r.default_message_class);
          e.u8(static_cast<std::uint8_t>(r.role));
        } else if constexpr (std::is_same_v<T, FolderDeleteRecord>) {
          e.u32(r.id);
        } else if constexpr (std::is_same_v<T, ItemPutRecord>) {
          e.u64(r.id);
          e.u32(r.folder);
          encode_item(e, r.data);
        } else if constexpr (std::is_same_v<T, FileLengthRecord>) {
          e.u64(r.length);
        } else {
          e.u64(r.id);
        }
      },
      record);
  const std::string& payload = e.out();
  std::string framed(format::kHeaderSize, '\0');
  std::memcpy(framed.data(), format::kRecordMagic, 4);
  auto* h = reinterpret_cast<std::uint8_t*>(framed.data());
  const auto n = static_cast<std::uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) h[8 + i] = static_cast<std::uint8_t>(n >> (8 * i));
  h[12] = static_cast<std::uint8_t>(type_of(record));
  const std::uint32_t crc =
      format::mask_crc(record_crc(h + 8, reinterpret_cast<const std::uint8_t*>(payload.data()), n));
  for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  framed += payload;
  return framed;
}

std::string encode_file(const std::vector<Record>& records) {
  std::string bytes;
  for (const Record& r : records) bytes += encode_record(r);
  if (records.size() > 1 && std::holds_alternative<FileLengthRecord>(records[1]) &&
      bytes.size() >= format::kFileLengthEnd) {
    bytes.replace(format::kFileLengthOffset, format::kFileLengthRecordSize,
                  encode_record(FileLengthRecord{bytes.size()}));
  }
  return bytes;
}

bool decode_payload(RecordType type, const std::uint8_t* data, std::size_t size, Record* out,
                    std::string* why) {
  Decoder d(data, size);
  bool ok = false;
  switch (type) {
    case RecordType::kFileHeader: {
      FileHeaderRecord r;
      char magic[sizeof format::kFileMagic];
      ok = d.bytes(magic, sizeof magic) &&
           (std::memcmp(magic, format::kFileMagic, sizeof magic) == 0 ||
            d.fail("not a store file")) &&
           d.u32(&r.version) && d.bytes(r.store_id.data(), r.store_id.size());
      if (ok) *out = r;
      break;
    }
    case RecordType::kFolderPut: {
      FolderRecord r;
      std::uint8_t role = 0;
      ok = d.u32(&r.id) && d.u32(&r.parent) && d.text(&r.name) && d.i32(&r.default_item_type) &&
           d.text(&r.default_message_class) && d.u8(&role) &&
           (role <= static_cast<std::uint8_t>(FolderRole::kInbox) || d.fail("unknown folder role"));
      r.role = static_cast<FolderRole>(role);
      if (ok) *out = std::move(r);
      break;
    }
    case RecordType::kFolderDelete: {
      FolderDeleteRecord r;
      ok = d.u32(&r.id);
      if (ok) *out = r;
      break;
    }
    case RecordType::kItemPut: {
      ItemPutRecord r;
      ok = d.u64(&r.id) && d.u32(&r.folder) && decode_item(d, &r.data);
      if (ok) *out = std::move(r);
      break;
    }
    case RecordType::kItemDelete: {
      ItemDeleteRecord r;
      ok = d.u64(&r.id);
      if (ok) *out = r;
      break;
    }
    case RecordType::kFileLength: {
      FileLengthRecord r;
      ok = d.u64(&r.length);
      if (ok) *out = r;
      break;
    }
    default:
      d.fail("unknown record type");
  }
  ok = ok && d.finish();
  if (!ok && why != nullptr) *why = d.why();
  return ok;
}

namespace {

enum class Frame { kGood, kTorn, kBad };

// Checks the frame at `pos`: kTorn when the data ends inside it, kBad when magic, length or
// checksum are wrong.
Frame check_frame(const std::uint8_t* data, std::size_t size, std::size_t pos,
                  std::uint32_t* length, const char** why) {
  const std::size_t left = size - pos;
  const std::size_t magic_bytes = left < 4 ? left : 4;
  if (std::memcmp(data + pos, format::kRecordMagic, magic_bytes) != 0) {
    *why = "no record starts here";
    return Frame::kBad;
  }
  if (left < format::kHeaderSize) return Frame::kTorn;
  *length = read_u32(data + pos + 8);
  if (*length > format::kMaxPayload) {
    *why = "record length beyond the limit";
    return Frame::kBad;
  }
  if (*length > left - format::kHeaderSize) return Frame::kTorn;
  const std::uint32_t stored = format::unmask_crc(read_u32(data + pos + 4));
  if (stored != record_crc(data + pos + 8, data + pos + format::kHeaderSize, *length)) {
    *why = "checksum mismatch";
    return Frame::kBad;
  }
  return Frame::kGood;
}

// The next offset after `from` where a good frame starts, or `size` when there is none.
std::size_t resync(const std::uint8_t* data, std::size_t size, std::size_t from) {
  for (std::size_t p = from; p + format::kHeaderSize <= size; ++p) {
    const void* hit = std::memchr(data + p, format::kRecordMagic[0], size - p);
    if (hit == nullptr) break;
    p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    if (p + format::kHeaderSize > size) break;
    std::uint32_t length;
    const char* why;
    if (check_frame(data, size, p, &length, &why) == Frame::kGood) return p;
  }
  return size;
}

}  // namespace

std::uint32_t header_version(const std::uint8_t* data, std::size_t size) {
  std::uint32_t length = 0;
  const char* why = "";
  if (size == 0 || check_frame(data, size, 0, &length, &why) != Frame::kGood ||
      data[12] != static_cast<std::uint8_t>(RecordType::kFileHeader))
    return 0;
  Record record;
  if (!decode_payload(RecordType::kFileHeader, data + format::kHeaderSize, length, &record,
                      nullptr))
    return 0;
  return std::get<FileHeaderRecord>(record).version;
}

std::optional<std::uint64_t> recorded_file_length(const std::uint8_t* data, std::size_t size) {
  std::uint32_t length = 0;
  const char* why = "";
  if (size < format::kFileLengthRecordSize ||
      check_frame(data, size, 0, &length, &why) != Frame::kGood ||
      data[12] != static_cast<std::uint8_t>(RecordType::kFileLength))
    return std::nullopt;
  Record record;
  if (!decode_payload(RecordType::kFileLength, data + format::kHeaderSize, length, &record,
                      nullptr))
    return std::nullopt;
  const std::uint64_t value = std::get<FileLengthRecord>(record).length;
  // The header, this record and the root folder come first in every file.
  if (value < format::kFileLengthEnd) return std::nullopt;
  return value;
}

FileExtent file_extent(std::uint32_t version, std::optional<std::uint64_t> recorded,
                       std::uint64_t size) {
  FileExtent extent;
  extent.limit = size;
  if (version < 2 || !recorded) return extent;
  if (size >= *recorded) {
    extent.limit = *recorded;
    extent.unfinished_tail = size > *recorded;
  } else {
    extent.missing = *recorded - size;
  }
  return extent;
}

ScanResult scan_records(const std::uint8_t* data, std::size_t size, std::size_t start,
                        const std::function<void(std::uint64_t, Record&&)>& on_record) {
  ScanResult result;
  result.end = start;
  std::size_t pos = start;
  while (pos < size) {
    std::uint32_t length = 0;
    const char* why = "";
    const Frame frame = check_frame(data, size, pos, &length, &why);
    if (frame == Frame::kTorn) {
      result.torn_tail = true;
      break;
    }
    if (frame == Frame::kBad) {
      const std::size_t next = resync(data, size, pos + 1);
      result.damage.push_back({pos, next - pos, why});
      pos = next;
      continue;
    }
    const std::size_t whole = format::kHeaderSize + length;
    Record record;
    std::string decode_why;
    const auto type = static_cast<RecordType>(data[pos + 12]);
    if (decode_payload(type, data + pos + format::kHeaderSize, length, &record, &decode_why)) {
      on_record(pos, std::move(record));
    } else {
      result.damage.push_back({pos, whole, "unreadable record: " + decode_why});
    }
    pos += whole;
  }
  result.end = pos;
  return result;
}

}  // namespace sx::outlook
