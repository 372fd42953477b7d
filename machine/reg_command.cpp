// sxmachine reg query|add|delete: Windows's reg.exe on the simulated machine's registry.
//
// Arguments and output are UTF-8; the registry holds the ANSI code page, converted both ways here.
#include <strings.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "terminal_text.h"
#include "win32/registry.h"

namespace sx::machine_tool {

const char* const kRegHelp =
    "Usage: sxmachine reg query  KEY [/v NAME | /ve]\n"
    "       sxmachine reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
    "       sxmachine reg delete KEY [/v NAME | /ve | /va] /f\n"
    "\n"
    "KEY is ROOT\\Path\\To\\Key; ROOT is HKLM, HKCU, HKCR, HKU or the full name\n"
    "(HKEY_LOCAL_MACHINE, ...). Quote keys and texts that hold spaces.\n"
    "\n"
    "  /v NAME  the value NAME          /ve  the default (unnamed) value\n"
    "  /va      every value of the key  /t   REG_SZ (default), REG_EXPAND_SZ, REG_DWORD\n"
    "  /d DATA  the data (a REG_DWORD   or REG_BINARY\n"
    "           in decimal or 0x hex,   /f   do it without asking: reg.exe would ask before\n"
    "           REG_BINARY as hex)           replacing a value or deleting; this tool\n"
    "                                        cannot ask and refuses instead\n"
    "\n"
    "query prints the key, its values (name, type, data) and its subkeys. delete without /v,\n"
    "/ve or /va deletes the key with all its subkeys. The exit code is 0 on success, 1 on "
    "failure.\n";

namespace {

const char* const kDone = "The operation completed successfully.\n";
const char* const kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.\n";

struct RootName {
  const char* abbreviation;
  const char* full;
  HKEY key;
};
const RootName kRoots[] = {{"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                           {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                           {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                           {"HKU", "HKEY_USERS", HKEY_USERS}};

const char* const kTypeNames[] = {"REG_NONE",
                                  "REG_SZ",
                                  "REG_EXPAND_SZ",
                                  "REG_BINARY",
                                  "REG_DWORD",
                                  "REG_DWORD_BIG_ENDIAN",
                                  "REG_LINK",
                                  "REG_MULTI_SZ",
                                  "REG_RESOURCE_LIST",
                                  "REG_FULL_RESOURCE_DESCRIPTOR",
                                  "REG_RESOURCE_REQUIREMENTS_LIST",
                                  "REG_QWORD"};

bool equals_nocase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// A parsed command line.
struct Command {
  std::string op;
  HKEY root = nullptr;
  std::string shown_key;  // as printed: full root name and the path as given (UTF-8)
  std::string path;       // below the root, ANSI
  bool has_name = false;  // /v or /ve
  std::string name;       // ANSI; "" with /ve
  bool all_values = false;
  bool has_type = false;
  std::string type = "REG_SZ";
  bool has_data = false;
  std::string data;  // UTF-8 as given
  bool force = false;
};

struct SyntaxError {
  std::string why;
};

std::string to_ansi(const std::string& utf8, const char* what) {
  auto ansi = terminal_to_ansi(utf8);
  if (!ansi)
    throw SyntaxError{std::string(what) + " has characters that the ANSI code page cannot hold"};
  return *ansi;
}

bool is_switch(const std::string& arg, const char* name) {
  return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') && equals_nocase(arg.substr(1), name);
}

void parse_key(const std::string& arg, Command* cmd) {
  std::string text = arg;
  while (text.size() > 1 && text.back() == '\\') text.pop_back();
  std::size_t cut = text.find('\\');
  std::string root = text.substr(0, cut);
  for (const RootName& r : kRoots) {
    if (equals_nocase(root, r.abbreviation) || equals_nocase(root, r.full)) {
      cmd->root = r.key;
      cmd->path = cut == std::string::npos ? "" : to_ansi(text.substr(cut + 1), "The key");
      cmd->shown_key = std::string(r.full) + (cut == std::string::npos ? "" : text.substr(cut));
      return;
    }
  }
  throw SyntaxError{"Invalid key name \"" + arg +
                    "\"; it must start with HKLM, HKCU, HKCR or HKU."};
}

Command parse(const Args& args) {
  Command cmd;
  cmd.op = args[0];
  if (args.size() < 2) throw SyntaxError{"A key is missing."};
  parse_key(args[1], &cmd);
  auto needs_value = [&](std::size_t i) {
    if (i + 1 >= args.size()) throw SyntaxError{args[i] + " needs a value."};
    return args[i + 1];
  };
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (is_switch(a, "v") && !cmd.has_name) {
      cmd.has_name = true;
      cmd.name = to_ansi(needs_value(i++), "The value name");
    } else if (is_switch(a, "ve") && !cmd.has_name) {
      cmd.has_name = true;
    } else if (is_switch(a, "va") && cmd.op == "delete") {
      cmd.all_values = true;
    } else if (is_switch(a, "t") && cmd.op == "add") {
      cmd.has_type = true;
      cmd.type = needs_value(i++);
    } else if (is_switch(a, "d") && cmd.op == "add") {
      cmd.has_data = true;
      cmd.data = needs_value(i++);
    } else if (is_switch(a, "f") && cmd.op != "query") {
      cmd.force = true;
    } else {
      throw SyntaxError{"\"" + a + "\" is not an option of reg " + cmd.op + " here."};
    }
  }
  if (cmd.all_values && cmd.has_name) throw SyntaxError{"/va goes with neither /v nor /ve."};
  return cmd;
}

int fail(LONG rc) {
  if (rc == ERROR_FILE_NOT_FOUND) {
    std::fputs(kNotFound, stderr);
  } else if (rc == ERROR_ACCESS_DENIED) {
    std::fputs("ERROR: Access is denied.\n", stderr);
  } else if (rc == ERROR_CANTWRITE) {
    std::fputs("ERROR: The registry file could not be written (see above).\n", stderr);
  } else {
    std::fprintf(stderr, "ERROR: The registry call failed with error %ld.\n",
                 static_cast<long>(rc));
  }
  return 1;
}

std::string type_name(DWORD type) {
  if (type < sizeof kTypeNames / sizeof kTypeNames[0]) return kTypeNames[type];
  char buf[32];
  std::snprintf(buf, sizeof buf, "REG_0x%x", static_cast<unsigned>(type));
  return buf;
}

std::string format_data(DWORD type, const std::string& data) {
  if (type == REG_SZ || type == REG_EXPAND_SZ)
    return ansi_to_terminal(data.substr(0, data.find('\0')));
  if (type == REG_DWORD && data.size() == 4) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
  }
  if (type == REG_MULTI_SZ) {
    std::string out;
    std::size_t start = 0;
    while (start < data.size() && data[start] != '\0') {
      std::size_t end = data.find('\0', start);
      if (end == std::string::npos) end = data.size();
      if (!out.empty()) out += "\\0";
      out += ansi_to_terminal(data.substr(start, end - start));
      start = end + 1;
    }
    return out;
  }
  std::string out;
  char buf[3];
  for (char c : data) {
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
    out += buf;
  }
  return out;
}

void print_value(const std::string& name, DWORD type, const std::string& data) {
  std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : ansi_to_terminal(name).c_str(),
              type_name(type).c_str(), format_data(type, data).c_str());
}

// Closes a key when it goes out of scope.
class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() {
    if (key_) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

LONG read_value(HKEY key, const std::string& name, DWORD* type, std::string* data) {
  DWORD size = 0;
  LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size);
  while (rc == ERROR_SUCCESS) {
    data->assign(size, '\0');
    rc = RegQueryValueExA(key, name.c_str(), nullptr, type, reinterpret_cast<BYTE*>(data->data()),
                          &size);
    if (rc == ERROR_SUCCESS) {
      data->resize(size);
      return rc;
    }
    if (rc == ERROR_MORE_DATA) rc = ERROR_SUCCESS;  // it grew meanwhile: try again
  }
  return rc;
}

std::vector<std::string> subkey_names(HKEY key) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[256 + 1];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, size);
  }
  return names;
}

std::vector<std::string> value_names(HKEY key) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    std::vector<char> name(16384);
    DWORD size = static_cast<DWORD>(name.size());
    if (RegEnumValueA(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name.data(), size);
  }
  return names;
}

int query(const Command& cmd) {
  OpenKey key;
  if (LONG rc = RegOpenKeyExA(cmd.root, cmd.path.c_str(), 0, KEY_READ, key.out());
      rc != ERROR_SUCCESS) {
    return fail(rc);
  }
  DWORD type = 0;
  std::string data;
  if (cmd.has_name) {
    if (LONG rc = read_value(key.get(), cmd.name, &type, &data); rc != ERROR_SUCCESS)
      return fail(rc);
    std::printf("\n%s\n", cmd.shown_key.c_str());
    print_value(cmd.name, type, data);
    std::printf("\n");
    return 0;
  }
  std::vector<std::string> values = value_names(key.get());
  std::vector<std::string> subkeys = subkey_names(key.get());
  std::printf("\n");
  if (!values.empty() || subkeys.empty()) {
    std::printf("%s\n", cmd.shown_key.c_str());
    for (const std::string& name : values) {
      if (read_value(key.get(), name, &type, &data) == ERROR_SUCCESS) print_value(name, type, data);
    }
    std::printf("\n");
  }
  for (const std::string& name : subkeys) {
    std::printf("%s\\%s\n", cmd.shown_key.c_str(), ansi_to_terminal(name).c_str());
  }
  return 0;
}

// The data of `reg add` in the registry's bytes.
std::string encode_data(const Command& cmd, DWORD* type) {
  if (equals_nocase(cmd.type, "REG_SZ") || equals_nocase(cmd.type, "REG_EXPAND_SZ")) {
    *type = equals_nocase(cmd.type, "REG_SZ") ? REG_SZ : REG_EXPAND_SZ;
    return to_ansi(cmd.data, "The data") + '\0';
  }
  if (equals_nocase(cmd.type, "REG_DWORD")) {
    *type = REG_DWORD;
    const std::string& d = cmd.data;
    bool hex = d.size() > 2 && d[0] == '0' && (d[1] == 'x' || d[1] == 'X');
    std::size_t start = hex ? 2 : 0;
    unsigned long long v = 0;
    bool ok = d.size() > start && d.size() - start <= (hex ? 8 : 10);
    for (std::size_t i = start; ok && i < d.size(); ++i) {
      int digit = std::isdigit(static_cast<unsigned char>(d[i])) ? d[i] - '0'
                  : hex && std::isxdigit(static_cast<unsigned char>(d[i]))
                      ? std::tolower(static_cast<unsigned char>(d[i])) - 'a' + 10
                      : -1;
      ok = digit >= 0;
      v = v * (hex ? 16 : 10) + static_cast<unsigned>(digit);
    }
    if (!ok || v > 0xFFFFFFFFull) {
      throw SyntaxError{"Specify a valid number for /d (0 to 4294967295, or 0x0 to 0xffffffff)."};
    }
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xff);
    return bytes;
  }
  if (equals_nocase(cmd.type, "REG_BINARY")) {
    *type = REG_BINARY;
    std::string bytes;
    if (cmd.data.size() % 2 != 0)
      throw SyntaxError{"/d of a REG_BINARY needs pairs of hex digits."};
    for (std::size_t i = 0; i < cmd.data.size(); i += 2) {
      char pair[3] = {cmd.data[i], cmd.data[i + 1], '\0'};
      char* end = nullptr;
      long b = std::strtol(pair, &end, 16);
      if (end != pair + 2 || !std::isxdigit(static_cast<unsigned char>(pair[0]))) {
        throw SyntaxError{"/d of a REG_BINARY needs pairs of hex digits."};
      }
      bytes.push_back(static_cast<char>(b));
    }
    return bytes;
  }
  throw SyntaxError{"/t " + cmd.type + " is not a type this tool writes."};
}

int add(const Command& cmd) {
  bool sets_value = cmd.has_name || cmd.has_type || cmd.has_data;  // without /v: the default value
  DWORD type = REG_SZ;
  std::string bytes = sets_value ? encode_data(cmd, &type) : std::string();
  OpenKey key;
  LONG rc = RegCreateKeyExA(cmd.root, cmd.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, key.out(), nullptr);
  if (rc != ERROR_SUCCESS) return fail(rc);
  if (sets_value) {
    bool exists = RegQueryValueExA(key.get(), cmd.name.c_str(), nullptr, nullptr, nullptr,
                                   nullptr) == ERROR_SUCCESS;
    if (exists && !cmd.force) {
      std::string what = cmd.name.empty() ? "The default value"
                                          : "The value \"" + ansi_to_terminal(cmd.name) + "\"";
      std::fprintf(stderr,
                   "ERROR: %s exists already. reg.exe would ask before replacing it; this tool "
                   "cannot ask, so add /f to replace it.\n",
                   what.c_str());
      return 1;
    }
    rc = RegSetValueExA(key.get(), cmd.name.c_str(), 0, type,
                        reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
    if (rc != ERROR_SUCCESS) return fail(rc);
  }
  std::fputs(kDone, stdout);
  return 0;
}

// Deletes `path` under `parent` with everything below it.
LONG delete_tree(HKEY parent, const std::string& path) {
  {
    OpenKey key;
    if (LONG rc = RegOpenKeyExA(parent, path.c_str(), 0, KEY_ALL_ACCESS, key.out());
        rc != ERROR_SUCCESS) {
      return rc;
    }
    for (const std::string& name : subkey_names(key.get())) {
      if (LONG rc = delete_tree(key.get(), name); rc != ERROR_SUCCESS) return rc;
    }
  }
  return RegDeleteKeyA(parent, path.c_str());
}

int remove(const Command& cmd) {
  if (!cmd.force) {
    std::fputs(
        "ERROR: reg.exe would ask before deleting; this tool cannot ask, so add /f to "
        "delete.\n",
        stderr);
    return 1;
  }
  OpenKey key;
  if (LONG rc = RegOpenKeyExA(cmd.root, cmd.path.c_str(), 0, KEY_ALL_ACCESS, key.out());
      rc != ERROR_SUCCESS) {
    return fail(rc);
  }
  if (cmd.has_name) {
    if (LONG rc = RegDeleteValueA(key.get(), cmd.name.c_str()); rc != ERROR_SUCCESS)
      return fail(rc);
  } else if (cmd.all_values) {
    for (const std::string& name : value_names(key.get())) {
      if (LONG rc = RegDeleteValueA(key.get(), name.c_str()); rc != ERROR_SUCCESS) return fail(rc);
    }
  } else {
    if (cmd.path.empty()) {
      std::fputs("ERROR: Invalid key name: a root key cannot be deleted.\n", stderr);
      return 1;
    }
    if (LONG rc = delete_tree(cmd.root, cmd.path); rc != ERROR_SUCCESS) return fail(rc);
  }
  std::fputs(kDone, stdout);
  return 0;
}

}  // namespace

int run_reg(const Args& args) {
  if (args.empty() || is_help(args[0])) {
    std::fputs(kRegHelp, args.empty() ? stderr : stdout);
    return args.empty() ? 1 : 0;
  }
  const std::string& op = args[0];
  if (op != "query" && op != "add" && op != "delete") {
    std::fprintf(stderr, "ERROR: Invalid syntax: \"%s\" is not query, add or delete.\n\n%s",
                 op.c_str(), kRegHelp);
    return 1;
  }
  for (const std::string& a : args) {
    if (is_help(a)) {
      std::fputs(kRegHelp, stdout);
      return 0;
    }
  }
  try {
    Command cmd = parse(args);
    if (op == "query") return query(cmd);
    if (op == "add") return add(cmd);
    return remove(cmd);
  } catch (const SyntaxError& e) {
    std::fprintf(stderr, "ERROR: Invalid syntax. %s\nType \"sxmachine reg %s --help\" for usage.\n",
                 e.why.c_str(), op.c_str());
    return 1;
  }
}

}  // namespace sx::machine_tool
