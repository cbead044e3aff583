/* A custom action that always fails: the end-to-end suite schedules it as a
 * deferred action after the library's own, to make an installation roll back
 * after the XML files were changed. */
#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#define CALLING __stdcall
#else
#define EXPORT __attribute__((visibility("default")))
#define CALLING
#endif

/* ERROR_INSTALL_FAILURE */
EXPORT unsigned int CALLING FailAction(unsigned long handle) {
    (void)handle;
    return 1603;
}
