// SXOut's exports. Each catches everything: no exception crosses into HotSync Manager.
#include <cstring>

#include "com/hresult.h"
#include "com/runtime.h"
#include "conduit_run.h"
#include "hotsync/actiondlg.h"
#include "hotsync/condapi.h"
#include "registration.h"
#include "resources.h"
#include "settings.h"
#include "windows.h"

using namespace sx::conduit;

namespace {

// Copies `text` into `out` (room bytes, NUL-terminated, cut to fit).
void copy_text(const std::string& text, char* out, std::size_t room) {
  if (room == 0) return;
  const std::size_t n = std::min(text.size(), room - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// Shows HotSync's action dialog; 0 and the new type/permanence when confirmed, -1 when not.
long run_action_dialog(int current, int* new_type, int* permanence) {
  char name[80] = {};
  if (load_string(module_instance(), IDS_CONDUIT_NAME, name, sizeof name) == 0) {
    copy_text(load_string(IDS_CONDUIT_NAME).value_or(""), name, sizeof name);
  }
  CHotSyncActionDlg dialog;
  dialog.m_csCaption = name;
  dialog.m_nActionIndex = action_index_for_sync_type(current);
  if (dialog.DoModal() != IDOK) return -1;
  *new_type = sync_type_for_action_index(dialog.m_nActionIndex);
  *permanence = dialog.m_bMakeDefault ? ePermanentPreference : eTemporaryPreference;
  return 0;
}

// The module enters COM on the thread that loads it and leaves it when it is unloaded. When that
// thread has ended first (the process exits: a thread's own data goes before the modules' globals)
// its apartment ended with it, and there is nothing left to leave.
bool g_loading_thread_ended = false;
struct LoadingThread {
  ~LoadingThread() { g_loading_thread_ended = true; }
};
thread_local LoadingThread t_loading_thread;

struct ModuleApartment {
  ModuleApartment() : entered(SUCCEEDED(CoInitialize(nullptr))) {
    (void)&t_loading_thread;  // made after the thread's apartment, so it ends before it
  }
  ~ModuleApartment() {
    if (entered && !g_loading_thread_ended) CoUninitialize();
  }
  bool entered;
} g_module_apartment;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) long OpenConduit(PROGRESSFN progress,
                                                        SyncProperties* properties) {
  if (progress == nullptr || properties == nullptr) return -1;
  try {
    initialise_module();
    ConduitRun run(progress, properties, module_instance());
    return run.run();
  } catch (...) {
    return SYNCERR_UNKNOWN;
  }
}

__attribute__((visibility("default"))) long GetConduitName(char* buffer, WORD size) {
  try {
    initialise_module();
    if (buffer == nullptr || size == 0) return -1;
    auto name = load_string(IDS_CONDUIT_NAME);
    if (!name) return -1;
    copy_text(*name, buffer, size);
    return 0;
  } catch (...) {
    return -1;
  }
}

__attribute__((visibility("default"))) DWORD GetConduitVersion() { return 0x108; }

__attribute__((visibility("default"))) long GetConduitInfo(int kind, void* argument, void* out,
                                                           DWORD* size) {
  try {
    initialise_module();
    if (out == nullptr) return 0x1071;
    if (size == nullptr) return 0x1077;
    switch (kind) {
      case eConduitName: {
        if (argument == nullptr) return 0x1074;
        DWORD words[2];
        std::memcpy(words, argument, sizeof words);
        if (words[0] != 1 || words[1] != 80) return 0x1075;
        auto name = load_string(IDS_CONDUIT_NAME);
        if (!name) return 0x1076;
        copy_text(*name, static_cast<char*>(out), *size);
        return 0;
      }
      case eMfcVersion:
      case eDefaultAction: {
        if (*size != 4) return 0x1073;
        const DWORD value = kind == eMfcVersion ? 0x500 : 0;
        std::memcpy(out, &value, 4);
        return 0;
      }
      default:
        return 0x1070;
    }
  } catch (...) {
    return 0x1070;
  }
}

__attribute__((visibility("default"))) long ConfigureConduit(CSyncPreference* preference) {
  try {
    initialise_module();
    if (preference == nullptr) return -1;
    preference->m_SyncPref = 0;
    int type = 0, permanence = 0;
    if (run_action_dialog(preference->m_SyncType, &type, &permanence) != 0) return -1;
    preference->m_SyncType = type;
    preference->m_SyncPref = permanence;
    return 0;
  } catch (...) {
    return -1;
  }
}

__attribute__((visibility("default"))) long CfgConduit(int kind, void* info_pointer, DWORD* size) {
  try {
    initialise_module();
    if (info_pointer == nullptr) return 0x1074;
    if (size == nullptr) return 0x1078;
    if (*size != sizeof(CfgConduitInfo)) return 0x107A;
    if (kind != eConfig1) return 0x1079;
    auto* info = static_cast<CfgConduitInfo*>(info_pointer);
    if (info->dwVersion != 1) return 0x107B;
    ConduitRequestInfo request{};
    request.dwVersion = 1;
    request.dwSize = 80;
    request.dwCreatorId = info->dwCreatorId;
    request.dwUserId = info->dwUserId;
    copy_text(std::string(info->szUser, strnlen(info->szUser, sizeof info->szUser)), request.szUser,
              sizeof request.szUser);
    char name[256] = {};
    DWORD name_size = sizeof name;
    if (long r = GetConduitInfo(eConduitName, &request, name, &name_size)) return r;
    int type = 0, permanence = 0;
    if (run_action_dialog(info->syncCurrent, &type, &permanence) != 0) return -1;
    info->syncNew = type;
    info->syncPermanent = permanence;
    return 0;
  } catch (...) {
    return -1;
  }
}

__attribute__((visibility("default"))) long DllRegisterServer() {
  try {
    initialise_module();
    return register_conduit();
  } catch (...) {
    return E_FAIL;
  }
}

__attribute__((visibility("default"))) long DllUnregisterServer() {
  try {
    initialise_module();
    return unregister_conduit();
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
