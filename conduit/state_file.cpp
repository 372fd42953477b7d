#include "state_file.h"

#include <cstring>

#include "des.h"
#include "hotsync/hslog.h"
#include "hotsync/syncmgr.h"
#include "note_database.h"
#include "progress.h"
#include "resources.h"
#include "scribbix/desktop_files.h"
#include "settings.h"
#include "windows.h"

namespace sx::conduit {
namespace {

constexpr DWORD kEncipheredBit = 0x80000000u;

const DesKeySchedule& state_key() {
  static const DesKeySchedule schedule = des_key_schedule(kStateFileKey);
  return schedule;
}

std::uint32_t get(const BYTE* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

// Seconds since 1970 of a file time (100 ns since 1601).
DWORD unix_seconds(const FILETIME& time) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  constexpr std::uint64_t kEpoch = 116444736000000000ull;
  return ticks <= kEpoch ? 0 : static_cast<DWORD>((ticks - kEpoch) / 10000000ull);
}

struct HandleCloser {
  HANDLE handle;
  ~HandleCloser() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

std::string record_fault(std::size_t number, const std::string& what) {
  return "record " + std::to_string(number) + ": " + what;
}

}  // namespace

std::string state_file_path(const std::string& conduit_dir, const std::string& desktop_file) {
  return conduit_dir + sx::common::StateFileName(desktop_file);
}

std::unique_ptr<NoteRecord> make_state_note() {
  auto note = std::make_unique<NoteRecord>();
  note->protect_in_state_file = true;
  return note;
}

namespace {

// Appends the record of `note` to `out`; false (nothing appended) when it is too long.
bool append_state_record(SyncRecord& note, std::vector<BYTE>& out) {
  const std::size_t packed = note.packedSize();
  if (packed > kMaxStatePacked) return false;
  const bool encipher = note.protect_in_state_file;
  const std::size_t length = encipher ? (packed + 7) / 8 * 8 : packed;
  const std::size_t start = out.size();
  out.resize(start + kStateHeaderSize + length, 0);
  BYTE* data = out.data() + start + kStateHeaderSize;
  note.pack(data, packed);
  RecordInfoBlock& info = note.info();
  if (encipher) {
    info.m_dwReserved = kEncipheredBit + static_cast<DWORD>(packed);
    des_ecb_encrypt(state_key(), data, length);
  }
  BYTE* p = out.data() + start;
  auto put = [&p](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) *p++ = static_cast<BYTE>(value >> (8 * i));
  };
  put(info.m_FileHandle, 1);
  put(info.m_RecId, 4);
  put(info.m_RecIndex, 2);
  put(info.m_Attribs, 1);
  put(static_cast<WORD>(info.m_CatId), 2);
  put(info.m_ConduitId, 4);
  put(info.m_RecSize, 4);
  put(info.m_TotalBytes, 2);
  put(0, 4);  // the buffer pointer means nothing in a file
  put(encipher ? info.m_dwReserved : 0, 4);
  put(static_cast<std::uint32_t>(length), 4);
  return true;
}

}  // namespace

std::vector<BYTE> state_record_bytes(SyncRecord& note) {
  std::vector<BYTE> out;
  append_state_record(note, out);
  return out;
}

std::vector<BYTE> state_file_bytes(NoteDatabase& database,
                                   const std::function<void(NoteRecord&)>& each) {
  std::vector<BYTE> out;
  out.reserve(database.notes().size() * 128);  // a typical note's record, so rarely a regrowth
  for (auto& [id, note] : database.notes()) {
    if (note->isMarkedForDeletion() || note->isDeletedOrArchived()) continue;
    if (each) each(*note);
    // A note longer than a record can say is left out: next time it reads as new on the desktop.
    append_state_record(*note, out);
  }
  return out;
}

long decode_state_record(const BYTE* p, std::size_t size, SyncRecord& into, std::size_t* used,
                         std::string* why) {
  auto fail = [&](const std::string& what) {
    if (why != nullptr) *why = what;
    return kStateFileDamaged;
  };
  if (size < kStateHeaderSize) return fail("the file ends inside its header");
  RecordInfoBlock& info = into.info();
  info.m_FileHandle = p[0];
  info.m_RecId = get(p + 1, 4);
  info.m_RecIndex = static_cast<WORD>(get(p + 5, 2));
  info.m_Attribs = p[7];
  info.m_CatId = static_cast<SHORT>(get(p + 8, 2));
  info.m_ConduitId = get(p + 10, 4);
  info.m_RecSize = get(p + 14, 4);
  info.m_TotalBytes = static_cast<WORD>(get(p + 18, 2));
  info.m_pBytes = nullptr;
  info.m_dwReserved = get(p + 24, 4);
  const std::size_t length = get(p + 28, 4);
  if (length > kMaxStateData) return fail("length " + std::to_string(length) + " too large");
  if (length > size - kStateHeaderSize) return fail("the file ends inside its note");
  thread_local std::vector<BYTE> plain;  // reused: one allocation for the whole file
  plain.assign(p + kStateHeaderSize, p + kStateHeaderSize + length);
  std::size_t true_length = length;
  if ((info.m_dwReserved & kEncipheredBit) != 0) {
    true_length = info.m_dwReserved & 0xFFFF;
    if (length % 8 != 0 || true_length > length || length - true_length >= 8) {
      return fail("enciphered length " + std::to_string(length) + " does not hold " +
                  std::to_string(true_length) + " bytes");
    }
    des_ecb_decrypt(state_key(), plain.data(), plain.size());
  }
  if (!into.unpack(plain.data(), true_length, why)) return kStateFileDamaged;
  *used = kStateHeaderSize + length;
  return 0;
}

long parse_state_bytes(const BYTE* data, std::size_t size, NoteDatabase& into, std::string* why,
                       const NoteMaker& make, const std::function<void(NoteRecord&)>& each,
                       const DuplicateRecord& duplicate) {
  std::size_t offset = 0;
  for (std::size_t number = 1; offset < size; ++number) {
    auto note = make();
    std::size_t used = 0;
    std::string what;
    if (long r = decode_state_record(data + offset, size - offset, *note, &used, &what)) {
      if (why != nullptr) *why = record_fault(number, what);
      return r;
    }
    offset += used;
    note->category().set(note->info().m_CatId);
    note->privateFlag().setBool((note->info().m_Attribs & kAttrPrivate) != 0);
    note->clearChangedMarks();
    note->applyMod();
    NoteRecord& kept = *note;
    const std::int32_t id = kept.noteId();
    if (!into.insert(std::move(note))) {  // the ID came before: the record is dropped
      if (duplicate) duplicate(id, number);
      continue;
    }
    if (each) each(kept);
  }
  return 0;
}

bool check_state_file_bytes(const BYTE* data, std::size_t size) {
  NoteDatabase first("check", nullptr, false, IDS_DESKTOP_DB);
  std::string why;
  if (parse_state_bytes(data, size, first, &why) != 0) return !why.empty();
  const auto again_bytes = state_file_bytes(first);
  NoteDatabase again("check", nullptr, false, IDS_DESKTOP_DB);
  if (parse_state_bytes(again_bytes.data(), again_bytes.size(), again, &why) != 0) return false;
  for (const auto& [id, note] : first.notes()) {
    if (note->isDeletedOrArchived()) continue;
    const NoteRecord* other = again.find(id);
    if (other == nullptr) return false;
    for (std::size_t i = 0; i < note->fields().size(); ++i) {
      if (!note->field(i).equals(other->field(i))) return false;
    }
    if (!note->category().equals(other->category()) ||
        !note->privateFlag().equals(other->privateFlag())) {
      return false;
    }
  }
  return true;
}

namespace {

// Removes "<path>.tmp*" files that no writer holds open: a writer keeps its temporary open without
// sharing until it has written it, so what can be deleted was left by a writer that was killed.
// (A writer between closing its temporary and renaming it loses the rename and reports it; the
// previous state file stays.)
void remove_stale_temporaries(const std::string& path, const std::string& own) {
  const auto slash = path.find_last_of('\\');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((path + ".tmp*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  for (const auto& name : names) {
    if (folder + name != own) DeleteFileA((folder + name).c_str());
  }
}

}  // namespace

long write_state_file(const std::string& path, NoteDatabase& database) {
  try {
    progress().step(5, database);
    const auto bytes = state_file_bytes(database, [](NoteRecord& note) {
      progress().item(3, note);
      SyncYieldCycles(1);
    });
    const std::string aside = path + ".tmp" + std::to_string(GetCurrentProcessId());
    remove_stale_temporaries(path, aside);
    auto failed = [&](const char* what) {
      const DWORD error = GetLastError();
      DeleteFileA(aside.c_str());
      log_line(format_string(IDS_STATE_NOT_WRITTEN, path.c_str(),
                             (std::string(what) + ", error " + std::to_string(error)).c_str()),
               slWarning);
      return kStateFileNotWritten;
    };
    {
      HandleCloser file{CreateFileA(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr)};
      if (file.handle == INVALID_HANDLE_VALUE) return failed("cannot create");
      DWORD written = 0;
      if (!bytes.empty() && (WriteFile(file.handle, bytes.data(), static_cast<DWORD>(bytes.size()),
                                       &written, nullptr) == FALSE ||
                             written != bytes.size())) {
        return failed("cannot write");
      }
      if (FlushFileBuffers(file.handle) == FALSE) return failed("cannot write");
    }
    if (MoveFileExA(aside.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
      return failed("cannot replace");
    }
    return 0;
  } catch (...) {
    return kStateFileNotWritten;
  }
}

long read_state_file(const std::string& path, NoteDatabase& into, const NoteMaker& make) {
  try {
    std::vector<BYTE> bytes;
    {
      HandleCloser file{CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
      if (file.handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;  // first sync
        // A state file that is there but cannot be read is not the same as none: without it every
        // desktop note would look changed.
        const std::string why = "it cannot be opened, error " + std::to_string(error);
        log_line(format_string(IDS_STATE_DAMAGED, path.c_str(), why.c_str()), slWarning);
        return kStateFileDamaged;
      }
      FILETIME written{};
      if (GetFileTime(file.handle, nullptr, nullptr, &written)) {
        into.modification_time = unix_seconds(written);
      }
      DWORD high = 0;
      const DWORD low = GetFileSize(file.handle, &high);
      if (high != 0 || low == INVALID_FILE_SIZE) {
        log_line(format_string(IDS_STATE_DAMAGED, path.c_str(), "too large to read"), slWarning);
        return kStateFileDamaged;
      }
      bytes.resize(low);
      DWORD read = 0;
      if (low != 0 && (ReadFile(file.handle, bytes.data(), low, &read, nullptr) == FALSE)) {
        read = 0;
      }
      bytes.resize(read);  // a short read is seen as a cut file below
    }
    progress().step(1, into);
    std::string why;
    const long result = parse_state_bytes(
        bytes.data(), bytes.size(), into, &why, make,
        [](NoteRecord& note) {
          SyncYieldCycles(1);
          progress().item(1, note);
        },
        [&path](std::int32_t id, std::size_t record) {
          log_line(format_string(IDS_STATE_DUPLICATE, path.c_str(), static_cast<long>(id),
                                 static_cast<unsigned long>(record)),
                   slText);
        });
    if (result != 0) {
      log_line(format_string(IDS_STATE_DAMAGED, path.c_str(), why.c_str()), slWarning);
    }
    return result;
  } catch (...) {
    return kStateFileDamaged;
  }
}

}  // namespace sx::conduit
