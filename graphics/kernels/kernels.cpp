// The library's kernel table: the scalar references, and each set's
// kernels in the order they go over them (platform/cpu/kernel_table.h).
#include "graphics/kernels/kernels.h"

namespace pm {

graphics_kernels graphics_kernel_layer::scalar()
{
    graphics_kernels table;
    table.pcx_indexed8_to_32 = &pcx_indexed8_to_32_scalar;
    table.pcx_planar24_to_32 = &pcx_planar24_to_32_scalar;
    table.copy_rows = &copy_rows_scalar;
    table.step_mask = &step_mask_scalar;
    return table;
}

const cpu::set_kernels<graphics_kernels> graphics_kernel_layer::adders[4] = {
    {cpu::sse2, &kernels_add_sse2},
    {cpu::ssse3, &kernels_add_ssse3},
    {cpu::avx2, &kernels_add_avx2},
    {cpu::simd128, &kernels_add_simd128},
};

template class cpu::kernel_table<graphics_kernel_layer>;

} // namespace pm
