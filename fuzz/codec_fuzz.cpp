// Fuzz target for the codec calls: pictures made from the input are encoded
// in every layout and decoded back in every format (see codec_fuzz_run.h).
// A broken check aborts with what went wrong; ASan and UBSan report the rest.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/codec_fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string failure = codec_fuzz::run(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "codec_fuzz: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
