// The instruction sets: what PIXMORA_DISABLE's lists name, and what the
// kernel tables are filled from.
#include <gtest/gtest.h>

#include <cstdlib>

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

} // namespace
