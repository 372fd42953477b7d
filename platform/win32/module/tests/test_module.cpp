// A module for the loader tests: two exports and a counter that starts over when it is reloaded.
namespace {
int g_calls = 0;
}

extern "C" __attribute__((visibility("default"))) int sx_test_module_answer() { return 42; }
extern "C" __attribute__((visibility("default"))) int sx_test_module_calls() { return ++g_calls; }
