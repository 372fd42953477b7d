#include "sx/testing/temp_machine.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "sx/clock.h"
#include "sx/machine.h"
#include "sx/paths.h"

namespace sx::testing {

TempMachine::TempMachine(Clock clock) : virtual_clock_(clock == Clock::kVirtual) {
  std::string pattern = (std::filesystem::temp_directory_path() / "sxmachine-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  std::string why;
  if (!sx::machine::create_machine(root_, &why)) throw std::runtime_error(why);
  sx::machine::set_root(root_);
  if (virtual_clock_) sx::clock::use_virtual();
}

TempMachine::~TempMachine() {
  if (virtual_clock_) sx::clock::use_real();
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

std::filesystem::path TempMachine::c(const std::string& relative) const {
  return sx::paths::to_host("C:\\" + relative);
}

}  // namespace sx::testing
