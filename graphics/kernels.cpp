// Filling the library's kernel table: the scalar references first, then each
// allowed set's kernels over them.
#include "graphics/kernels.h"

namespace pm {
namespace {

graphics_kernels fill(cpu::sets allowed)
{
    graphics_kernels table;
    table.pcx_indexed8_to_32 = &pcx_indexed8_to_32_scalar;
    table.pcx_planar24_to_32 = &pcx_planar24_to_32_scalar;
    table.copy_rows = &copy_rows_scalar;
    table.step_mask = &step_mask_scalar;
    constexpr struct {
        cpu::sets set;
        bool (*add)(graphics_kernels &);
    } adders[] = {{cpu::sse2, &kernels_add_sse2},
                  {cpu::ssse3, &kernels_add_ssse3},
                  {cpu::avx2, &kernels_add_avx2},
                  {cpu::simd128, &kernels_add_simd128}};
    for (const auto &adder : adders) {
        if ((allowed & adder.set) != 0 && adder.add(table))
            table.sets |= adder.set;
    }
    return table;
}

} // namespace

graphics_kernels &kernels_table()
{
    static graphics_kernels filled = fill(cpu::allowed());
    return filled;
}

cpu::sets kernels_select(cpu::sets allowed)
{
    kernels_table() = fill(allowed & cpu::detected());
    return kernels_table().sets;
}

} // namespace pm
