#include "sx/outlook/store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "com/runtime.h"
#include "record_log.h"
#include "sx/file_share.h"
#include "sx/kill_point.h"
#include "win32/files.h"

namespace sx::outlook {

namespace {

bool fail(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return false;
}

// The store's own lock between its writers and readers: one byte far past any real data, below the
// bytes on which the Windows file layer records share modes (win32/files.h), so that the two never
// block each other. An open file description lock, like flock: every Store has its own.
constexpr off_t kStoreLockByte = static_cast<off_t>(0x7FFFFFFFFFFE0000);

bool lock_byte(int fd, short type, bool wait) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = kStoreLockByte;
  fl.l_len = 1;
  while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

std::string errno_text(const char* what, const std::filesystem::path& path) {
  return std::string(what) + " " + path.string() + ": " + std::strerror(errno);
}

bool read_range(int fd, std::uint64_t from, std::uint64_t to, std::string* out) {
  out->resize(to - from);
  std::uint64_t done = 0;
  while (done < out->size()) {
    ssize_t n =
        ::pread(fd, out->data() + done, out->size() - done, static_cast<off_t>(from + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      out->resize(done);
      return n == 0;  // the file shrank: read what is there
    }
    done += static_cast<std::uint64_t>(n);
  }
  return true;
}

// What the end of a file read up to `read_to` tells: a lost end or an unreadable length (problems,
// and no append may be made), or a write that did not finish (cut off before the next append).
struct EndFindings {
  std::vector<StoreProblem> problems;
  bool unsure = false;
  bool unfinished = false;
};
EndFindings examine_end(std::uint32_t version, const std::optional<std::uint64_t>& recorded,
                        const FileExtent& extent, std::uint64_t read_to, std::uint64_t size,
                        bool scan_torn, const std::vector<StoreProblem>& known) {
  EndFindings f;
  if (extent.missing > 0) {
    // Cut short: what was written past here is gone (a record cut in two with it).
    const std::uint64_t from = std::min(read_to, size);
    f.problems.push_back({from, size + extent.missing - from,
                          "the file ends there, before the end it recorded", true});
    f.unsure = true;
  } else if (scan_torn && recorded) {
    f.problems.push_back(
        {read_to, extent.limit - read_to, "a record runs past the end the file recorded", true});
  } else {
    f.unfinished = scan_torn || extent.unfinished_tail;
  }
  if (version >= 2 && !recorded) {
    f.unsure = true;
    const bool told = std::any_of(known.begin(), known.end(), [](const StoreProblem& p) {
      return p.offset == format::kFileLengthOffset;
    });
    if (!told) {
      f.problems.push_back({format::kFileLengthOffset, format::kFileLengthRecordSize,
                            "the record of the file's length cannot be read", true});
    }
  }
  return f;
}

}  // namespace

std::string describe_problems(const std::vector<StoreProblem>& problems) {
  std::string text;
  for (const StoreProblem& p : problems) {
    if (!text.empty()) text += "; ";
    if (p.length > 0) {
      text += std::to_string(p.length) + (p.length == 1 ? " byte" : " bytes") + " at offset " +
              std::to_string(p.offset) + " cannot be read (" + p.reason + ")";
    } else {
      text +=
          "the record at offset " + std::to_string(p.offset) + " cannot be used (" + p.reason + ")";
    }
  }
  return text;
}

StoreId new_store_id() {
  std::random_device rd;
  StoreId id{};
  for (auto& b : id) b = static_cast<std::uint8_t>(rd());
  return id;
}

ParseReport parse_store_bytes(const std::uint8_t* data, std::size_t size, StoreModel* model) {
  ParseReport report;
  const std::uint32_t version = header_version(data, size);
  std::optional<std::uint64_t> recorded;
  if (version >= 2 && size > format::kFileLengthOffset)
    recorded =
        recorded_file_length(data + format::kFileLengthOffset, size - format::kFileLengthOffset);
  const FileExtent extent = file_extent(version, recorded, size);
  bool first = true;
  ScanResult scan = scan_records(data, static_cast<std::size_t>(extent.limit), 0,
                                 [&](std::uint64_t offset, Record&& r) {
                                   const bool header = std::holds_alternative<FileHeaderRecord>(r);
                                   if (first) {
                                     first = false;
                                     if (offset != 0 || !header)
                                       return;  // not a store: nothing is applied
                                   } else if (!model->has_header()) {
                                     return;
                                   }
                                   std::string why;
                                   if (model->apply(std::move(r), &why))
                                     ++report.records;
                                   else
                                     report.problems.push_back({offset, 0, why});
                                 });
  report.is_store = model->has_header();
  for (auto& d : scan.damage) report.problems.push_back({d.offset, d.length, d.reason});
  if (report.is_store) {
    EndFindings end =
        examine_end(version, recorded, extent, scan.end, size, scan.torn_tail, report.problems);
    report.torn_tail = end.unfinished;
    for (auto& p : end.problems) report.problems.push_back(std::move(p));
  }
  return report;
}

Store::~Store() {
  if (fd_ >= 0) ::close(fd_);
}

bool Store::open_fd(std::string* why) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) return fail(why, errno_text("cannot open", path_));
  struct stat st;
  if (::fstat(fd_, &st) != 0) return fail(why, errno_text("cannot examine", path_));
  file_id_ = static_cast<std::uint64_t>(st.st_ino);
  if ((st.st_mode & S_IWUSR) == 0) {
    // The read-only attribute: Windows refuses to open the file for writing, whoever asks (a
    // superuser here would be let through).
    ::close(std::exchange(fd_, -1));
    return fail(why, "The file is read-only (its read-only attribute is set).");
  }
  // Held as Outlook holds a personal folders file: others may read and write it, but not open it
  // exclusively, delete it or rename it.
  const DWORD shared = sx::files::hold_share_mode(fd_, GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (shared == ERROR_SHARING_VIOLATION) {
    ::close(std::exchange(fd_, -1));
    return fail(why, path_.string() + " is open in another program that does not share it");
  }
  if (shared != ERROR_SUCCESS) {
    ::close(std::exchange(fd_, -1));
    return fail(why, "cannot record how " + path_.string() + " is shared");
  }
  return true;
}

bool Store::lock(int how, std::string* why) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (!lock_byte(fd_, how == LOCK_EX ? F_WRLCK : F_RDLCK, true))
      return fail(why, errno_text("cannot lock", path_));
    struct stat st;
    if (::stat(path_.c_str(), &st) != 0) {
      unlock();
      return fail(why, errno_text("store file is gone:", path_));
    }
    if (static_cast<std::uint64_t>(st.st_ino) == file_id_) return true;
    // Another process compacted the store: the path names a new file. Read that one from the start.
    unlock();
    if (!open_fd(why)) return false;
    end_ = 0;
    seen_size_ = 0;
  }
  return fail(why, "the store file keeps being replaced: " + path_.string());
}

void Store::unlock() { lock_byte(fd_, F_UNLCK, false); }

bool Store::read_new(bool reset, std::string* why) {
  if (reset || end_ == 0) {
    end_ = 0;
    model_ = std::make_unique<StoreModel>();
    problems_.clear();
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0) return fail(why, errno_text("cannot examine", path_));
  const auto size = static_cast<std::uint64_t>(st.st_size);
  seen_size_ = size;
  // What the file says of its end is read anew each time: the length record changes in place.
  std::erase_if(problems_, [](const StoreProblem& p) { return p.at_the_end; });
  std::string bytes;
  if (size > end_ && !read_range(fd_, end_, size, &bytes))
    return fail(why, errno_text("cannot read", path_));
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::uint64_t base = end_;
  const std::uint32_t version =
      model_->has_header() ? model_->version() : header_version(data, bytes.size());
  std::optional<std::uint64_t> recorded;
  if (version >= 2) {
    if (base == 0) {
      if (bytes.size() > format::kFileLengthOffset)
        recorded = recorded_file_length(data + format::kFileLengthOffset,
                                        bytes.size() - format::kFileLengthOffset);
    } else {
      std::string slot;
      if (read_range(fd_, format::kFileLengthOffset, format::kFileLengthEnd, &slot))
        recorded =
            recorded_file_length(reinterpret_cast<const std::uint8_t*>(slot.data()), slot.size());
    }
  }
  const FileExtent extent = file_extent(version, recorded, size);
  ScanResult scan;
  scan.end = 0;
  if (extent.limit > base) {
    scan = scan_records(data, extent.limit - base, 0, [&](std::uint64_t offset, Record&& r) {
      if (!model_->has_header() &&
          (base + offset != 0 || !std::holds_alternative<FileHeaderRecord>(r))) {
        return;
      }
      std::string reason;
      if (!model_->apply(std::move(r), &reason)) problems_.push_back({base + offset, 0, reason});
    });
    for (auto& d : scan.damage) problems_.push_back({base + d.offset, d.length, d.reason});
    end_ = base + scan.end;
  }
  torn_tail_ = false;
  if (!model_->has_header()) {
    if (bytes.empty() || (scan.torn_tail && scan.end == 0)) return true;  // being created
    return fail(why, path_.string() + " is not a store file (no good header at its start)");
  }
  EndFindings end = examine_end(version, recorded, extent, end_, size,
                                extent.limit > base && scan.torn_tail, problems_);
  torn_tail_ = end.unfinished;
  end_unsure_ = end.unsure;
  for (auto& p : end.problems) problems_.push_back(std::move(p));
  return true;
}

std::shared_ptr<Store> Store::open(const std::filesystem::path& host_path, const Options& options,
                                   std::string* why) {
  std::shared_ptr<Store> store(new Store());
  store->path_ = host_path;
  store->model_ = std::make_unique<StoreModel>();
  if (options.create_if_missing && !std::filesystem::exists(host_path)) {
    std::error_code ec;
    std::filesystem::create_directories(host_path.parent_path(), ec);
    int fd = ::open(host_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      fail(why, errno_text("cannot create", host_path));
      return nullptr;
    }
    ::close(fd);
  }
  if (!store->open_fd(why)) return nullptr;
  if (!store->lock(LOCK_EX, why)) return nullptr;
  bool ok = store->read_new(true, why);
  if (ok && !store->model_->has_header()) {
    if (!options.create_if_missing) {
      ok = fail(why, host_path.string() + " is not a store file (it is empty)");
    } else {
      // A new (or never finished) store: header and root folder.
      if (::ftruncate(store->fd_, 0) != 0) ok = fail(why, errno_text("cannot truncate", host_path));
      store->end_ = 0;
      FolderRecord root;
      root.id = format::kRootFolderId;
      root.name = options.root_name;
      std::string bytes = encode_file(
          {FileHeaderRecord{format::kFormatVersion, new_store_id()}, FileLengthRecord{}, root});
      ok = ok && store->write_all(bytes, why) && store->read_new(true, why);
    }
  }
  store->unlock();
  if (!ok) return nullptr;
  return store;
}

bool Store::write_all(const std::string& bytes, std::string* why) {
  if (sx::kill_points::due("store-append-torn")) {
    if (::pwrite(fd_, bytes.data(), bytes.size() / 2, static_cast<off_t>(end_)) < 0) {
      // dying anyway
    }
    sx::kill_points::kill_now();
  }
  sx::kill_points::pass("store-append");
  std::uint64_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(end_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string reason = errno_text("cannot write", path_);
      if (::ftruncate(fd_, static_cast<off_t>(end_)) != 0) {
        // Left as a torn tail; the next writer cuts it off.
      }
      return fail(why, reason);
    }
    done += static_cast<std::uint64_t>(n);
  }
  if (model_->version() < 2) return true;
  // The records are whole: the file now records its new length.
  sx::kill_points::pass("store-commit");
  const std::string length = encode_record(FileLengthRecord{end_ + bytes.size()});
  if (::pwrite(fd_, length.data(), length.size(), static_cast<off_t>(format::kFileLengthOffset)) !=
      static_cast<ssize_t>(length.size())) {
    const std::string reason = errno_text("cannot record the length of", path_);
    if (::ftruncate(fd_, static_cast<off_t>(end_)) != 0) {
      // Past the recorded length, the records are not read; the next writer cuts them off.
    }
    return fail(why, reason);
  }
  return true;
}

bool Store::refresh(std::string* why) {
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) return fail(why, errno_text("store file is gone:", path_));
  if (static_cast<std::uint64_t>(st.st_ino) == file_id_ &&
      static_cast<std::uint64_t>(st.st_size) == seen_size_)
    return true;
  if (!lock(LOCK_SH, why)) return false;
  bool ok = read_new(false, why);
  unlock();
  return ok;
}

bool Store::change(const Builder& build, std::string* why) {
  // A program that reaches this Outlook from its own process writes as another program would.
  const bool from_another_program = sx::com::in_call_from_another_process();
  if (!lock(LOCK_EX, why)) return false;
  bool ok = read_new(false, why);
  if (ok && end_unsure_) {
    // An append would record a new length over the evidence that the end is missing.
    ok = fail(why, "the end of " + path_.string() +
                       " is missing or its length record is damaged; repair the file first");
  }
  if (ok && torn_tail_) {
    // What a writer left unfinished is cut off before anything is appended after it.
    if (::ftruncate(fd_, static_cast<off_t>(end_)) != 0)
      ok = fail(why, errno_text("cannot truncate", path_));
    torn_tail_ = false;
  }
  std::vector<Record> records;
  ok = ok && build(*model_, &records, why);
  if (ok) {
    std::string bytes;
    for (const Record& r : records) bytes += encode_record(r);
    ok = write_all(bytes, why);
    if (ok) {
      const std::uint64_t start = end_;
      end_ += bytes.size();
      seen_size_ = end_;
      for (Record& r : records) {
        const auto* put = std::get_if<ItemPutRecord>(&r);
        const std::uint64_t put_id = put != nullptr ? put->id : 0;
        std::string reason;
        if (!model_->apply(std::move(r), &reason)) {
          problems_.push_back({start, 0, reason});
        } else if (put_id != 0 && !from_another_program) {
          model_->mark_written_here(put_id);
        }
      }
    }
  }
  unlock();
  return ok;
}

bool Store::put_item(std::uint64_t* id, std::uint32_t folder, const ItemData& data,
                     std::string* why) {
  return change(
      [&](const StoreModel& m, std::vector<Record>* out, std::string* w) {
        if (m.folder(folder) == nullptr) return fail(w, "the folder no longer exists");
        if (*id == 0) *id = m.next_item_id();
        out->push_back(ItemPutRecord{*id, folder, data});
        return true;
      },
      why);
}

bool Store::delete_item(std::uint64_t id, std::string* why) {
  return change(
      [&](const StoreModel& m, std::vector<Record>* out, std::string* w) {
        if (m.item(id) == nullptr) return fail(w, "the item no longer exists");
        out->push_back(ItemDeleteRecord{id});
        return true;
      },
      why);
}

bool Store::put_folder(FolderRecord* folder, std::string* why) {
  return change(
      [&](const StoreModel& m, std::vector<Record>* out, std::string* w) {
        if (folder->id != format::kRootFolderId && m.folder(folder->parent) == nullptr)
          return fail(w, "the parent folder no longer exists");
        if (folder->id == 0) folder->id = m.next_folder_id();
        out->push_back(*folder);
        return true;
      },
      why);
}

bool Store::delete_folder(std::uint32_t id, std::string* why) {
  return change(
      [&](const StoreModel& m, std::vector<Record>* out, std::string* w) {
        if (id == format::kRootFolderId) return fail(w, "the root folder cannot be deleted");
        if (m.folder(id) == nullptr) return fail(w, "the folder no longer exists");
        out->push_back(FolderDeleteRecord{id});
        return true;
      },
      why);
}

// Keeps the file at `path` as "<path>.damaged-<N>" (the first N free). Returns that name, or empty
// with the reason.
std::filesystem::path keep_damaged_file(const std::filesystem::path& path, std::string* why) {
  for (int n = 1; n <= 9999; ++n) {
    std::filesystem::path copy = path;
    copy += ".damaged-" + std::to_string(n);
    if (::link(path.c_str(), copy.c_str()) == 0) return copy;
    if (errno == EEXIST) continue;
    std::error_code ec;  // no hard links here: copy the bytes instead
    if (std::filesystem::copy_file(path, copy, ec)) return copy;
    if (std::filesystem::exists(copy)) continue;
    fail(why, "the damaged store " + path.string() + " cannot be kept as " + copy.string() + ": " +
                  ec.message());
    return {};
  }
  fail(why, "every damaged-N name beside " + path.string() + " is taken");
  return {};
}

bool Store::compact(std::string* why, std::filesystem::path* kept_aside) {
  return rewrite(nullptr, why, kept_aside);
}

bool Store::take_new_identity(std::string* why) {
  const StoreId id = new_store_id();
  return rewrite(&id, why, nullptr);
}

bool Store::rewrite(const StoreId* new_id, std::string* why, std::filesystem::path* kept_aside) {
  if (kept_aside != nullptr) kept_aside->clear();
  if (!lock(LOCK_EX, why)) return false;
  bool ok = read_new(false, why);
  std::filesystem::path temp = path_;
  temp += ".compacting";
  if (ok && !problems_.empty()) {
    // The damaged bytes are not in the model: keep the whole old file before it is replaced.
    std::filesystem::path kept = keep_damaged_file(path_, why);
    ok = !kept.empty();
    if (ok && kept_aside != nullptr) *kept_aside = kept;
  }
  if (ok) {
    std::vector<Record> records = model_->snapshot();
    if (new_id != nullptr) std::get<FileHeaderRecord>(records.front()).store_id = *new_id;
    const std::string bytes = encode_file(records);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      ok = fail(why, errno_text("cannot create", temp));
    } else {
      std::size_t done = 0;
      while (ok && done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
          ok = fail(why, errno_text("cannot write", temp));
        else
          done += static_cast<std::size_t>(n);
      }
      if (ok && ::fsync(fd) != 0) ok = fail(why, errno_text("cannot flush", temp));
      ::close(fd);
      if (ok && ::rename(temp.c_str(), path_.c_str()) != 0)
        ok = fail(why, errno_text("cannot replace", path_));
      if (!ok) ::unlink(temp.c_str());
    }
  }
  unlock();
  if (!ok) return false;
  // Continue on the new file, read from its start.
  if (!open_fd(why)) return false;
  if (!lock(LOCK_SH, why)) return false;
  ok = read_new(true, why);
  unlock();
  return ok;
}

}  // namespace sx::outlook
