// Shrinking lines: each drawn column converts its own source pixel, and the
// other rows of the block copy the first.
#include "platform/soft/soft_stretch.h"

namespace pm::soft::detail {
namespace {

template <class Source>
class shrinking final : public line_maker<Source> {
public:
    shrinking(const std::vector<int32_t> &shown, const Source &source) : source_(source), offsets_(shown.size())
    {
        for (size_t i = 0; i < offsets_.size(); ++i)
            offsets_[i] = static_cast<size_t>(shown[i]) * Source::bytes;
    }

    void make(row_block out, const uint8_t *row) override
    {
        for (size_t i = 0; i < offsets_.size(); ++i)
            out.first[i] = source_(row + offsets_[i]);
        copy_first_row(out, offsets_.size());
    }

private:
    Source source_;
    std::vector<size_t> offsets_; // source byte offset of each drawn column
};

} // namespace

template <class Source>
std::unique_ptr<line_maker<Source>> shrinking_lines(const std::vector<int32_t> &shown, const Source &source)
{
    return std::make_unique<shrinking<Source>>(shown, source);
}

template std::unique_ptr<line_maker<source_8>> shrinking_lines(const std::vector<int32_t> &, const source_8 &);
template std::unique_ptr<line_maker<source_16<order_xrgb>>> shrinking_lines(const std::vector<int32_t> &,
                                                                            const source_16<order_xrgb> &);
template std::unique_ptr<line_maker<source_16<order_rgba>>> shrinking_lines(const std::vector<int32_t> &,
                                                                            const source_16<order_rgba> &);
template std::unique_ptr<line_maker<source_bgr<3, order_xrgb>>> shrinking_lines(const std::vector<int32_t> &,
                                                                                const source_bgr<3, order_xrgb> &);
template std::unique_ptr<line_maker<source_bgr<3, order_rgba>>> shrinking_lines(const std::vector<int32_t> &,
                                                                                const source_bgr<3, order_rgba> &);
template std::unique_ptr<line_maker<source_bgr<4, order_xrgb>>> shrinking_lines(const std::vector<int32_t> &,
                                                                                const source_bgr<4, order_xrgb> &);
template std::unique_ptr<line_maker<source_bgr<4, order_rgba>>> shrinking_lines(const std::vector<int32_t> &,
                                                                                const source_bgr<4, order_rgba> &);

} // namespace pm::soft::detail
