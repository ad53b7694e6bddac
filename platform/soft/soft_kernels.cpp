// The software display's kernel table: its scalar references, and each
// set's kernels in the order they go over them
// (platform/cpu/kernel_table.h).
#include "platform/soft/soft_kernels.h"

#include <cstring>

namespace pm::soft {

void convert_indices_scalar(uint32_t *out, const uint8_t *in, size_t count, const uint32_t *colours)
{
    for (size_t i = 0; i < count; ++i)
        out[i] = colours[in[i]];
}

void double_indices_scalar(row_block block, const uint8_t *in, size_t pixels, const uint64_t *pairs, size_t)
{
    const row_block out = block; // a copy the stores cannot alias
    for (size_t j = 0; j < pixels; ++j) {
        uint32_t *to = out.first + 2 * j;
        for (size_t r = 0; r < out.count; ++r, to += out.stride)
            std::memcpy(to, &pairs[in[j]], sizeof(uint64_t));
    }
}

void double_colours_scalar(uint32_t *line, const uint32_t *colours, size_t pixels)
{
    for (size_t j = 0; j < pixels; ++j)
        line[2 * j] = line[2 * j + 1] = colours[j];
}

void fill_runs_scalar(uint32_t *line, const uint32_t *colours, const uint32_t *starts, size_t runs, size_t, size_t count,
                      size_t)
{
    for (size_t j = 0; j < runs; ++j) {
        const size_t end = j + 1 < runs ? starts[j + 1] : count;
        for (size_t k = starts[j]; k < end; ++k)
            line[k] = colours[j];
    }
}

void pick_groups_scalar(row_block block, const uint32_t *colours, const uint32_t *bases, const pick_group *picks,
                        size_t groups)
{
    const row_block out = block; // a copy the stores cannot alias
    for (size_t k = 0; k < groups; ++k) {
        for (size_t i = 0; i < 8; ++i) {
            const uint32_t colour = colours[bases[k] + static_cast<uint32_t>(picks[k].from[i])];
            uint32_t *to = out.first + 8 * k + i;
            for (size_t r = 0; r < out.count; ++r, to += out.stride)
                *to = colour;
        }
    }
}

present_kernels present_kernel_layer::scalar()
{
    present_kernels table;
    table.convert_indices = &convert_indices_scalar;
    table.double_indices = &double_indices_scalar;
    table.double_colours = &double_colours_scalar;
    table.fill_runs = &fill_runs_scalar;
    table.pick_groups = &pick_groups_scalar;
    return table;
}

const cpu::set_kernels<present_kernels> present_kernel_layer::adders[3] = {
    {cpu::sse2, &kernels_add_sse2},
    {cpu::avx2, &kernels_add_avx2},
    {cpu::simd128, &kernels_add_simd128},
};

} // namespace pm::soft

template class pm::cpu::kernel_table<pm::soft::present_kernel_layer>;
