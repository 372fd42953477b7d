// The typed fields of a note: SyncField and its four kinds. A field holds one value plus the marks
// the merge uses: modified-here (its side changed it since the last sync), changed-in-memory (set
// by every assignment, cleared after loading), and exclude (takes no part in comparison).
//
// Plain values, one thread at a time. Packing and unpacking never touch bytes outside the room
// given: pack writes nothing and returns 0 when the room is too small; unpack returns 0 when the
// bytes end before the field does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "win32/types.h"

namespace sx::conduit {

inline constexpr UINT kCategoryNameId = 0x80000001u;
inline constexpr UINT kPrivateNameId = 0x80000002u;

class SyncField {
 public:
  // What a value can be compared with and assigned from: fields of the same kind (a BoolField is an
  // integer).
  enum class Kind : std::uint8_t { kInteger, kDate, kText };

  SyncField(UINT name_id, Kind kind) : name_id_(name_id), kind_(kind) {}
  SyncField(const SyncField&) = default;
  SyncField& operator=(const SyncField&) = delete;

  // Virtual operations, in slot order.
  virtual ~SyncField() = default;
  virtual std::string logText() const = 0;
  virtual int alignment() const = 0;
  virtual void print(std::string* out) const = 0;  // diagnostic print (appends)
  virtual std::size_t packedSize() const = 0;
  virtual std::size_t pack(BYTE* buffer, std::size_t room) const = 0;
  virtual bool equals(const SyncField& other) const = 0;  // false for another kind
  virtual std::size_t unpack(const BYTE* data, std::size_t available) = 0;
  virtual void setWidth(int /*width*/) {}
  virtual void assign(const SyncField& other) = 0;  // no-op for another kind

  // The name shown in log lines: the text after ';' of the name string, "Category", "Private".
  std::string displayName() const;
  UINT nameId() const { return name_id_; }
  Kind kind() const { return kind_; }

 private:
  // Before the marks, so that a field packs into few bytes (a note holds twelve).
  UINT name_id_;
  Kind kind_;

 public:
  bool modified_here = false;
  bool changed_in_memory = false;
  bool exclude = false;
};

class IntField : public SyncField {
 public:
  IntField(UINT name_id, int width, bool hex = false)
      : SyncField(name_id, Kind::kInteger), width_(static_cast<std::uint8_t>(width)), hex_(hex) {}
  std::string logText() const override;
  int alignment() const override { return width_; }
  void print(std::string* out) const override;
  std::size_t packedSize() const override { return static_cast<std::size_t>(width_); }
  std::size_t pack(BYTE* buffer, std::size_t room) const override;
  bool equals(const SyncField& other) const override;
  std::size_t unpack(const BYTE* data, std::size_t available) override;
  void setWidth(int width) override;
  void assign(const SyncField& other) override;

  std::int32_t value() const { return value_; }
  void set(std::int32_t value) {
    value_ = value;
    changed_in_memory = true;
  }

 protected:
  std::int32_t value_ = 0;
  std::uint8_t width_;  // 1, 2 or 4
  bool hex_;
};

class BoolField : public IntField {
 public:
  explicit BoolField(UINT name_id) : IntField(name_id, 4) {}
  std::string logText() const override;
  void print(std::string* out) const override;
  bool get() const { return value_ != 0; }
  void setBool(bool value) { set(value ? 1 : 0); }
};

// A date and time as an automation date (0 = none), kept at minute resolution on the handheld.
class DateField : public SyncField {
 public:
  explicit DateField(UINT name_id) : SyncField(name_id, Kind::kDate) {}
  std::string logText() const override;
  int alignment() const override { return 4; }
  void print(std::string* out) const override;
  std::size_t packedSize() const override { return 4; }
  std::size_t pack(BYTE* buffer, std::size_t room) const override;
  bool equals(const SyncField& other) const override;
  std::size_t unpack(const BYTE* data, std::size_t available) override;
  void assign(const SyncField& other) override;

  double value() const { return value_; }
  void set(double date) {
    value_ = date;
    changed_in_memory = true;
  }
  // The four packed bytes (all zero for no date or a date the handheld cannot hold: years
  // 1905-2031 only).
  void packed(BYTE out[4]) const;

 private:
  double value_ = 0;
};

// One text in its two forms: desktop (CR LF line ends) and handheld (LF). A text is never cut
// here: a side that cannot hold a text says so when it writes the note.
class TextField : public SyncField {
 public:
  explicit TextField(UINT name_id) : SyncField(name_id, Kind::kText) {}
  std::string logText() const override;
  int alignment() const override { return 1; }
  void print(std::string* out) const override;
  std::size_t packedSize() const override { return handheld_size_ + 1; }
  std::size_t pack(BYTE* buffer, std::size_t room) const override;
  bool equals(const SyncField& other) const override;
  // Takes the bytes up to the first NUL as the handheld form; 0 when there is no NUL.
  std::size_t unpack(const BYTE* data, std::size_t available) override;
  void assign(const SyncField& other) override;

  // Stores a desktop text and derives the handheld form (CRs dropped).
  void setDesktop(std::string text);
  const std::string& desktop() const { return desktop_; }
  std::string handheld() const;

 private:
  // The handheld form is the desktop form without its CRs, except for unpacked bytes that hold CRs
  // of their own: those are kept as they came, so that the record is written back unchanged.
  std::string desktop_;
  std::size_t handheld_size_ = 0;
  std::unique_ptr<std::string> handheld_as_read_;
};

}  // namespace sx::conduit
