// Fuzz target for the PCX loader: every input is loaded once, from memory or
// from a file, into a buffer whose depth and size the input chooses (see
// pcx_fuzz_load.h). ASan reports any byte read or written outside the input
// or the buffers; a result no load may give, an input block left moved or an
// inspection whose verdict differs from the load's result aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/pcx_fuzz_load.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static pcx_fuzz::session session = pcx_fuzz::start_session();
    const pcx_fuzz::load_outcome outcome = pcx_fuzz::load(session, data, size, pcx_fuzz::setup_of(data, size));
    if (!pcx_fuzz::load_result_known(outcome.result) || !outcome.input_block_restored || !outcome.inspection_agrees) {
        std::fprintf(stderr, "pcx_fuzz: result %d, input block %s, inspection %s\n", outcome.result,
                     outcome.input_block_restored ? "restored" : "left moved",
                     outcome.inspection_agrees ? "agrees" : "disagrees");
        std::abort();
    }
    return 0;
}
