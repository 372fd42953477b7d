#include "sx/outlook/install.h"

#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <fstream>

#include "outlook/outlook.h"
#include "sx/machine.h"
#include "sx/outlook/profiles.h"
#include "sx/outlook/store.h"
#include "sx/paths.h"
#include "sx/version_stamp.h"

namespace sx::outlook {

namespace {

bool fail(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return false;
}

std::string clsid_text() {
  OLECHAR* text = nullptr;
  StringFromCLSID(CLSID_OutlookApplication, &text);
  std::string out = sx::com::u16_to_utf8(text ? std::u16string_view(text) : std::u16string_view());
  CoTaskMemFree(text);
  return out;
}

bool set_default(const std::string& key_path, const std::string& name, const std::string& value) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueExA(key, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

// Writes a stand-in file (when missing) and stamps it with a version block.
bool stamp(const std::filesystem::path& file, const std::string& version,
           const std::string& description, std::string* why) {
  if (!std::filesystem::exists(file)) {
    std::ofstream(file, std::ios::binary) << "Outlook stand-in: served in-process by sxoutlook.\n";
  }
  sx::version::StampInfo info;
  info.values = {{"FileVersion", version},
                 {"ProductVersion", version},
                 {"ProductName", "Microsoft Outlook"},
                 {"FileDescription", description},
                 {"CompanyName", "Microsoft Corporation"}};
  return sx::version::stamp_file(file, info, why);
}

// HKEY_USERS\<path>: a 32-bit value, the key created when missing.
bool set_user_dword(const char* path, const char* name, DWORD value) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_USERS, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const LONG rc =
      RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

bool set_outlook_process(bool on, const std::filesystem::path& program, std::string* why) {
  if (on && program.empty()) return fail(why, "no Outlook program given");
  std::string version = installed_version();
  if (version.empty()) return fail(why, "Outlook is not installed");
  const std::filesystem::path exe = sx::paths::to_host(kServerPath);
  {
    std::ofstream out(exe, std::ios::binary | std::ios::trunc);
    if (on) {
      // The machine of the process that starts it (a copy of this machine for a preview), else
      // this one.
      out << "#!/bin/sh\n# Outlook of this simulated machine\nmachine=${SX_MACHINE:-"
          << shell_quote(sx::machine::root().string()) << "}\nexec "
          << shell_quote(std::filesystem::absolute(program).string())
          << " --machine \"$machine\" \"$@\"\n";
    } else {
      out << "Outlook stand-in: served in-process by sxoutlook.\n";
    }
    if (!out) return fail(why, "cannot write " + exe.string());
  }
  if (::chmod(exe.c_str(), on ? 0755 : 0644) != 0)
    return fail(why, "cannot change " + exe.string());
  std::string reason;
  if (!stamp(exe, version, "Microsoft Outlook", &reason))
    return fail(why, "cannot stamp OUTLOOK.EXE: " + reason);
  return true;
}

bool outlook_process_on() {
  const std::filesystem::path exe = sx::paths::to_host(kServerPath);
  return !exe.empty() && ::access(exe.c_str(), X_OK) == 0;
}

bool install(const InstallOptions& options, std::string* why) {
  const std::string clsid = clsid_text();
  const bool registered = set_default(kProgId, "", "Microsoft Outlook") &&
                          set_default(std::string(kProgId) + "\\CLSID", "", clsid) &&
                          set_default("CLSID\\" + clsid, "", "Microsoft Outlook") &&
                          set_default("CLSID\\" + clsid + "\\ProgID", "", kProgId) &&
                          set_default("CLSID\\" + clsid + "\\LocalServer32", "", kServerPath);
  if (!registered) return fail(why, "cannot write Outlook's class registration");

  const std::filesystem::path exe = sx::paths::to_host(kServerPath);
  std::error_code ec;
  std::filesystem::create_directories(exe.parent_path(), ec);
  std::string reason;
  if (!stamp(exe, options.version, "Microsoft Outlook", &reason))
    return fail(why, "cannot stamp OUTLOOK.EXE: " + reason);
  // The library files beside it, each with its own version; an empty version leaves one out.
  const struct {
    const char* name;
    const std::string& version;
    const char* description;
  } libraries[] = {{"outlrpc.dll", options.outlrpc_version, "Microsoft Outlook RPC"},
                   {"1033\\outllibr.dll", options.outllibr_version, "Microsoft Outlook Resources"}};
  for (const auto& library : libraries) {
    const std::filesystem::path file =
        sx::paths::to_host(std::string(kServerDirectory) + library.name);
    if (library.version.empty()) {
      std::filesystem::remove(file, ec);
      continue;
    }
    std::filesystem::create_directories(file.parent_path(), ec);
    if (!stamp(file, library.version, library.description, &reason))
      return fail(why, std::string("cannot stamp ") + library.name + ": " + reason);
  }
  if (options.editor_preferences &&
      !set_user_dword(kEditorPreferencesKey, "EditorPreferences", *options.editor_preferences))
    return fail(why, "cannot write EditorPreferences");

  if (!profiles::create(options.profile, true, &reason)) return fail(why, reason);
  std::vector<std::string> stores = profiles::stores(options.profile);
  bool listed = false;
  for (const std::string& s : stores) listed = listed || equal_ignoring_case(s, options.store_path);
  const std::filesystem::path host = sx::paths::to_host(options.store_path);
  if (host.empty()) return fail(why, "bad store path " + options.store_path);
  Store::Options open;
  open.create_if_missing = true;
  auto store = Store::open(host, open, &reason);
  if (!store) return fail(why, reason);
  // The default folders, when the store does not have them yet.
  bool ok = store->change(
      [](const StoreModel& m, std::vector<Record>* out, std::string*) {
        bool has_contacts = false, has_inbox = false;
        for (std::uint32_t c : m.root()->children) {
          has_contacts = has_contacts || m.folder(c)->record.role == FolderRole::kContacts;
          has_inbox = has_inbox || m.folder(c)->record.role == FolderRole::kInbox;
        }
        std::uint32_t next = m.next_folder_id();
        if (!has_inbox)
          out->push_back(FolderRecord{next++, format::kRootFolderId, "Inbox", kMailItemType,
                                      "IPM.Note", FolderRole::kInbox});
        if (!has_contacts)
          out->push_back(FolderRecord{next++, format::kRootFolderId, "Contacts", kContactItemType,
                                      "IPM.Contact", FolderRole::kContacts});
        return true;
      },
      &reason);
  if (!ok) return fail(why, reason);
  if (!listed) {
    stores.insert(stores.begin(), options.store_path);
    if (!profiles::set_stores(options.profile, stores, &reason)) return fail(why, reason);
  }
  return true;
}

std::string installed_version() {
  const std::string key = "CLSID\\" + clsid_text() + "\\LocalServer32";
  char path[1024];
  LONG size = sizeof path;
  if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), path, &size) != ERROR_SUCCESS) return "";
  path[sizeof path - 1] = '\0';
  DWORD handle = 0;
  DWORD bytes = GetFileVersionInfoSizeA(path, &handle);
  if (bytes == 0) return "";
  std::string block(bytes, '\0');
  if (!GetFileVersionInfoA(path, 0, bytes, block.data())) return "";
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\FileVersion", &value, &length) ||
      value == nullptr)
    return "";
  std::string text(static_cast<const char*>(value), length);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace sx::outlook
