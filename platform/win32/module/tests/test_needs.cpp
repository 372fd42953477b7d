// A module for LoadLibraryExA's tests that needs another library (sxtesthelper.dll) and is built
// without a search path for it: only its own folder can provide it.
extern "C" int sx_test_helper_answer();

extern "C" __attribute__((visibility("default"))) int sx_test_needs_answer() {
  return sx_test_helper_answer() + 1;
}
