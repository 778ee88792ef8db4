// Compiled into the program and its tests (not the library, where nothing
// would pull it in). The browser engine is built without sanitizers: it frees
// some objects with a size other than the one they were made with, and keeps
// a few allocations until exit. Neither is ours to fix, and both would stop
// every sanitized run that opens a browser view.

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTOREL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VANTOREL_ASAN 1
#endif

#if defined(VANTOREL_ASAN)
extern "C" {

__attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

// libxkbcommon-x11 reads the keymap's names out of the X server's reply with
// strndup, past the end of the reply's buffer; it happens on every connection
// to an X server, inside the system library.
__attribute__((visibility("default"), used)) const char* __asan_default_suppressions() {
    return "interceptor_via_lib:libxkbcommon-x11.so\n";
}

__attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libQt6WebEngineCore.so\n"
           "leak:libfontconfig.so\n";
}

} // extern "C"
#endif
