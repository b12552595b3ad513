// A zero-filled, owned byte buffer whose allocation failure is reported to
// the caller (the "Unable to allocate memory." paths) instead of throwing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

class ByteBuffer final {
  public:
    ByteBuffer() = default;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&&) noexcept = default;
    ByteBuffer& operator=(ByteBuffer&&) noexcept = default;

    // Replaces the contents with `size` zero bytes; false when memory ran out.
    // A zero size allocates one byte so that data() is never null on success.
    bool allocate(size_t size) {
        void* p = std::calloc(size == 0 ? 1 : size, 1);
        if (p == nullptr)
            return false;
        data_.reset(static_cast<uint8_t*>(p));
        size_ = size;
        return true;
    }
    void reset() {
        data_.reset();
        size_ = 0;
    }

    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    uint8_t& operator[](size_t i) { return data_.get()[i]; }
    const uint8_t& operator[](size_t i) const { return data_.get()[i]; }

  private:
    struct FreeDeleter {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, FreeDeleter> data_;
    size_t size_ = 0;
};
