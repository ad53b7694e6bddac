// Start-up takes the video-file library from the system folder only, never a
// library of the same name beside the program, whose code would run inside
// it. This program runs in a folder of its own beside such a stand-in
// (win32_planted_library.c); Wine is told to prefer a library found there
// over its own, as Windows does.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <pixmora/pixmora.h>

namespace {

std::string program_folder()
{
    char path[MAX_PATH];
    std::string folder(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

bool exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(Win32PlantedLibrary, StartupLoadsTheVideoLibraryFromTheSystemFolder)
{
    const std::string folder = program_folder();
    ASSERT_TRUE(exists(folder + "AVIFIL32.DLL")) << "no stand-in beside " << folder;
    const std::string marker = folder + "planted-library-ran";
    DeleteFileA(marker.c_str());

    pm_startup();
    ASSERT_NE(pm_state.video_library, nullptr);
    char loaded[MAX_PATH] = {};
    char system[MAX_PATH] = {};
    GetModuleFileNameA(static_cast<HMODULE>(pm_state.video_library), loaded, MAX_PATH);
    const UINT system_length = GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_GT(system_length, 0u);
    EXPECT_EQ(_strnicmp(loaded, system, system_length), 0) << loaded << " is not in " << system;
    EXPECT_EQ(loaded[system_length], '\\') << loaded;
    EXPECT_NE(pm_state.video_entry_points[0].address, nullptr);
    pm_shutdown();
    EXPECT_FALSE(exists(marker)) << "the planted library ran";

    // The stand-in is what a plain search finds, so the check above means
    // something.
    DeleteFileA(marker.c_str());
    HMODULE searched = LoadLibraryA("AVIFIL32.DLL");
    ASSERT_NE(searched, nullptr);
    FreeLibrary(searched);
    EXPECT_TRUE(exists(marker)) << "a plain search does not find the stand-in";
    DeleteFileA(marker.c_str());
}

} // namespace
