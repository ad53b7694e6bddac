/* A stand-in for the video-file library, planted beside a test program under
 * the system library's name. Were it ever loaded, it leaves a file named
 * planted-library-ran beside itself. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    static const char marker[] = "planted-library-ran";
    char path[MAX_PATH];
    DWORD length;
    DWORD i;
    HANDLE file;

    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    length = GetModuleFileNameA(instance, path, MAX_PATH);
    while (length > 0 && path[length - 1] != '\\')
        --length;
    if (length == 0 || length + sizeof marker > MAX_PATH)
        return TRUE;
    for (i = 0; i < sizeof marker; ++i)
        path[length + i] = marker[i];
    file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}
