// Fuzz target for the PCX loader's memory source: every input is loaded into
// a 32 x 16 buffer of each depth. ASan reports any byte read or written
// outside the input or the buffers.
#include <cstddef>
#include <cstdint>

#include "fuzz/pcx_fuzz_load.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const pcx_fuzz::session session = pcx_fuzz::start_session();
    pcx_fuzz::load_at_every_depth(session, data, size);
    return 0;
}
