// The library that sxtestneeds.dll needs.
extern "C" __attribute__((visibility("default"))) int sx_test_helper_answer() { return 41; }
