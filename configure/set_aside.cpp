#include "set_aside.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "win32/crt.h"

namespace sx::configure {

int SetAsideFile(const std::string& file, std::string* setAsideAs, int first) {
  if (first < 1 || first > kMostSetAside) first = 1;
  int lastError = 0;
  for (int i = 0; i < kMostSetAside; ++i) {
    const int n = (first - 1 + i) % kMostSetAside + 1;
    const std::string name = file + "." + std::to_string(n);
    if (rename(file.c_str(), name.c_str()) == 0) {
      *setAsideAs = name;
      return 0;
    }
    lastError = errno;
  }
  return lastError;
}

int SetAsideNumber(const std::string& file, const std::string& setAsideAs) {
  if (setAsideAs.size() <= file.size() + 1 || setAsideAs.compare(0, file.size(), file) != 0)
    return 1;
  return std::atoi(setAsideAs.c_str() + file.size() + 1);
}

bool PutBack(const std::string& setAsideAs, const std::string& file) {
  return rename(setAsideAs.c_str(), file.c_str()) == 0;
}

}  // namespace sx::configure
