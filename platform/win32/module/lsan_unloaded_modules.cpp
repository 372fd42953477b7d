// Under LeakSanitizer (the asan preset), for a program that installs the system in its own process:
// the installation loads and unloads the components and the add-ins as COM does. LeakSanitizer's
// tracer then may crash at exit reading the thread-local ranges the unloaded libraries left behind
// (a fault of the tracer, not a leak), so it leaves thread-local data alone in such a program; what
// the loader keeps for the libraries (their objects, thread-local blocks and slots) is then
// reachable only through that data, hence the suppressions. The heap of the program itself is
// still checked. Unused outside sanitizer builds; linked as the object library
// sx_lsan_unloaded_modules.
extern "C" const char* __lsan_default_options() { return "use_tls=0:print_suppressions=0"; }

extern "C" const char* __lsan_default_suppressions() {
  return "leak:_dl_map_object_deps\n"
         "leak:_dl_new_object\n"
         "leak:_dl_allocate_tls\n"
         "leak:_dl_resize_dtv\n"
         "leak:_dl_add_to_slotinfo\n"
         "leak:dl_open_worker\n"
         "leak:__cxa_thread_atexit_impl\n";
}
