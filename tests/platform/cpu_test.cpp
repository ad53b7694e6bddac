// The instruction sets: what PIXMORA_DISABLE's lists name, and what the
// kernel tables are filled from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/cpu/cpu.h"

namespace {

TEST(InstructionSets, DisableListsNameSetsInAnyCaseAndIgnoreTheRest)
{
    using namespace pm::cpu;
    const struct {
        const char *list;
        sets named;
    } cases[] = {
        {"avx2,ssse3,sse2", avx2 | ssse3 | sse2},
        {"all", every},
        {" AVX2 ,, Simd128\t", avx2 | simd128},
        {"sse,avx,avx2x,avx512,2", 0},
        {"sse2 bogus ssse3", sse2 | ssse3},
        {"", 0},
        {nullptr, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parse_list(c.list), c.named) << (c.list != nullptr ? c.list : "(null)");
    EXPECT_EQ(allowed(), detected() & ~parse_list(std::getenv("PIXMORA_DISABLE")));
    EXPECT_STREQ(name(0), "scalar");
    EXPECT_STREQ(name(avx2), "avx2");
}

// A set the processor has but detection misses would leave its kernels
// unused and their tests skipped without a word: the kernel's own flags must
// agree.
TEST(InstructionSets, DetectionFindsEverySetTheKernelReports)
{
#if defined(__x86_64__) && defined(__linux__)
    using namespace pm::cpu;
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
    }
    if (line.empty())
        GTEST_SKIP() << "/proc/cpuinfo lists no flags";
    std::istringstream words(line.substr(line.find(':') + 1));
    sets listed = 0;
    bool bmi1 = false; // the AVX2 kernels use BMI1 too
    for (std::string flag; words >> flag;) {
        listed |= flag == "sse2" ? sse2 : flag == "ssse3" ? ssse3 : flag == "avx2" ? avx2 : 0;
        bmi1 = bmi1 || flag == "bmi1";
    }
    if (!bmi1)
        listed &= ~avx2;
    EXPECT_EQ(detected() & listed, listed) << line;
#else
    GTEST_SKIP() << "compared with /proc/cpuinfo on x86-64 Linux only";
#endif
}

} // namespace
