// sxmachine reg query|add|delete: Windows's reg.exe on the simulated machine's registry.
//
// The switches are reg.exe's (/v or -v, in any case); they are turned into options for the
// command-line parser before it reads the line. Arguments and output are UTF-8; the registry holds
// the ANSI code page, converted both ways here.
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "win32/registry.h"

namespace sx::machine_tool {
namespace {

using sx::cli::ansi_to_terminal;

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
    "/ve or /va deletes the key with all its subkeys. A key name has 1 to 255 characters; keys\n"
    "go at most 512 levels deep. The exit code is 0 on success, 1 on failure.\n";

const char* const kDone = "The operation completed successfully.\n";
const char* const kNotFound = "The system was unable to find the specified registry key or value.";

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

// What the line asks of one reg command, as the parser read it.
struct Options {
  std::string key;
  std::string name;  // /v
  bool default_value = false;
  bool all_values = false;
  std::string type = "REG_SZ";
  std::string data;
  bool force = false;
};

// The command ready to run: the key split and the names in the registry's code page.
struct Command {
  std::string op;
  HKEY root = nullptr;
  std::string shown_key;  // as printed: full root name and the path as given (UTF-8)
  std::string path;       // below the root, ANSI
  bool has_name = false;  // /v or /ve
  std::string name;       // ANSI; "" with /ve
  bool all_values = false;
  bool has_type = false;
  std::string type;
  bool has_data = false;
  std::string data;  // UTF-8 as given
  bool force = false;
};

void parse_key(const std::string& arg, Command* cmd) {
  std::string text = arg;
  while (text.size() > 1 && text.back() == '\\') text.pop_back();
  std::size_t cut = text.find('\\');
  std::string root = text.substr(0, cut);
  for (const RootName& r : kRoots) {
    if (equals_nocase(root, r.abbreviation) || equals_nocase(root, r.full)) {
      cmd->root = r.key;
      cmd->path =
          cut == std::string::npos ? "" : sx::cli::machine_text(text.substr(cut + 1), "key");
      cmd->shown_key = std::string(r.full) + (cut == std::string::npos ? "" : text.substr(cut));
      return;
    }
  }
  throw sx::cli::UsageError("Invalid key name \"" + arg +
                            "\"; it must start with HKLM, HKCU, HKCR or HKU.");
}

// The switches of each command and whether each takes a value.
struct Switch {
  const char* name;
  bool takes_value;
};
const Switch kSwitches[] = {{"v", true}, {"ve", false}, {"va", false},
                            {"t", true}, {"d", true},   {"f", false}};

bool allowed(const std::string& op, const std::string& name) {
  if (name == "v" || name == "ve") return true;
  if (name == "va") return op == "delete";
  if (name == "t" || name == "d") return op == "add";
  if (name == "f") return op != "query";
  return false;
}

// Turns reg.exe's switches into "--v=NAME", "--f", ...; everything else stays as it is.
std::vector<std::string> rewrite(const std::string& op, const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--machine" && i + 1 < args.size()) {  // the program's option and its folder
      out.push_back(arg);
      out.push_back(args[++i]);
      continue;
    }
    const bool switch_like = arg.size() >= 2 && (arg[0] == '/' || (arg[0] == '-' && arg[1] != '-'));
    if (!switch_like) {
      out.push_back(arg);
      continue;
    }
    std::string name = arg.substr(1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const Switch* known = nullptr;
    for (const Switch& s : kSwitches) {
      if (name == s.name && allowed(op, name)) known = &s;
    }
    if (known == nullptr)
      throw sx::cli::UsageError("\"" + arg + "\" is not an option of reg " + op + ".");
    if (!known->takes_value) {
      out.push_back("--" + name);
    } else if (i + 1 < args.size()) {
      out.push_back("--" + name + "=" + args[++i]);
    } else {
      throw sx::cli::UsageError(arg + " needs a value.");
    }
  }
  return out;
}

Command command_from(const std::string& op, const Options& o, const CLI::App& app) {
  Command cmd;
  cmd.op = op;
  parse_key(o.key, &cmd);
  const bool has_v = app.count("--v") > 0;
  if (has_v && o.default_value) throw sx::cli::UsageError("/v and /ve cannot be given together.");
  if (o.all_values && (has_v || o.default_value))
    throw sx::cli::UsageError("/va goes with neither /v nor /ve.");
  cmd.has_name = has_v || o.default_value;
  if (has_v) cmd.name = sx::cli::machine_text(o.name, "value name");
  cmd.all_values = o.all_values;
  cmd.has_type = op == "add" && app.count("--t") > 0;
  cmd.type = o.type;
  cmd.has_data = op == "add" && app.count("--d") > 0;
  cmd.data = o.data;
  cmd.force = o.force;
  return cmd;
}

// The registry's error in words: Windows's text, and what this tool knows about the cause.
[[noreturn]] void fail(LONG rc) {
  if (rc == ERROR_FILE_NOT_FOUND) throw sx::cli::Failure(kNotFound);
  std::string text = sx::cli::windows_error_text(static_cast<DWORD>(rc));
  if (rc == ERROR_BAD_PATHNAME) {
    text +=
        " A key name has 1 to 255 characters without control characters, no key name is "
        "empty, and keys go at most 512 levels deep.";
  } else if (rc == ERROR_INVALID_PARAMETER) {
    text +=
        " A value name has at most 16383 characters without control characters, and data at "
        "most 262144 bytes.";
  } else if (rc == ERROR_NO_SYSTEM_RESOURCES) {
    text += " The registry file would grow beyond 64 MiB, so the change was not made.";
  } else if (rc == ERROR_CANTWRITE) {
    text += " The registry file could not be replaced (see above); nothing was changed.";
  }
  throw sx::cli::Failure(text);
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
    fail(rc);
  }
  DWORD type = 0;
  std::string data;
  if (cmd.has_name) {
    if (LONG rc = read_value(key.get(), cmd.name, &type, &data); rc != ERROR_SUCCESS) fail(rc);
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
    return sx::cli::machine_text(cmd.data, "data") + '\0';
  }
  if (equals_nocase(cmd.type, "REG_DWORD")) {
    *type = REG_DWORD;
    auto v = sx::cli::parse_number(cmd.data, 0, 0xFFFFFFFF);
    if (!v) {
      throw sx::cli::UsageError(
          "/d \"" + cmd.data +
          "\" is not a REG_DWORD: give a number from 0 to 4294967295, or 0x0 to 0xffffffff.");
    }
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((*v >> (8 * i)) & 0xff);
    return bytes;
  }
  if (equals_nocase(cmd.type, "REG_BINARY")) {
    *type = REG_BINARY;
    std::string bytes;
    auto hex = [](char c) {
      return c >= '0' && c <= '9'   ? c - '0'
             : c >= 'a' && c <= 'f' ? c - 'a' + 10
             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                    : -1;
    };
    for (std::size_t i = 0; i < cmd.data.size(); i += 2) {
      const int high = hex(cmd.data[i]);
      const int low = i + 1 < cmd.data.size() ? hex(cmd.data[i + 1]) : -1;
      if (high < 0 || low < 0)
        throw sx::cli::UsageError("/d of a REG_BINARY needs pairs of hex digits.");
      bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
  }
  throw sx::cli::UsageError("/t " + cmd.type +
                            " is not a type this tool writes: REG_SZ, REG_EXPAND_SZ, REG_DWORD or "
                            "REG_BINARY.");
}

// The first level of `path` below `root` that does not exist yet ("" when the whole path does):
// what creating the key makes, and what a refused value takes away again.
std::string first_missing_level(HKEY root, const std::string& path) {
  std::size_t end = 0;
  while (end != std::string::npos && end < path.size()) {
    end = path.find('\\', end + 1);
    const std::string level = path.substr(0, end);
    OpenKey key;
    if (RegOpenKeyExA(root, level.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return level;
  }
  return {};
}

int add(const Command& cmd) {
  bool sets_value = cmd.has_name || cmd.has_type || cmd.has_data;  // without /v: the default value
  DWORD type = REG_SZ;
  std::string bytes = sets_value ? encode_data(cmd, &type) : std::string();
  const std::string made = cmd.path.empty() ? "" : first_missing_level(cmd.root, cmd.path);
  OpenKey key;
  LONG rc = RegCreateKeyExA(cmd.root, cmd.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, key.out(), nullptr);
  if (rc != ERROR_SUCCESS) fail(rc);
  // A refused value leaves the registry as it was: the keys made for it go again.
  auto undo_keys = [&] {
    if (!made.empty()) (void)RegDeleteTreeA(cmd.root, made.c_str());
  };
  if (sets_value) {
    bool exists = RegQueryValueExA(key.get(), cmd.name.c_str(), nullptr, nullptr, nullptr,
                                   nullptr) == ERROR_SUCCESS;
    if (exists && !cmd.force) {
      std::string what = cmd.name.empty() ? "The default value"
                                          : "The value \"" + ansi_to_terminal(cmd.name) + "\"";
      throw sx::cli::Failure(what +
                             " exists already. reg.exe would ask before replacing it; this tool "
                             "cannot ask, so add /f to replace it.");
    }
    rc = RegSetValueExA(key.get(), cmd.name.c_str(), 0, type,
                        reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
    if (rc != ERROR_SUCCESS) {
      undo_keys();
      fail(rc);
    }
  }
  std::fputs(kDone, stdout);
  return 0;
}

int remove(const Command& cmd) {
  if (!cmd.force) {
    throw sx::cli::Failure(
        "reg.exe would ask before deleting; this tool cannot ask, so add /f to delete.");
  }
  OpenKey key;
  if (LONG rc = RegOpenKeyExA(cmd.root, cmd.path.c_str(), 0, KEY_ALL_ACCESS, key.out());
      rc != ERROR_SUCCESS) {
    fail(rc);
  }
  if (cmd.has_name) {
    if (LONG rc = RegDeleteValueA(key.get(), cmd.name.c_str()); rc != ERROR_SUCCESS) fail(rc);
  } else if (cmd.all_values) {
    for (const std::string& name : value_names(key.get())) {
      if (LONG rc = RegDeleteValueA(key.get(), name.c_str()); rc != ERROR_SUCCESS) fail(rc);
    }
  } else {
    if (cmd.path.empty()) throw sx::cli::Failure("Invalid key name: a root key cannot be deleted.");
    if (LONG rc = RegDeleteTreeA(cmd.root, cmd.path.c_str()); rc != ERROR_SUCCESS) fail(rc);
  }
  std::fputs(kDone, stdout);
  return 0;
}

void add_operation(sx::cli::Program& program, CLI::App* reg, const std::string& op,
                   const char* description, int (*run)(const Command&)) {
  auto options = std::make_shared<Options>();
  CLI::App* command = reg->add_subcommand(op, description);
  command->add_option("KEY", options->key, "the key, ROOT\\Path\\To\\Key")->required();
  command->add_option("--v", options->name, "/v NAME: the value NAME");
  command->add_flag("--ve", options->default_value, "/ve: the default (unnamed) value");
  if (op == "delete") command->add_flag("--va", options->all_values, "/va: every value");
  if (op == "add") {
    command->add_option("--t", options->type, "/t TYPE: the type of the value");
    command->add_option("--d", options->data, "/d DATA: the data");
  }
  if (op != "query") command->add_flag("--f", options->force, "/f: without asking");
  program.help_text(command, kRegHelp);
  program.rewrite_arguments(
      command, [op](const std::vector<std::string>& args) { return rewrite(op, args); });
  program.action(command,
                 [options, command, op, run] { return run(command_from(op, *options, *command)); });
}

}  // namespace

void add_reg_command(sx::cli::Program& program) {
  CLI::App* reg = program.app().add_subcommand(
      "reg", "query, add or delete registry keys and values, as Windows's reg.exe");
  program.help_text(reg, kRegHelp);
  add_operation(program, reg, "query", "prints a key's values and subkeys, or one value", query);
  add_operation(program, reg, "add", "adds a key or sets a value", add);
  add_operation(program, reg, "delete", "deletes a value, every value, or a key with its subkeys",
                remove);
}

}  // namespace sx::machine_tool
