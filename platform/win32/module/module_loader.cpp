// LoadLibraryA and friends over dlopen, with the Windows lookup of names (see win32/module.h).
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "../files/boundary.h"
#include "elf_section.h"
#include "sx/ascii.h"
#include "sx/paths.h"
#include "win32/module.h"

namespace sx::modules {
namespace {

namespace fs = std::filesystem;

thread_local std::string t_last_load_error;

struct Module {
  fs::path host;  // the file as it was loaded
  int references = 0;
  bool pinned = false;  // found in the process, not loaded by us: never unloaded
  dev_t device = 0;
  ino_t inode = 0;
};

// The modules known to this process, by dlopen handle. Each entry holds one dlopen reference.
struct Registry {
  std::mutex mutex;
  std::map<void*, Module> modules;
  void* program = nullptr;
};

Registry& registry() {
  static Registry* r = new Registry();  // never destroyed: modules may be freed during exit
  return *r;
}

// Windows' default extension: "name" is "name.dll"; "name." is "name".
std::string with_default_extension(std::string text) {
  const std::size_t last_separator = text.find_last_of("\\/");
  const std::size_t start = last_separator == std::string::npos ? 0 : last_separator + 1;
  if (text.size() > start && text.back() == '.') {
    text.pop_back();
  } else if (text.find('.', start) == std::string::npos) {
    text += ".dll";
  }
  return text;
}

fs::path program_path() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self;
}

// Caller holds the registry lock. The running program's entry, made on first use.
void* program_handle(Registry& r) {
  if (r.program == nullptr) {
    r.program = ::dlopen(nullptr, RTLD_NOW);
    Module& m = r.modules[r.program];
    m.host = program_path();
    m.pinned = true;
  }
  return r.program;
}

// Caller holds the registry lock.
void* find_handle_by_file(Registry& r, const struct stat& st) {
  for (auto& [handle, module] : r.modules) {
    if (module.device == st.st_dev && module.inode == st.st_ino) return handle;
  }
  return nullptr;
}

void* find_handle_by_name(Registry& r, std::string_view file_name) {
  for (auto& [handle, module] : r.modules) {
    if (sx::ascii::equal_ignoring_case(module.host.filename().string(), file_name)) return handle;
  }
  return nullptr;
}

bool is_file(const fs::path& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A file in a host folder, by exact name and then ignoring case.
std::optional<fs::path> find_in_folder(const fs::path& folder, const std::string& name) {
  if (is_file(folder / name)) return folder / name;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (sx::ascii::equal_ignoring_case(it->path().filename().string(), name) &&
        is_file(it->path())) {
      return it->path();
    }
  }
  return std::nullopt;
}

// Whether the file starts like a shared library of this machine (ELF of our class and machine).
bool looks_loadable(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;  // let dlopen tell
  ElfW(Ehdr) header;
  const ssize_t n = ::pread(fd, &header, sizeof(header), 0);
  ::close(fd);
  if (n != static_cast<ssize_t>(sizeof(header))) return false;
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return false;
#if defined(__LP64__)
  if (header.e_ident[EI_CLASS] != ELFCLASS64) return false;
#else
  if (header.e_ident[EI_CLASS] != ELFCLASS32) return false;
#endif
#if defined(__x86_64__)
  if (header.e_machine != EM_X86_64) return false;
#elif defined(__aarch64__)
  if (header.e_machine != EM_AARCH64) return false;
#endif
  return header.e_type == ET_DYN;
}

HMODULE fail(DWORD error, std::string text) {
  t_last_load_error = std::move(text);
  SetLastError(error);
  return nullptr;
}

constexpr std::size_t kMaxDynamicSection = 1u << 20;

// Loads the libraries `library` needs that lie in its own folder (and, first, what they need from
// there), so that the host's loader takes them from there instead of searching. Libraries already
// in the process are left to it, as Windows uses a module already loaded. Returns the dlopen
// handles to close once `library` is loaded (which then holds them itself).
void preload_from_own_folder(const fs::path& library, std::set<fs::path>* visited,
                             std::vector<void*>* handles) {
  if (visited->size() > 64 || !visited->insert(library).second) return;
  const int fd = ::open(library.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  std::vector<std::string> needed;
  if (::fstat(fd, &st) == 0) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    const SectionResult dynamic = read_elf_section(fd, size, ".dynamic", kMaxDynamicSection);
    const SectionResult strings = read_elf_section(fd, size, ".dynstr", kMaxDynamicSection);
    if (dynamic.status == SectionStatus::kFound && strings.status == SectionStatus::kFound) {
      needed = needed_libraries(dynamic.content, strings.content);
    }
  }
  ::close(fd);
  for (const std::string& name : needed) {
    if (void* loaded = ::dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
      ::dlclose(loaded);
      continue;
    }
    const std::optional<fs::path> found = find_in_folder(library.parent_path(), name);
    if (!found || !looks_loadable(*found)) continue;
    preload_from_own_folder(*found, visited, handles);
    if (void* handle = ::dlopen(found->c_str(), RTLD_NOW | RTLD_LOCAL)) handles->push_back(handle);
  }
}

HMODULE load(const char* name, bool search_own_folder = false) {
  if (name == nullptr) return fail(ERROR_INVALID_PARAMETER, "no module name");
  std::string text(name);
  if (text.empty()) return fail(ERROR_MOD_NOT_FOUND, "empty module name");
  Registry& r = registry();

  fs::path host;
  if (text[0] == '/') {
    host = text;
  } else if (text.find_first_of("\\/:") != std::string::npos) {
    sx::paths::Mapped mapped = sx::paths::map(with_default_extension(text));
    if (mapped.error == ERROR_INVALID_NAME) return fail(ERROR_INVALID_NAME, "invalid name " + text);
    if (mapped.error != ERROR_SUCCESS) return fail(ERROR_MOD_NOT_FOUND, "cannot map " + text);
    host = mapped.host;
  } else {
    const std::string file_name = with_default_extension(text);
    {
      std::lock_guard lock(r.mutex);
      if (void* handle = find_handle_by_name(r, file_name)) {
        ++r.modules[handle].references;
        SetLastError(ERROR_SUCCESS);
        return static_cast<HMODULE>(handle);
      }
    }
    std::optional<fs::path> found;
    sx::paths::Mapped in_system = sx::paths::map("C:\\Windows\\System32\\" + file_name);
    if (in_system.error == ERROR_SUCCESS && is_file(in_system.host)) found = in_system.host;
    if (!found) found = find_in_folder(program_path().parent_path(), file_name);
    if (!found) return fail(ERROR_MOD_NOT_FOUND, file_name + ": not found");
    host = *found;
  }

  struct stat st;
  if (::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return fail(ERROR_MOD_NOT_FOUND, host.string() + ": no such file");
  }
  {
    std::lock_guard lock(r.mutex);
    if (void* handle = find_handle_by_file(r, st)) {
      ++r.modules[handle].references;
      SetLastError(ERROR_SUCCESS);
      return static_cast<HMODULE>(handle);
    }
  }
  if (!looks_loadable(host)) {
    return fail(ERROR_BAD_EXE_FORMAT, host.string() + ": not a shared library of this machine");
  }
  // Without the registry lock: the library's constructors may load modules themselves.
  std::vector<void*> preloaded;
  if (search_own_folder) {
    std::set<fs::path> visited;
    preload_from_own_folder(host, &visited, &preloaded);
  }
  void* handle = ::dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
  for (void* p : preloaded) ::dlclose(p);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    std::string message = why ? why : "dlopen failed";
    const bool bad_format = message.find("cannot dynamically load") != std::string::npos ||
                            message.find("ELF") != std::string::npos ||
                            message.find("file too short") != std::string::npos;
    return fail(bad_format ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND, std::move(message));
  }
  bool extra_reference = false;
  {
    std::lock_guard lock(r.mutex);
    auto [it, inserted] = r.modules.try_emplace(handle);
    Module& m = it->second;
    if (inserted) {
      m.host = host.lexically_normal();
      m.device = st.st_dev;
      m.inode = st.st_ino;
    } else {
      extra_reference = true;  // loaded meanwhile by another thread, or found earlier as pinned
    }
    ++m.references;
  }
  if (extra_reference) ::dlclose(handle);
  SetLastError(ERROR_SUCCESS);
  return static_cast<HMODULE>(handle);
}

// A module loaded into the process by other means than LoadLibraryA, by file name.
void* find_loaded_elsewhere(const std::string& file_name) {
  struct Search {
    const std::string* name;
    std::string path;
  } search{&file_name, {}};
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) -> int {
        auto* s = static_cast<Search*>(data);
        if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
        const std::string path = info->dlpi_name;
        if (sx::ascii::equal_ignoring_case(fs::path(path).filename().string(), *s->name)) {
          s->path = path;
          return 1;
        }
        return 0;
      },
      &search);
  if (search.path.empty()) return nullptr;
  void* handle = ::dlopen(search.path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return nullptr;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto [it, inserted] = r.modules.try_emplace(handle);
  if (inserted) {
    it->second.host = search.path;
    it->second.pinned = true;
    struct stat st;
    if (::stat(search.path.c_str(), &st) == 0) {
      it->second.device = st.st_dev;
      it->second.inode = st.st_ino;
    }
  } else {
    ::dlclose(handle);  // already known: keep the one reference the entry holds
  }
  return handle;
}

}  // namespace

std::string last_load_error() { return t_last_load_error; }

}  // namespace sx::modules

using sx::files::guarded;

extern "C" {

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  return guarded<HMODULE>(nullptr, [&] { return sx::modules::load(lpLibFileName); });
}

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  return guarded<HMODULE>(nullptr, [&]() -> HMODULE {
    if (hFile != nullptr || (dwFlags & ~LOAD_WITH_ALTERED_SEARCH_PATH) != 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    // The altered search applies to a module named by its path; a bare name searches as usual.
    const bool own_folder =
        (dwFlags & LOAD_WITH_ALTERED_SEARCH_PATH) && lpLibFileName != nullptr &&
        std::string_view(lpLibFileName).find_first_of("\\/:") != std::string_view::npos;
    return sx::modules::load(lpLibFileName, own_folder);
  });
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  return guarded<FARPROC>(nullptr, [&]() -> FARPROC {
    auto& r = sx::modules::registry();
    std::lock_guard lock(r.mutex);
    void* handle = hModule ? static_cast<void*>(hModule) : sx::modules::program_handle(r);
    if (r.modules.find(handle) == r.modules.end()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    if (reinterpret_cast<std::uintptr_t>(lpProcName) < 0x10000) {
      SetLastError(ERROR_PROC_NOT_FOUND);  // ordinals do not exist here
      return nullptr;
    }
    void* symbol = ::dlsym(handle, lpProcName);
    if (symbol == nullptr) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
  });
}

BOOL FreeLibrary(HMODULE hLibModule) {
  return guarded(FALSE, [&]() -> BOOL {
    auto& r = sx::modules::registry();
    void* unload = nullptr;
    {
      std::lock_guard lock(r.mutex);
      auto it = r.modules.find(static_cast<void*>(hLibModule));
      if (it == r.modules.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
      }
      if (it->second.references > 0) --it->second.references;
      if (it->second.references == 0 && !it->second.pinned) {
        unload = it->first;
        r.modules.erase(it);
      }
    }
    if (unload) ::dlclose(unload);  // without the lock: destructors may free modules too
    return TRUE;
  });
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  return guarded<HMODULE>(nullptr, [&]() -> HMODULE {
    auto& r = sx::modules::registry();
    if (lpModuleName == nullptr) {
      std::lock_guard lock(r.mutex);
      return static_cast<HMODULE>(sx::modules::program_handle(r));
    }
    const std::string text(lpModuleName);
    if (text.find_first_of("\\/:") != std::string::npos) {
      const std::filesystem::path host =
          text[0] == '/' ? std::filesystem::path(text)
                         : sx::paths::to_host(sx::modules::with_default_extension(text));
      struct stat st;
      if (!host.empty() && ::stat(host.c_str(), &st) == 0) {
        std::lock_guard lock(r.mutex);
        if (void* handle = sx::modules::find_handle_by_file(r, st)) {
          return static_cast<HMODULE>(handle);
        }
      }
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    const std::string file_name = sx::modules::with_default_extension(text);
    {
      std::lock_guard lock(r.mutex);
      if (void* handle = sx::modules::find_handle_by_name(r, file_name)) {
        return static_cast<HMODULE>(handle);
      }
    }
    if (void* handle = sx::modules::find_loaded_elsewhere(file_name)) {
      return static_cast<HMODULE>(handle);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  });
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  return guarded<DWORD>(0, [&]() -> DWORD {
    std::string name;
    {
      auto& r = sx::modules::registry();
      std::lock_guard lock(r.mutex);
      void* handle = hModule ? static_cast<void*>(hModule) : sx::modules::program_handle(r);
      auto it = r.modules.find(handle);
      if (it == r.modules.end()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
      }
      name = sx::paths::to_windows(it->second.host);
      if (name.empty()) name = it->second.host.string();
    }
    if (lpFilename == nullptr || nSize == 0) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    if (name.size() + 1 > nSize) {
      std::memcpy(lpFilename, name.data(), nSize - 1);
      lpFilename[nSize - 1] = '\0';
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return nSize;
    }
    std::memcpy(lpFilename, name.c_str(), name.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(name.size());
  });
}

}  // extern "C"
