#pragma once
// Takes values off the front of a fuzzer's input; once the input is used up every value is zero, so any input,
// the empty one included, describes one case.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace pathlift::fuzzing {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

    std::uint8_t Byte() noexcept { return size_ == 0 ? 0 : (--size_, *data_++); }
    std::uint16_t Unit() noexcept { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
    std::uint32_t Dword() noexcept { return Unit() | static_cast<std::uint32_t>(Unit()) << 16; }
    bool Flag() noexcept { return (Byte() & 1) != 0; }
    // A value from 0 to limit, both included.
    std::size_t Upto(std::size_t limit) noexcept {
        const std::size_t raw = static_cast<std::size_t>(Unit()) << 16 | Unit();
        return limit == SIZE_MAX ? raw : raw % (limit + 1);
    }
    bool Empty() const noexcept { return size_ == 0; }
    // The rest of the input, taken whole.
    const std::uint8_t* Rest(std::size_t& size) noexcept {
        size = size_;
        const std::uint8_t* rest = data_;
        data_ += size_;
        size_ = 0;
        return rest;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// A broken property ends the run the way a sanitizer finding does, so the fuzzer keeps the input.
inline void Require(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

} // namespace pathlift::fuzzing
