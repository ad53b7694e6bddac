// Fuzz target for the PCX loader: every input is loaded once, from memory or
// from a file, into a buffer whose depth and size the input chooses (see
// pcx_fuzz_load.h), and decoded by the codec call, which must agree with
// the loader and with inspection. ASan reports any byte read or written
// outside the input or the buffers; a result no load may give, an input block
// left moved, an inspection whose verdict differs from the load's result or a
// decoding that differs from a 32-bit load aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/pcx_fuzz_load.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static pcx_fuzz::session session = pcx_fuzz::start_session();
    const pcx_fuzz::load_outcome outcome = pcx_fuzz::load(session, data, size, pcx_fuzz::setup_of(data, size));
    if (!pcx_fuzz::load_result_known(outcome.result) || !outcome.input_block_restored || !outcome.inspection_agrees ||
        !outcome.codec_fault.empty()) {
        std::fprintf(stderr, "pcx_fuzz: result %d, input block %s, inspection %s, codec: %s\n", outcome.result,
                     outcome.input_block_restored ? "restored" : "left moved",
                     outcome.inspection_agrees ? "agrees" : "disagrees",
                     outcome.codec_fault.empty() ? "agrees" : outcome.codec_fault.c_str());
        std::abort();
    }
    return 0;
}
