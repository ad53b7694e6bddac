#include "support/initial_state.h"

#include <cstring>

#include <pixmora/pixmora.h>

namespace pixmora_test {
namespace {

// A copy of the record as the program loaded it, taken before any test runs.
const pm_state_record &initial_state()
{
    static const pm_state_record *copy = [] {
        auto *state = new pm_state_record;
        std::memcpy(static_cast<void *>(state), &pm_state, sizeof pm_state);
        return state;
    }();
    return *copy;
}
[[maybe_unused]] const pm_state_record &taken_at_load = initial_state();

} // namespace

void restore_initial_state()
{
    std::memcpy(static_cast<void *>(&pm_state), &initial_state(), sizeof pm_state);
    pm_state.input_block = pm_state.read_buffer;
}

} // namespace pixmora_test
