// The one question to the processor, and the reading of PIXMORA_DISABLE.
#include "platform/cpu/cpu.h"

#include <cstdlib>

namespace pm::cpu {
namespace {

sets ask_processor()
{
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    // May run before the run-time library's own start-up has asked.
    __builtin_cpu_init();
    sets found = 0;
    if (__builtin_cpu_supports("sse2"))
        found |= sse2;
    if (__builtin_cpu_supports("ssse3"))
        found |= ssse3;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi"))
        found |= avx2;
    return found;
#elif defined(__wasm_simd128__)
    return simd128;
#else
    return 0;
#endif
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the `length` characters at `word` spell `name`, in any case.
bool spells(const char *word, int length, const char *name)
{
    int i = 0;
    for (; i < length && name[i] != '\0'; ++i) {
        if (lower(word[i]) != name[i])
            return false;
    }
    return i == length && name[i] == '\0';
}

constexpr struct {
    const char *name;
    sets set;
} set_names[] = {{"sse2", sse2}, {"ssse3", ssse3}, {"avx2", avx2}, {"simd128", simd128}, {"all", every}};

} // namespace

sets detected()
{
    static const sets found = ask_processor();
    return found;
}

sets parse_list(const char *text)
{
    sets named = 0;
    if (text == nullptr)
        return named;
    auto separator = [](char c) { return c == ',' || c == ' ' || c == '\t'; };
    for (const char *at = text; *at != '\0';) {
        if (separator(*at)) {
            ++at;
            continue;
        }
        int length = 0;
        while (at[length] != '\0' && !separator(at[length]))
            ++length;
        for (const auto &entry : set_names) {
            if (spells(at, length, entry.name))
                named |= entry.set;
        }
        at += length;
    }
    return named;
}

sets allowed()
{
    static const sets chosen = detected() & ~parse_list(std::getenv("PIXMORA_DISABLE"));
    return chosen;
}

const char *name(sets one)
{
    if (one == 0)
        return "scalar";
    for (const auto &entry : set_names) {
        if (entry.set == one)
            return entry.name;
    }
    return "?";
}

} // namespace pm::cpu
