#include "access_guard.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace sx::machine_view {

std::string new_token() {
  std::ifstream random("/dev/urandom", std::ios::binary);
  unsigned char bytes[16];
  if (!random.read(reinterpret_cast<char*>(bytes), sizeof bytes))
    throw std::runtime_error("Cannot read /dev/urandom for the page's token.");
  std::string token;
  char hex[3];
  for (unsigned char b : bytes) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    token += hex;
  }
  return token;
}

AccessGuard::AccessGuard(std::string token, int port) : token_(std::move(token)), port_(port) {}

std::string AccessGuard::origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

namespace {

// Compares without stopping at the first difference, so that the time taken tells nothing.
bool same_secret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

std::string AccessGuard::refusal(std::string_view token, std::string_view host,
                                 std::string_view origin) const {
  const std::string port = ":" + std::to_string(port_);
  if (host != "127.0.0.1" + port && host != "localhost" + port)
    return "the request names another host";
  if (!origin.empty() && origin != this->origin() && origin != "http://localhost" + port)
    return "the request comes from another web page";
  if (token.empty()) return "the request has no token";
  if (!same_secret(token, token_)) return "the request's token is wrong";
  return {};
}

}  // namespace sx::machine_view
