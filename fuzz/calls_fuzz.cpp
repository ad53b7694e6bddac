// Fuzz target for sequences of library calls with hostile arguments on the
// software display (see calls_fuzz_run.h). A broken check aborts with what
// went wrong; ASan and UBSan report the rest.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/calls_fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string failure = calls_fuzz::run(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "calls_fuzz: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
