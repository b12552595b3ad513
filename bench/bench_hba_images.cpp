// dl's image checks at the sizes a controller holds: firmware validation of a
// 16 MiB image against the same image in flash (target 1 GB/s or more), and
// BIOS validation with the merge of a 1 MiB option ROM (target 500 MB/s).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "hba/firmware_image.h"
#include "hba/option_rom.h"
#include "shell/bytes.h"
#include "shell/logger.h"

namespace {

void quiet(const char*, va_list) {}
const Logger kQuiet = {quiet, quiet, quiet, quiet, quiet, quiet, quiet};

constexpr size_t kFirmwareSize = 16u << 20;
constexpr size_t kRomSize = 1u << 20;

// Form A header, then the device list, NVDATA, bootloader and initialization
// images; the words sum to 0.
std::vector<uint8_t> firmware() {
    std::vector<uint8_t> img(kFirmwareSize);
    uint32_t x = 7;
    for (uint8_t& b : img) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    const uint32_t sig[4] = {0xEA000000, 0x5AFAA55A, 0xA55AFAA5, 0x5AA55AFA};
    for (size_t i = 0; i < 4; ++i)
        putLe32(img.data(), 4 * i, sig[i]);
    putLe16(img.data(), 0x22, 0x2213);
    const uint32_t types[] = {7, 3, 4, 5};
    size_t at = 256;
    putLe32(img.data(), 0x30, static_cast<uint32_t>(at));
    for (size_t i = 0; i < 4; ++i) {
        std::memset(img.data() + at, 0, 256);
        putLe32(img.data(), at, types[i]);
        putLe32(img.data(), at + 8, 256);
        putLe32(img.data(), at + 12, i == 3 ? 0 : static_cast<uint32_t>(at + 256));
        at += 256;
    }
    img[256 + 66] = 1;
    putLe16(img.data(), 256 + 72, 0x0521);
    const size_t nv = 512;
    putLe32(img.data(), nv + 64, 0x546F6C62);
    putLe16(img.data(), nv + 92, 16);
    putLe32(img.data(), nv + 128, 0x57657370);
    putLe16(img.data(), nv + 128 + 42, 0x0521);
    img[nv + 128 + 48] = 0xFF;
    putLe32(img.data(), 0x24, 0);
    putLe32(img.data(), 0x24, 0u - firmwareChecksum(img.data(), img.size()));
    return img;
}

void BM_FirmwareValidation(benchmark::State& state) {
    installLogger(&kQuiet);
    const std::vector<uint8_t> img = firmware();
    ControllerIdentity ioc;
    ioc.deviceId = 0x0521;
    for (auto _ : state) {
        uint32_t r = validateFirmwareFile(img.data(), img.size(), ioc);
        r |= checkNvdataCompatibility(img.data(), img.size(), img.data(), img.size(), ioc);
        r |= checkFirmwareIdentity(img.data(), img.size(), img.data(), img.size(), ioc);
        if (r != 0)
            state.SkipWithError("the image did not validate");
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(img.size()));
}
BENCHMARK(BM_FirmwareValidation);

// An x86 and an EFI image of 512 KiB each, then the same in flash.
std::vector<uint8_t> optionRom() {
    std::vector<uint8_t> rom(kRomSize, 0x5A);
    const size_t half = kRomSize / 2;
    for (size_t at = 0; at < kRomSize; at += half) {
        rom[at] = 0x55;
        rom[at + 1] = 0xAA;
        putLe16(rom.data(), at + 0x18, 0x1C);
        std::memcpy(rom.data() + at + 0x1C, "PCIR", 4);
        putLe16(rom.data(), at + 0x1C + 6, 0x0630);
        putLe16(rom.data(), at + 0x1C + 0x10, static_cast<uint16_t>(half / 512));
        rom[at + 0x1C + 0x14] = at == 0 ? 0 : 3;
        rom[at + 0x1C + 0x15] = at == 0 ? 0 : 0x80;
    }
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < rom.size(); ++i)
        sum = static_cast<uint8_t>(sum + rom[i]);
    rom.back() = static_cast<uint8_t>(0x100 - sum);
    return rom;
}

void BM_BiosValidationAndMerge(benchmark::State& state) {
    installLogger(&kQuiet);
    const std::vector<uint8_t> flash = optionRom();
    std::vector<uint8_t> file = flash;
    std::vector<uint8_t> merged;
    for (auto _ : state) {
        uint32_t r = validateBiosImage(file.data(), file.size(), 0x0630);
        r |= assembleBios(file.data(), file.size(), flash.data(), flash.size(), &merged) ? 0 : 1;
        if (r != 0)
            state.SkipWithError("the option ROM did not validate");
        benchmark::DoNotOptimize(merged.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_BiosValidationAndMerge);

}  // namespace

BENCHMARK_MAIN();
