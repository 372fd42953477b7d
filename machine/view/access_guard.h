// Who may use the machine's page server: only a page that was given the address with its token.
// The server listens on 127.0.0.1 alone; on top of that a request must carry the token (in the
// query as "token=" or in the "X-Sx-Token" header), name this server as its Host (so that a
// name that another site points at 127.0.0.1 gets nothing), and, when it has an Origin, come from
// this server's own origin (so that no other web page can drive the machine from the person's
// browser). Thread-safe after construction.
#pragma once

#include <string>
#include <string_view>

namespace sx::machine_view {

// 32 hexadecimal digits from the system's random source. Throws std::runtime_error when it
// cannot be read.
std::string new_token();

class AccessGuard {
 public:
  AccessGuard(std::string token, int port);

  const std::string& token() const { return token_; }
  // "http://127.0.0.1:PORT".
  std::string origin() const;

  // Empty when allowed; otherwise why the request is refused. `origin` and `host` are the
  // headers' values, empty when absent; `token` the one the request carried, empty when none.
  std::string refusal(std::string_view token, std::string_view host,
                      std::string_view origin) const;

 private:
  std::string token_;
  int port_;
};

}  // namespace sx::machine_view
