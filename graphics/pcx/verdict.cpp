// The loader's one verdict on a picture, from its header alone: the load,
// inspection and the codec decide through it.
#include "graphics/pcx/verdict.h"

#include "graphics/pcx/convert.h"

namespace pm {
namespace {

pcx_verdict pcx_refusal(int32_t result, int32_t reason, const pcx_picture &picture)
{
    return pcx_verdict{result, reason, picture, nullptr};
}

int32_t pcx_fault_reason(pcx_header_fault fault)
{
    switch (fault) {
    case pcx_header_fault::window:
        return pcx_reason::window;
    case pcx_header_fault::no_planes:
        return pcx_reason::no_planes;
    case pcx_header_fault::bytes_per_line:
        return pcx_reason::no_line;
    case pcx_header_fault::line_too_short:
        return pcx_reason::line_too_short;
    case pcx_header_fault::none:
        break;
    }
    return pcx_reason::none;
}

} // namespace

int32_t pcx_colours(pcx_format format)
{
    switch (format) {
    case pcx_format::mono:
        return 2;
    case pcx_format::packed2:
    case pcx_format::planar4:
        return 4;
    case pcx_format::planar8:
        return 8;
    case pcx_format::planar16:
    case pcx_format::packed4:
        return 16;
    case pcx_format::indexed8:
        return 256;
    case pcx_format::planar24:
    case pcx_format::planar32:
        return 1 << 24;
    case pcx_format::none:
        break;
    }
    return 0;
}

pcx_verdict pcx_judge(const uint8_t *header, uint32_t available, int32_t depth, bool all_layouts)
{
    if (available < static_cast<uint32_t>(pcx_header_size))
        return pcx_refusal(pcx_result::invalid, pcx_reason::short_header, pcx_picture{});
    const pcx_picture picture = pcx_parse_header(header, all_layouts);
    if (header[0] != pcx_manufacturer)
        return pcx_refusal(pcx_result::invalid, pcx_reason::manufacturer, picture);
    if (const pcx_header_fault fault = pcx_check_header(picture); fault != pcx_header_fault::none)
        return pcx_refusal(pcx_result::invalid, pcx_fault_reason(fault), picture);
    if (picture.format == pcx_format::none)
        return pcx_refusal(pcx_result::unsupported, pcx_reason::no_converter, picture);
    const pcx_row_converter convert = pcx_choose_converter(picture.format, depth);
    if (convert == nullptr)
        return pcx_refusal(pcx_result::unsupported, pcx_reason::depth, picture);
    return pcx_verdict{pcx_result::ok, pcx_reason::none, picture, convert};
}

} // namespace pm
