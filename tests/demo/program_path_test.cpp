// Where the demo looks for its pictures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "demo/program_path.h"

namespace {

std::string fake_program;

uint32_t fake_source(char *buffer, uint32_t size)
{
    // Like the platform's call: a path that does not fit is cut short and
    // the whole size returned.
    std::string text = fake_program.substr(0, size - 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return fake_program.size() < size ? static_cast<uint32_t>(text.size()) : size;
}

std::string directory_of(const std::string &program, bool expect_known = true)
{
    fake_program = program;
    char directory[demo::path_capacity];
    std::memset(directory, 'x', sizeof directory);
    EXPECT_EQ(demo::fill_program_directory(directory, fake_source), expect_known) << "program " << program;
    return directory;
}

TEST(ProgramPath, DirectoryKeepsItsSeparator)
{
    const std::string sep(1, demo::path_separator);
    struct row {
        std::string program, directory;
    };
    const std::string longest(254 - 7, 'd'); // with the separator and "scaling": 255 characters
    const row rows[] = {
        {sep + "opt" + sep + "demo" + sep + "scaling", sep + "opt" + sep + "demo" + sep},
        {sep + "scaling", sep},
        {"scaling", "scaling"}, // no separator: left as it is
        {"a" + sep + "b" + sep, "a" + sep + "b" + sep},
        {longest + sep + "scaling", longest + sep},
    };
    for (const auto &r : rows)
        EXPECT_EQ(directory_of(r.program), r.directory) << "program " << r.program;
}

TEST(ProgramPath, UnknownOrTooLongPathGivesNoDirectory)
{
    const std::string sep(1, demo::path_separator);
    // Cut short at 255 characters, this one would name the folder "d...d/".
    EXPECT_EQ(directory_of(std::string(100, 'd') + sep + std::string(200, 'e') + sep + "scaling", false), "");
    EXPECT_EQ(directory_of(std::string(248, 'd') + sep + "scaling", false), "") << "256 characters";
    EXPECT_EQ(directory_of("", false), "");
}

TEST(ProgramPath, PlatformCallReportsAPathThatDoesNotFit)
{
    char buffer[demo::path_capacity];
    uint32_t length = demo::program_file_name(buffer, sizeof buffer);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, sizeof buffer) << "the test program's own path should fit";
    EXPECT_EQ(std::strlen(buffer), length);

    // One byte short of its terminating zero, and far too short.
    for (uint32_t size : {length, 8u}) {
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_GE(demo::program_file_name(buffer, size), size) << "size " << size;
    }
}

TEST(ProgramPath, JoinRefusesWhatDoesNotFit)
{
    char path[demo::path_capacity];
    ASSERT_TRUE(demo::join_path(path, "dir/", "Sky.pcx"));
    EXPECT_STREQ(path, "dir/Sky.pcx");

    std::string exact(255 - 7, 'd'); // 248 + 7 = 255 characters: fits
    ASSERT_TRUE(demo::join_path(path, exact.c_str(), "Sky.pcx"));
    EXPECT_EQ(std::strlen(path), 255u);

    std::string too_long(249, 'd');
    EXPECT_FALSE(demo::join_path(path, too_long.c_str(), "Sky.pcx"));
    EXPECT_STREQ(path, "");
}

} // namespace
