// Read by LeakSanitizer in sanitizer builds, ignored otherwise. The session
// bus library keeps a buffer for the life of the process once Qt's desktop
// integration has used it; that is not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
