// The choices a fuzz input makes, taken from its bytes front to back, for
// the targets that build their work from an input rather than read it as a
// file (calls_fuzz, codec_fuzz).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

// Takes the choices of a run from the input, front to back; zeros once it
// is used up.
class choices {
public:
    choices(const uint8_t *data, size_t size) : data_(data), left_(size) {}

    size_t remaining_bytes() const { return left_; }

    // A value in low..high, from as many bytes as the range needs.
    template <typename T>
    T ConsumeIntegralInRange(T low, T high)
    {
        const uint64_t range = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
        uint64_t value = 0;
        for (unsigned seen = 0; left_ > 0 && seen < 64 && (range >> seen) != 0; seen += 8) {
            value = value << 8 | *data_++;
            --left_;
        }
        if (range != UINT64_MAX)
            value %= range + 1;
        return static_cast<T>(static_cast<uint64_t>(low) + value);
    }
    bool ConsumeBool() { return (ConsumeIntegralInRange<uint8_t>(0, 255) & 1) != 0; }
    template <typename T, size_t n>
    T PickValueInArray(const T (&values)[n])
    {
        return values[ConsumeIntegralInRange<size_t>(0, n - 1)];
    }
    template <typename T>
    std::vector<T> ConsumeBytes(size_t count)
    {
        count = std::min(count, left_);
        std::vector<T> taken(data_, data_ + count);
        data_ += count;
        left_ -= count;
        return taken;
    }

private:
    const uint8_t *data_;
    size_t left_;
};

} // namespace fuzz
