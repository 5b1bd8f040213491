// Stand-in for kernel32 and advapi32 in the sweep's copy of Tarvik.exe
// (run_table.sh builds one DLL for each from this file): every call passes
// on to the system, the file calls are counted, and TARVIK_FAULT="NAME N
// ERROR once|on" makes the Nth call of NAME fail with ERROR, once or from
// then on. CopyFileA, which the program binds by name, is reached through
// GetProcAddress. Sleep returns at once, so waiting costs no wall time. At
// exit the counts are appended to the file TARVIK_COUNTS names.
#include <stdio.h>
#include <string.h>
#include <windows.h>

static char fault[64], counts[MAX_PATH];
static long nth, error, on, kinds;
static struct {
    const char* name;
    long calls;
} seen[32];

static int Fails(const char* name) {
    long i = 0;
    while (i < kinds && strcmp(seen[i].name, name) != 0) {
        ++i;
    }
    seen[i].name = name;
    kinds += i == kinds;
    const long call = ++seen[i].calls;
    if (strcmp(name, fault) != 0 || call < nth || (call > nth && !on)) {
        return 0;
    }
    SetLastError(error);
    return 1;
}

#define F(type, name, failed, params, args)                                                       \
    type WINAPI F_##name params {                                                                  \
        return Fails(#name) ? failed : name args;                                                  \
    }
#define B(name, params, args) F(BOOL, name, FALSE, params, args)
#define H(name, params, args) F(HANDLE, name, INVALID_HANDLE_VALUE, params, args)

H(CreateFileW, (LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
  (a, b, c, d, e, f, g))
H(ReOpenFile, (HANDLE a, DWORD b, DWORD c, DWORD d), (a, b, c, d))
H(FindFirstFileW, (LPCWSTR a, LPWIN32_FIND_DATAW b), (a, b))
F(DWORD, GetFileAttributesW, INVALID_FILE_ATTRIBUTES, (LPCWSTR a), (a))
B(CopyFileA, (LPCSTR a, LPCSTR b, BOOL c), (a, b, c))
B(ReadFile, (HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e))
B(WriteFile, (HANDLE a, LPCVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e))
B(SetFilePointerEx, (HANDLE a, LARGE_INTEGER b, PLARGE_INTEGER c, DWORD d), (a, b, c, d))
B(SetEndOfFile, (HANDLE a), (a))
B(FlushFileBuffers, (HANDLE a), (a))
B(SetFileInformationByHandle, (HANDLE a, FILE_INFO_BY_HANDLE_CLASS b, LPVOID c, DWORD d),
  (a, b, c, d))
B(GetFileInformationByHandle, (HANDLE a, LPBY_HANDLE_FILE_INFORMATION b), (a, b))
B(SetFileTime, (HANDLE a, const FILETIME* b, const FILETIME* c, const FILETIME* d), (a, b, c, d))
B(LockFileEx, (HANDLE a, DWORD b, DWORD c, DWORD d, DWORD e, LPOVERLAPPED f), (a, b, c, d, e, f))
B(MoveFileExW, (LPCWSTR a, LPCWSTR b, DWORD c), (a, b, c))
B(CreateDirectoryW, (LPCWSTR a, LPSECURITY_ATTRIBUTES b), (a, b))
B(GetKernelObjectSecurity, (HANDLE a, SECURITY_INFORMATION b, PSECURITY_DESCRIPTOR c, DWORD d,
                            LPDWORD e),
  (a, b, c, d, e))

void WINAPI F_Sleep(DWORD ms) {
    (void)ms;
}

FARPROC WINAPI F_GetProcAddress(HMODULE module, LPCSTR name) {
    return HIWORD(name) != 0 && strcmp(name, "CopyFileA") == 0 ? (FARPROC)F_CopyFileA
                                                               : GetProcAddress(module, name);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID unused) {
    char text[128] = "", mode[8] = "";
    (void)self, (void)unused;
    if (reason == DLL_PROCESS_ATTACH) {
        GetEnvironmentVariableA("TARVIK_FAULT", text, sizeof text);
        sscanf(text, "%63s %ld %ld %7s", fault, &nth, &error, mode);
        on = strcmp(mode, "on") == 0;
        GetEnvironmentVariableA("TARVIK_COUNTS", counts, sizeof counts);
    } else if (reason == DLL_PROCESS_DETACH && counts[0] != '\0') {
        FILE* out = fopen(counts, "ab");
        for (long i = 0; out != NULL && i < kinds; ++i) {
            fprintf(out, "%s %ld\n", seen[i].name, seen[i].calls);
        }
        if (out != NULL) {
            fclose(out);
        }
    }
    return TRUE;
}
