/* Starts the rest of its command line, unchanged, with LOCALAPPDATA set to TEVRA_LOCALAPPDATA, and exits with the
   child's status. Wine gives a program started from Linux the prefix's own LOCALAPPDATA, whatever the caller set. */
#include <windows.h>

int main(void) {
    wchar_t folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"TEVRA_LOCALAPPDATA", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !SetEnvironmentVariableW(L"LOCALAPPDATA", folder)) return 125;
    wchar_t* rest = GetCommandLineW();
    for (BOOL quoted = FALSE; *rest != L'\0' && (quoted || (*rest != L' ' && *rest != L'\t')); ++rest)
        if (*rest == L'"') quoted = !quoted;
    while (*rest == L' ' || *rest == L'\t') ++rest;
    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child;
    /* Under load Wine now and then refuses a start; a refused start ran nothing, so it is safe to try again. */
    for (int tries = 1; !CreateProcessW(NULL, rest, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child); ++tries)
        if (tries == 5) return 125;
    DWORD status = 125;
    WaitForSingleObject(child.hProcess, INFINITE);
    GetExitCodeProcess(child.hProcess, &status);
    return (int)status;
}
