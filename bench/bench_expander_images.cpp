// Speed of the expander image checks over 16 MiB: the firmware check (one
// word sum), the manufacturing walk over 64-byte pages, and the
// post-validation comparison. Targets: 2 GB/s, 500 MB/s and 2 GB/s.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "expander/expander_images.h"
#include "shell/bytes.h"

namespace {

constexpr size_t kSize = 16u << 20;

std::vector<uint8_t> firmwareImage() {
    std::vector<uint8_t> image(kSize);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    putLe32(image.data(), 4, kFirmwareSignature1);
    putLe32(image.data(), 8, kFirmwareSignature2);
    putLe32(image.data(), 12, kFirmwareSignature3);
    putLe32(image.data(), 76, kFirmwareLengthUnset);
    putLe32(image.data(), 80, 0);
    putLe32(image.data(), 80, 0u - firmwareWordSum(image.data(), image.size()));
    return image;
}

// Header of 16 bytes, then records of 4 + 60 bytes with correct sums.
std::vector<uint8_t> manufacturingImage() {
    std::vector<uint8_t> image(kSize, 0);
    image[2] = kMfgSignature;
    image[3] = 16;
    size_t at = 16;
    for (; at + 64 <= image.size(); at += 64) {
        uint8_t sum = 0;
        putLe16(image.data(), at + 4, 60);
        for (size_t i = 0; i < 60; ++i) {
            if (i >= 2)
                image[at + 4 + i] = static_cast<uint8_t>(at + i);
            sum = static_cast<uint8_t>(sum + image[at + 4 + i]);
        }
        image[at] = 0xF9;
        image[at + 1] = sum;
    }
    image[at] = kMfgRecordEnd;
    return image;
}

void firmwareCheck(benchmark::State& state) {
    const std::vector<uint8_t> image = firmwareImage();
    for (auto _ : state) {
        const FirmwareImageCheck check = checkFirmwareImage(image.data(), image.size());
        if (!check.checksumValid)
            state.SkipWithError("image does not sum to 0");
        benchmark::DoNotOptimize(check);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(image.size()));
}

void manufacturingWalk(benchmark::State& state) {
    const std::vector<uint8_t> image = manufacturingImage();
    for (auto _ : state) {
        const MfgImageCheck check = checkManufacturingImage(image.data(), image.size());
        if (!check.passed())
            state.SkipWithError("image does not pass");
        benchmark::DoNotOptimize(check);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(image.size()));
}

void postValidationCompare(benchmark::State& state) {
    const std::vector<uint8_t> image = firmwareImage();
    std::vector<uint8_t> back = image;
    back[30] ^= 0xFF;  // a stamp byte: skipped
    for (auto _ : state) {
        const size_t at = firstImageDifference(image.data(), back.data(), image.size());
        if (at != image.size())
            state.SkipWithError("unexpected difference");
        benchmark::DoNotOptimize(at);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(image.size()));
}

BENCHMARK(firmwareCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(manufacturingWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(postValidationCompare)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
