// Reads a fuzz input front to back as the answers of a scripted device: once
// it runs out, every further answer is a failure, so every loop of the code
// under test ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzInput final {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return used_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[used_++]; }
    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<uint32_t>(byte()) << (8 * i);
        return value;
    }
    // Copies up to length bytes; the rest of out is left as it was.
    size_t copy(uint8_t* out, size_t length) {
        const size_t left = empty() ? 0 : size_ - used_;
        const size_t n = length < left ? length : left;
        if (n > 0)
            std::memcpy(out, data_ + used_, n);
        used_ += n;
        return n;
    }

  private:
    const uint8_t* const data_;
    const size_t size_;
    size_t used_ = 0;
};
