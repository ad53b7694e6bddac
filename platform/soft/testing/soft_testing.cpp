#include "platform/soft/testing/soft_testing.h"

#include <algorithm>

#include "platform/soft/soft_state.h"

namespace pm::soft {

namespace {

class test_hooks final : public display_hooks {
public:
    call_record record;
    int32_t failing_dib_sections = 0;
    int32_t failing_global_allocs = 0;
    bool libraries_provided = false;
    bool unnamed_files_refused = false;
    uint64_t fixed_name_bits = 0;
    int32_t fixed_names = 0;
    uint32_t spoiled_carry_over = 0;
    int32_t failing_new_file_closes = 0;

    void display_reset() override
    {
        record = call_record{};
        failing_dib_sections = 0;
        failing_global_allocs = 0;
        libraries_provided = false;
        unnamed_files_refused = false;
        fixed_names = 0;
        spoiled_carry_over = 0;
        failing_new_file_closes = 0;
    }
    void stretched(const stretch_call &call) override { record.stretches.push_back(call); }
    void palette_selected(const palette_select_call &call) override { record.palette_selects.push_back(call); }
    void palette_realized(pm_hdc dc) override { record.palette_realizations.push_back(dc); }
    void palette_animated(const palette_animate_call &call) override { record.palette_animations.push_back(call); }
    void keyboard_state_set() override { ++record.keyboard_state_sets; }
    void library_freed() override { ++record.library_frees; }
    bool dib_section_may_be_created(const dib_create_call &call) override
    {
        record.dib_creations.push_back(call);
        return !take(failing_dib_sections);
    }
    bool global_block_may_be_allocated() override { return !take(failing_global_allocs); }
    bool library_may_be_loaded() override
    {
        ++record.library_loads;
        return libraries_provided;
    }

    bool unnamed_file_may_be_made() override { return !unnamed_files_refused; }
    bool file_name_bits_given(uint64_t *bits) override
    {
        if (!take(fixed_names))
            return false;
        *bits = fixed_name_bits;
        return true;
    }
    void carried_over(uint32_t *owner, uint32_t *group, uint32_t *mode) override
    {
        *owner ^= spoiled_carry_over & 1 ? 1u : 0u;
        *group ^= spoiled_carry_over & 2 ? 1u : 0u;
        *mode ^= spoiled_carry_over & 4 ? 04u : 0u;
        spoiled_carry_over = 0;
    }
    bool new_file_may_be_closed() override { return !take(failing_new_file_closes); }

private:
    // Uses up one injected failure, if any is left.
    static bool take(int32_t &failures)
    {
        if (failures <= 0)
            return false;
        --failures;
        return true;
    }
};

// Never destroyed: the display, a static of its own, may still call the
// hooks while the program exits.
test_hooks &hooks()
{
    static test_hooks &instance = *new test_hooks;
    return instance;
}

// Attached before main(), so that the record holds every call of a program
// that links this file.
[[maybe_unused]] const bool attached = [] {
    detail::state().hooks = &hooks();
    return true;
}();

} // namespace

const call_record &calls()
{
    return hooks().record;
}

void clear_calls()
{
    hooks().record = call_record{};
}

void fail_next_dib_sections(int32_t n)
{
    hooks().failing_dib_sections = std::max(n, 0);
}

void fail_next_global_allocs(int32_t n)
{
    hooks().failing_global_allocs = std::max(n, 0);
}

void provide_libraries(bool provided)
{
    hooks().libraries_provided = provided;
}

void refuse_unnamed_files(bool refused)
{
    hooks().unnamed_files_refused = refused;
}

void fix_next_file_names(uint64_t bits, int32_t n)
{
    hooks().fixed_name_bits = bits;
    hooks().fixed_names = std::max(n, 0);
}

void spoil_next_carry_over(uint32_t what)
{
    hooks().spoiled_carry_over = what;
}

void fail_next_new_file_closes(int32_t n)
{
    hooks().failing_new_file_closes = std::max(n, 0);
}

} // namespace pm::soft
