// Stand-in for kernel32 and advapi32 in the sweep's copy of Tarvik.exe
// (build.sh builds one DLL for each from this file): every call passes
// on to the system, the file calls are counted, and TARVIK_FAULT="NAME N
// ERROR once|on" makes the Nth call of NAME fail with ERROR, once or from
// then on. CopyFileA, which the program binds by name, is reached through
// GetProcAddress; "CopyFileA N 0 plant" moves the Nth call's destination
// aside first and links the file "secret" beside its folder at its name, as
// a user who may rename that file would, unless the move is refused (by a
// handle that shares no deletion, as NTFS refuses it). Sleep returns at
// once, so waiting costs no wall time. Each
// call's name is appended to the file TARVIK_COUNTS names. x64 only: a
// call passes on with seven register-sized arguments, whatever it takes.
#include <stdio.h>
#include <string.h>
#include <windows.h>

static char fault[64], counts[MAX_PATH];
static long nth, error, on, plant;
typedef INT_PTR(WINAPI* Call)(INT_PTR, INT_PTR, INT_PTR, INT_PTR, INT_PTR, INT_PTR, INT_PTR);

static int Fails(const char* name, long* calls) {
    FILE* out = *counts ? fopen(counts, "ab") : NULL; // one line a call
    if (out != NULL) {
        fprintf(out, "%s\n", name);
        fclose(out);
    }
    if (strcmp(name, fault) != 0 || ++*calls < nth || (*calls > nth && !on)) {
        return 0;
    }
    SetLastError(error);
    return 1;
}

// A call that fails with the value given, FALSE or -1 (INVALID_HANDLE_VALUE).
#define S(name, failed)                                                                            \
    static long calls_##name;                                                                      \
    INT_PTR WINAPI F_##name(INT_PTR a, INT_PTR b, INT_PTR c, INT_PTR d, INT_PTR e, INT_PTR f,      \
                            INT_PTR g) {                                                           \
        return Fails(#name, &calls_##name) ? failed : ((Call)name)(a, b, c, d, e, f, g);           \
    }
// clang-format off
S(CreateFileW, -1) S(ReOpenFile, -1) S(FindFirstFileW, -1) S(GetFileAttributesW, -1)
S(ReadFile, 0) S(WriteFile, 0) S(SetFilePointerEx, 0) S(SetEndOfFile, 0)
S(FlushFileBuffers, 0) S(SetFileInformationByHandle, 0) S(GetFileInformationByHandle, 0)
S(SetFileTime, 0) S(LockFileEx, 0) S(MoveFileExW, 0) S(CreateDirectoryW, 0)
S(GetKernelObjectSecurity, 0)
void WINAPI F_Sleep(DWORD ms) { (void)ms; }
// clang-format on

static long calls_CopyFileA;
BOOL WINAPI F_CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
    char aside[MAX_PATH + 8], secret[MAX_PATH + 8], *end;
    if (Fails("CopyFileA", &calls_CopyFileA) && !plant) {
        return FALSE;
    }
    snprintf(aside, sizeof aside, "%s.aside", to);
    snprintf(secret, sizeof secret, "%s", to);
    for (int level = 0; level < 2; ++level) { // the folder above the destination's
        *((end = strrchr(secret, '\\')) != NULL ? end : secret) = 0;
    }
    if (plant && calls_CopyFileA == nth && MoveFileA(to, aside)) {
        CreateHardLinkA(to, strcat(secret, *secret ? "\\secret" : "secret"), NULL);
    }
    return CopyFileA(from, to, failIfExists);
}

FARPROC WINAPI F_GetProcAddress(HMODULE module, LPCSTR name) {
    return HIWORD(name) && !strcmp(name, "CopyFileA") ? (FARPROC)F_CopyFileA
                                                      : GetProcAddress(module, name);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID unused) {
    char text[128] = "", mode[8] = "";
    (void)self, (void)unused;
    if (reason == DLL_PROCESS_ATTACH) {
        GetEnvironmentVariableA("TARVIK_FAULT", text, sizeof text);
        sscanf(text, "%63s %ld %ld %7s", fault, &nth, &error, mode);
        on = !strcmp(mode, "on"), plant = !strcmp(mode, "plant");
        GetEnvironmentVariableA("TARVIK_COUNTS", counts, sizeof counts);
    }
    return TRUE;
}
