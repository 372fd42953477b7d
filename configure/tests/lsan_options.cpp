// Under LeakSanitizer (the asan preset): these tests install the system in their own process, and
// the installation loads and unloads the components and the add-ins as COM does. LeakSanitizer's
// tracer then crashes at exit reading the thread-local ranges the unloaded libraries left behind
// (a fault of the tracer, not a leak), so it leaves thread-local data alone here; what the loader
// keeps for the libraries is then reachable only through that data, hence the suppressions. The
// heap of the program itself is still checked. Unused outside sanitizer builds.
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }

extern "C" const char* __lsan_default_suppressions() {
  return "leak:_dl_map_object_deps\n"
         "leak:_dl_new_object\n"
         "leak:_dl_allocate_tls\n"
         "leak:dl_open_worker\n"
         "leak:__cxa_thread_atexit_impl\n";
}
