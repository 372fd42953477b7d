// Helpers shared by the registry tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sx/machine.h"
#include "win32/registry.h"

namespace sx::registry::testing {

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Makes the registry forget its cache, so the next call reads the file again.
inline void drop_registry_cache() { sx::machine::set_root(sx::machine::root()); }

inline HKEY create_key(HKEY root, const char* path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(root, path, &key), ERROR_SUCCESS) << path;
  return key;
}

inline LONG set_sz(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

inline LONG set_dword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

// The value's bytes, or "<error N>".
inline std::string query(HKEY key, const char* name, DWORD* type = nullptr) {
  char buf[4096];
  DWORD size = sizeof buf;
  LONG rc = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(buf), &size);
  if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
  return std::string(buf, size);
}

inline std::string query_path(HKEY root, const char* path, const char* name) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
  std::string value = query(key, name);
  RegCloseKey(key);
  return value;
}

struct ToolResult {
  int exit_code = -1;
  std::string output;  // stdout and stderr together
};

inline std::string shell_quoted(const std::string& arg) {
  std::string quoted;
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return "'" + quoted + "'";
}

// Runs `program` with `args` (each quoted), after the shell words in `environment` (e.g.
// "env -u SX_MACHINE HOME=x"); stdout and stderr together.
inline ToolResult run_program(const std::string& program, const std::vector<std::string>& args,
                              const std::string& environment = "") {
  std::string command = environment + (environment.empty() ? "" : " ") + shell_quoted(program);
  for (const std::string& arg : args) command += " " + shell_quoted(arg);
  command += " 2>&1";
  ToolResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
  int status = ::pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// Runs the built machine tool on the current machine with the given arguments.
inline ToolResult run_tool(std::initializer_list<std::string> args) {
  std::vector<std::string> line = {"--machine", sx::machine::root().string()};
  line.insert(line.end(), args.begin(), args.end());
  return run_program(SXMACHINE_PATH, line);
}

}  // namespace sx::registry::testing
