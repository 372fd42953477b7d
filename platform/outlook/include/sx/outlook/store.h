// A store file (personal folders file) of the Outlook stand-in, open in this process.
//
// The file is an append-only record log (docs/outlook-store-format.md). Opening reads it whole into
// a StoreModel; every change appends records under the store's exclusive lock after reading what
// other processes appended, so writers never interleave and ids never clash. refresh() catches up
// with other processes' writes (a shared lock keeps half-written records out of sight); a file
// replaced by another process's compaction is read again from the start.
//
// While open, the file is held as Outlook holds a personal folders file: with read and write
// access, sharing read and write, so that the Windows file layer refuses to open it exclusively,
// delete it or rename it (ERROR_SHARING_VIOLATION) until the Store is gone. Opening fails when
// another handle holds it without sharing.
//
// Damage: a torn tail (the data ends inside a record, or past the length the file records: a write
// that did not finish) is a clean end and is cut off before the next append; damage in the middle
// is skipped to the next good record and listed in problems(), as is a whole record that cannot be
// applied (an item in an unknown folder), and a file shorter than the length it records (its end
// is lost; no append is made to it). The object model refuses a store with problems
// (MAPI_E_CORRUPT_DATA) until compact() has rewritten it, which keeps the old file aside first.
//
// Not thread-safe: one thread uses a Store at a time (the object model calls it on Outlook's
// thread).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sx/outlook/store_model.h"

namespace sx::outlook {

struct Damage;  // record_log.h

struct StoreProblem {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;  // bytes skipped; 0 for a whole record that could not be applied
  std::string reason;
  bool at_the_end = false;  // the file's end is missing, or what it records of it unreadable
};

// The problems for a person: "56 bytes at offset 1234 cannot be read (checksum mismatch); the
// record at offset 999 cannot be used (item in an unknown folder)".
std::string describe_problems(const std::vector<StoreProblem>& problems);

// What a parse of store bytes found (for the fuzz target and its unit test).
struct ParseReport {
  bool is_store = false;      // a valid header came first
  std::uint64_t records = 0;  // records applied
  bool torn_tail = false;
  std::vector<StoreProblem> problems;
};
// Parses a whole store file image into a model. Never crashes on any input.
ParseReport parse_store_bytes(const std::uint8_t* data, std::size_t size, StoreModel* model);

class Store {
 public:
  struct Options {
    bool create_if_missing = false;
    std::string root_name = "Personal Folders";  // root folder of a new store
  };

  // Opens the store file at `host_path`. Null with a reason when the file is missing (and may not
  // be created), unreadable, or not a store file (its first record is not a good header).
  static std::shared_ptr<Store> open(const std::filesystem::path& host_path, const Options& options,
                                     std::string* why);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const std::filesystem::path& path() const { return path_; }
  const StoreModel& model() const { return *model_; }
  const std::vector<StoreProblem>& problems() const { return problems_; }
  bool torn_tail_dropped() const { return torn_tail_; }

  // Reads what other processes wrote since the last read. False with a reason when the file can no
  // longer be read (the model stays as it was).
  [[nodiscard]] bool refresh(std::string* why);

  // Makes a change: under the exclusive lock, after catching up, `build` looks at the model and
  // appends the records of the change to `out` (or returns false with a reason to refuse). The
  // records are written in one append and applied. False with a reason when refused or on I/O
  // error.
  using Builder =
      std::function<bool(const StoreModel& model, std::vector<Record>* out, std::string* why)>;
  [[nodiscard]] bool change(const Builder& build, std::string* why);

  // Shorthands. put_item with *id 0 allocates a new id. put_folder with id 0 allocates one.
  [[nodiscard]] bool put_item(std::uint64_t* id, std::uint32_t folder, const ItemData& data,
                              std::string* why);
  [[nodiscard]] bool delete_item(std::uint64_t id, std::string* why);
  [[nodiscard]] bool put_folder(FolderRecord* folder, std::string* why);
  [[nodiscard]] bool delete_folder(std::uint32_t id, std::string* why);

  // Rewrites the file with only the live records (through a temporary file and a rename). When the
  // store has problems, the old file is kept first as "<file>.damaged-<N>" (a hard link, else a
  // copy; *kept_aside, when given, names it), so that no damaged byte is ever dropped; when it
  // cannot be kept, nothing is compacted.
  [[nodiscard]] bool compact(std::string* why, std::filesystem::path* kept_aside = nullptr);
  // Gives the store a new random id (the file is rewritten as by compact()): a byte copy of a
  // store file then no longer shares its entry ids with the original.
  [[nodiscard]] bool take_new_identity(std::string* why);

 private:
  Store() = default;
  bool open_fd(std::string* why);
  bool lock(int how, std::string* why);  // takes the lock on the file the path names now
  void unlock();
  bool read_new(bool reset, std::string* why);
  bool write_all(const std::string& bytes, std::string* why);
  bool rewrite(const StoreId* new_id, std::string* why, std::filesystem::path* kept_aside);

  std::filesystem::path path_;
  int fd_ = -1;
  std::uint64_t file_id_ = 0;  // inode of the open file
  std::uint64_t end_ = 0;      // offset up to which records were read
  std::uint64_t seen_size_ = 0;
  std::unique_ptr<StoreModel> model_;
  std::vector<StoreProblem> problems_;
  bool torn_tail_ = false;
  bool end_unsure_ = false;  // the end is missing or its length unknown: no append is made
};

// A new random store id.
StoreId new_store_id();

}  // namespace sx::outlook
