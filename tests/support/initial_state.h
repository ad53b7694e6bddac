// The library's record as the program loaded it, for tests on any platform.
#pragma once

namespace pixmora_test {

// Puts pm_state back to its values at program load, with the input block
// pointing at read_buffer again.
void restore_initial_state();

} // namespace pixmora_test
