// Read by LeakSanitizer in sanitizer builds, ignored otherwise. The session
// bus library keeps a buffer for the life of the process once Qt's desktop
// integration has used it, and Qt's Wayland platform keeps its display
// objects and the clipboard's last offer until the process ends; none of
// that is ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n"
           "leak:libQt6WaylandClient.so\n"
           "leak:libxdg-shell.so\n"
           "leak:createMimeDataFromSelection\n";
}
