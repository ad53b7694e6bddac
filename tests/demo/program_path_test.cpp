// Where the demo looks for its pictures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "demo/program_path.h"

namespace {

std::string fake_program;

uint32_t fake_source(char *buffer, uint32_t size)
{
    // Cut short like the platform's call: at most size - 1 characters.
    std::string text = fake_program.substr(0, size - 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<uint32_t>(text.size());
}

std::string directory_of(const std::string &program)
{
    fake_program = program;
    char directory[demo::path_capacity];
    std::memset(directory, 'x', sizeof directory);
    demo::fill_program_directory(directory, fake_source);
    return directory;
}

TEST(ProgramPath, DirectoryKeepsItsSeparator)
{
    const std::string sep(1, demo::path_separator);
    struct row {
        std::string program, directory;
    };
    const row rows[] = {
        {sep + "opt" + sep + "demo" + sep + "scaling", sep + "opt" + sep + "demo" + sep},
        {sep + "scaling", sep},
        {"scaling", "scaling"}, // no separator: left as it is
        {"", ""},
        {"a" + sep + "b" + sep, "a" + sep + "b" + sep},
    };
    for (const auto &r : rows)
        EXPECT_EQ(directory_of(r.program), r.directory) << "program " << r.program;
}

TEST(ProgramPath, LongProgramPathStaysInsideTheBuffer)
{
    std::string long_dir(300, 'd');
    std::string directory = directory_of(long_dir + demo::path_separator + "scaling");
    EXPECT_EQ(directory.size(), 255u);
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
