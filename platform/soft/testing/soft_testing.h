// The test build of the software display: the record of the calls that tests
// need to see, and the failures they inject. A program that links
// pixmora_soft_testing and uses any of this attaches it to the display
// before main() runs; the library itself carries none of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/soft/soft_hooks.h"

namespace pm::soft {

// One kind of recorded call, oldest first. It keeps only the latest calls,
// so that a program that runs for days (presenting every frame) uses flat
// memory: when it is full, the older half is dropped, keeping at least the
// latest call_list_limit / 2. Calls are added only through push_back, which
// keeps that bound; the rest reads as a vector.
constexpr size_t call_list_limit = 4096;
template <typename T>
class call_list {
public:
    void push_back(const T &call)
    {
        if (calls_.size() >= call_list_limit)
            calls_.erase(calls_.begin(), calls_.begin() + call_list_limit / 2);
        calls_.push_back(call);
    }
    size_t size() const { return calls_.size(); }
    size_t capacity() const { return calls_.capacity(); }
    bool empty() const { return calls_.empty(); }
    const T &operator[](size_t i) const { return calls_[i]; }
    const T &at(size_t i) const { return calls_.at(i); }
    const T &front() const { return calls_.front(); }
    const T &back() const { return calls_.back(); }
    auto begin() const { return calls_.begin(); }
    auto end() const { return calls_.end(); }

private:
    std::vector<T> calls_;
};

struct call_record {
    call_list<stretch_call> stretches;
    call_list<palette_select_call> palette_selects;
    call_list<palette_animate_call> palette_animations;
    call_list<dib_create_call> dib_creations;
    call_list<pm_hdc> palette_realizations;
    int32_t keyboard_state_sets = 0;
    int32_t library_loads = 0;
    int32_t library_frees = 0; // every call, stale handles included
};
// Emptied by reset() and clear_calls().
const call_record &calls();
void clear_calls();

// Makes the next n bitmap creations fail (as when memory runs out).
void fail_next_dib_sections(int32_t n);
// Makes the next n global allocations fail.
void fail_next_global_allocs(int32_t n);

// Lets library loads succeed, whatever the name; off (the default, and again
// after reset) every load fails. A loaded library finds every entry point.
void provide_libraries(bool provided);

// The file replacement (all undone by reset). Makes saves act as on a file
// system that cannot make a file without a name: they name every file they
// make from the start.
void refuse_unnamed_files(bool refused);
// Gives the next n names a save makes the random part that bits make, so
// that a test can make one of them taken beforehand.
void fix_next_file_names(uint64_t bits, int32_t n);
// Makes the next check of a carried-over owner, group and mode read back a
// different owner (1), group (2) or mode (4), as a file system that takes a
// change without keeping it shows.
void spoil_next_carry_over(uint32_t what);
// Makes the next n closes of a save's new file fail (EIO), as on a network
// file system that reports a failed write only then.
void fail_next_new_file_closes(int32_t n);

} // namespace pm::soft
