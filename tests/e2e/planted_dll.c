/* A DLL named like one that the trust provider loads by name (MSISIP.DLL). Planted beside the updater or in its
   working folder it must never be loaded; if it is, it says so on standard error. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    static const char trace[] = "planted DLL loaded\n";
    DWORD written = 0;
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), trace, sizeof trace - 1, &written, NULL);
    return TRUE;
}
