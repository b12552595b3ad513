// Firmware transfer of the emulated controllers: both request layouts, the
// image size in the upload reply, chunking and the last-chunk flag, the boot
// image as a PCI expansion ROM chain, the firmware image, toolbox clean and
// the download taking effect at the next hard reset.
#include <cerrno>

#include "model_controller_fixture.h"

namespace ctltest {
namespace {

// Upload / download frames written from the two layouts.
Bytes uploadFrame(bool xif25, uint8_t type, uint32_t offset, uint32_t chunk) {
    Bytes f(xif25 ? 32 : 36, 0);
    f[0] = type;
    f[3] = 0x12;
    if (xif25) {
        wr32(f, 24, offset);
        wr32(f, 28, chunk);
    } else {
        f[22] = 12;
        wr32(f, 28, offset);
        wr32(f, 32, chunk);
    }
    return f;
}

Bytes downloadFrame(bool xif25, uint8_t type, uint32_t offset, uint32_t chunk, bool last) {
    Bytes f(xif25 ? 32 : 36, 0);
    f[0] = type;
    f[3] = 0x09;
    f[7] = last ? 1 : 0;
    wr32(f, 12, chunk);
    if (xif25) {
        wr32(f, 24, offset);
        wr32(f, 28, chunk);
    } else {
        f[22] = 12;
        wr32(f, 28, offset);
        wr32(f, 32, chunk);
    }
    return f;
}

struct Target {
    const char* node;
    uint32_t ioc;
    bool xif25;
};
constexpr Target kNewest = {kXol3, 0, true};
constexpr Target kSecond = {kXol3, 1, true};
constexpr Target kOldest = {kXol2, 0, false};

uint32_t regionSize(Rig& rig, const Target& t, uint8_t type, uint16_t* status = nullptr) {
    Exchange x = rig.pass(t.node, t.ioc, uploadFrame(t.xif25, type, 0, 0), 24);
    EXPECT_EQ(x.rc, 0);
    if (status != nullptr)
        *status = x.status();
    return rd32(x.reply, 20);
}

Bytes uploadAll(Rig& rig, const Target& t, uint8_t type, uint32_t chunk) {
    const uint32_t size = regionSize(rig, t, type);
    Bytes out;
    for (uint32_t off = 0; off < size; off += chunk) {
        const uint32_t n = std::min(chunk, size - off);
        Exchange x = rig.pass(t.node, t.ioc, uploadFrame(t.xif25, type, off, n), 24, n);
        EXPECT_EQ(x.rc, 0);
        EXPECT_EQ(x.status(), 0);
        EXPECT_EQ(rd32(x.reply, 20), size);
        out.insert(out.end(), x.dataIn.begin(), x.dataIn.end());
    }
    return out;
}

uint16_t downloadAll(Rig& rig, const Target& t, uint8_t type, const Bytes& image, uint32_t chunk) {
    for (uint32_t off = 0; off < image.size(); off += chunk) {
        const uint32_t n = std::min<uint32_t>(chunk, uint32_t(image.size()) - off);
        Bytes part(image.begin() + off, image.begin() + off + n);
        Exchange x =
            rig.pass(t.node, t.ioc, downloadFrame(t.xif25, type, off, n, off + n == image.size()),
                     20, 0, part);
        EXPECT_EQ(x.rc, 0);
        EXPECT_EQ(x.reply[3], 0x09);
        if (x.status() != 0)
            return x.status();
    }
    return 0;
}

uint32_t firmwareVersion(Rig& rig, const Target& t) {
    Bytes f(12, 0);
    f[3] = 0x03;
    return rd32(rig.pass(t.node, t.ioc, f, 68).reply, 32);
}

// BIOS version word: x86 image's code revision, then the two bytes behind a
// revision-3 PCIR structure (behind a 24-byte one for older revisions).
uint32_t biosVersionWord(const Bytes& rom) {
    if (rom.size() < 0x1A || rd16(rom, 0) != 0xAA55)
        return 0;
    const size_t pcir = rd16(rom, 24);
    if (rom[pcir + 20] != 0)
        return 0;
    const size_t p = pcir + (rom[pcir + 12] > 2 ? 28 : 24);
    return uint32_t(rd16(rom, pcir + 18)) << 16 | uint32_t(rom[p]) << 8 | rom[p + 1];
}

TEST(ControllerFlash, UploadSizeQueryInBothLayouts) {
    Rig rig;
    uint16_t status = 0xFFFF;
    EXPECT_EQ(regionSize(rig, kNewest, 0, &status), 70000u);
    EXPECT_EQ(status, 0);
    EXPECT_GT(regionSize(rig, kOldest, 0, &status), 0u);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(regionSize(rig, kNewest, 9), 0u);  // a blank region
    // A classic frame to an XIF 2.5 controller and the reverse are refused.
    EXPECT_EQ(rig.pass(kXol3, 0, uploadFrame(false, 0, 0, 0), 24).status(), 0x0007);
    EXPECT_EQ(rig.pass(kXol2, 0, uploadFrame(true, 0, 0, 0), 24).status(), 0x0007);
    Bytes noDetails = uploadFrame(false, 0, 0, 0);
    noDetails[22] = 0;
    EXPECT_EQ(rig.pass(kXol2, 0, noDetails, 24).status(), 0x0007);
    for (uint8_t bad : {3, 4, 12, 200}) {
        EXPECT_EQ(rig.pass(kXol3, 0, uploadFrame(true, bad, 0, 0), 24).status(), 0x0007);
    }
}

TEST(ControllerFlash, ChunkingDoesNotChangeTheImage) {
    Rig rig;
    const Bytes big = uploadAll(rig, kNewest, 0, 32768);
    const Bytes small = uploadAll(rig, kNewest, 0, 16384);
    ASSERT_EQ(big.size(), 70000u);
    EXPECT_EQ(big, small);
    EXPECT_EQ(uploadAll(rig, kNewest, 1, 32768), big);
    // Past the end: refused; reaching over the end: zero-filled.
    EXPECT_EQ(rig.pass(kXol3, 0, uploadFrame(true, 0, 70004, 4), 24, 4).status(), 0x0007);
    Exchange tail = rig.pass(kXol3, 0, uploadFrame(true, 0, 69998, 8), 24, 8);
    EXPECT_EQ(tail.status(), 0);
    EXPECT_EQ(tail.dataIn[5], 0);
    // A data-in buffer smaller than the chunk is refused.
    EXPECT_EQ(rig.pass(kXol3, 0, uploadFrame(true, 0, 0, 64), 24, 32).status(), 0x0007);
}

TEST(ControllerFlash, FirmwareImagesAreValid) {
    Rig rig;
    for (const Target& t : {kNewest, kSecond, kOldest}) {
        const Bytes img = uploadAll(rig, t, 0, 32768);
        ASSERT_EQ(img.size() % 4, 0u);
        uint32_t sum = 0;
        for (size_t i = 0; i < img.size(); i += 4)
            sum += rd32(img, i);
        EXPECT_EQ(sum, 0u);
        size_t h = 0;
        if (t.node == kXol3 && t.ioc == 0) {  // newest family: header form B
            EXPECT_LE(rd32(img, 4) & 0xA5155AFF, 1u);
            h = rd32(img, 0x2C);
            EXPECT_EQ(rd32(img, h) >> 24, 0xEBu);
            EXPECT_EQ(rd32(img, h + 4), 0x5AEAA500u);
        } else {
            EXPECT_EQ(rd32(img, 0), 0xEA000000u);
            EXPECT_EQ(rd32(img, 4), 0x5AFAA55Au);
            EXPECT_EQ(rd32(img, 8), 0xA55AFAA5u);
            EXPECT_EQ(rd32(img, 12), 0x5AA55AFAu);
        }
        EXPECT_EQ(rd32(img, h + 20), firmwareVersion(rig, t));
        EXPECT_EQ(rd16(img, h + 0x20), 0x1F3A);
        EXPECT_EQ(rd16(img, h + 0x22) & 0x0F00, 0x0200);  // IT firmware
        EXPECT_STREQ(reinterpret_cast<const char*>(img.data() + h + 140), "Quarlen");
        // Extended images: supported devices (7), NVDATA (3), bootloader (4), init (5).
        std::vector<uint32_t> types;
        size_t ext = h + rd32(img, h + 0x30);
        for (int guard = 0; guard < 10 && ext != h; ++guard) {
            types.push_back(rd32(img, ext));
            if (rd32(img, ext) == 3) {
                EXPECT_EQ(rd32(img, ext + 64), 0x546F6C62u);
                const size_t prod = ext + 64 + 4 * rd16(img, ext + 92);
                EXPECT_EQ(rd32(img, prod), 0x57657370u);
            }
            if (rd32(img, ext) == 7) {
                EXPECT_EQ(img[ext + 66], 1);
                Bytes info;
                ASSERT_EQ(rig.adapterInfo(t.node, t.ioc, &info), 0);
                EXPECT_EQ(rd16(img, ext + 72), rd32(info, 20));
            }
            if (rd32(img, ext + 12) == 0)
                break;
            ext = h + rd32(img, ext + 12);
        }
        EXPECT_EQ(types, (std::vector<uint32_t>{7, 3, 4, 5}));
    }
}

TEST(ControllerFlash, BootImageIsAnExpansionRomChain) {
    Rig rig;
    const Bytes rom = uploadAll(rig, kNewest, 2, 16384);
    ASSERT_GT(rom.size(), 1024u);
    std::vector<int> codeTypes;
    size_t at = 0;
    bool last = false;
    while (!last && at + 0x1C < rom.size()) {
        ASSERT_EQ(rd16(rom, at), 0xAA55);
        const size_t pcir = at + rd16(rom, at + 0x18);
        ASSERT_EQ(std::string(rom.begin() + pcir, rom.begin() + pcir + 4), "PCIR");
        EXPECT_EQ(rd16(rom, pcir + 6), 0x0630);
        const size_t len = rd16(rom, pcir + 0x10) * 512u;
        uint8_t sum = 0;
        for (size_t i = at; i < at + len; ++i)
            sum = uint8_t(sum + rom[i]);
        EXPECT_EQ(sum, 0);
        codeTypes.push_back(rom[pcir + 0x14]);
        last = (rom[pcir + 0x15] & 0x80) != 0;
        if (rom[pcir + 0x14] == 3) {
            const uint32_t uefi = uint32_t(rom[pcir + 0x13]) << 24 |
                                  uint32_t(rom[pcir + 0x12]) << 16 | uint32_t(rom[at + 27]) << 8 |
                                  rom[at + 26];
            EXPECT_EQ(uefi, 0x12000400u);
        }
        at += len;
    }
    EXPECT_TRUE(last);
    EXPECT_EQ(at, rom.size());
    EXPECT_EQ(codeTypes, (std::vector<int>{0, 3}));
    EXPECT_EQ(biosVersionWord(rom), 0x08240100u);

    const Bytes oldRom = uploadAll(rig, kOldest, 2, 16384);
    EXPECT_EQ(biosVersionWord(oldRom), 0x07100000u);
    const size_t pcir = rd16(oldRom, 0x18);
    EXPECT_EQ(oldRom[pcir + 0x15] & 0x80, 0x80);  // x86 only: it is the last image
}

TEST(ControllerFlash, DownloadTakesEffectAtTheNextReset) {
    Rig rig;
    Bytes img = uploadAll(rig, kNewest, 0, 32768);
    const size_t h = rd32(img, 0x2C);
    wr32(img, h + 20, 0x10000400);  // newer firmware version
    const uint32_t before = firmwareVersion(rig, kNewest);

    // All chunks but the last leave the region alone.
    Bytes first(img.begin(), img.begin() + 32768);
    ASSERT_EQ(rig.pass(kXol3, 0, downloadFrame(true, 1, 0, 32768, false), 20, 0, first).status(),
              0);
    EXPECT_NE(uploadAll(rig, kNewest, 5, 32768), img);

    ASSERT_EQ(downloadAll(rig, kNewest, 1, img, 32768), 0);
    EXPECT_EQ(uploadAll(rig, kNewest, 5, 32768), img);
    EXPECT_EQ(firmwareVersion(rig, kNewest), before);
    ASSERT_EQ(rig.hardReset(kXol3, 0), 0);
    rig.services.now += 10'000'000'000ull;
    EXPECT_EQ(firmwareVersion(rig, kNewest), 0x10000400u);
    EXPECT_EQ(uploadAll(rig, kNewest, 0, 32768), img);
    Bytes info;
    ASSERT_EQ(rig.adapterInfo(kXol3, 0, &info), 0);
    EXPECT_EQ(rd32(info, 40), 0x10000400u);
}

TEST(ControllerFlash, PendingDownloadSurvivesANewProcess) {
    Rig rig;
    Bytes img = uploadAll(rig, kOldest, 0, 4096);
    wr32(img, 20, 0x0A000200);
    ASSERT_EQ(downloadAll(rig, kOldest, 1, img, 4096), 0);
    rig.build();
    EXPECT_EQ(firmwareVersion(rig, kOldest), 0x0A000100u);
    ASSERT_EQ(rig.hardReset(kXol2, 0), 0);
    rig.services.now += 10'000'000'000ull;
    EXPECT_EQ(firmwareVersion(rig, kOldest), 0x0A000200u);
}

TEST(ControllerFlash, MalformedDownloadsAreRefused) {
    Rig rig;
    const Bytes chunk(64, 0x11);
    // Offset not where the previous chunk ended.
    ASSERT_EQ(rig.pass(kXol3, 0, downloadFrame(true, 2, 0, 64, false), 20, 0, chunk).status(), 0);
    EXPECT_EQ(rig.pass(kXol3, 0, downloadFrame(true, 2, 128, 64, true), 20, 0, chunk).status(),
              0x0007);
    // Size field disagreeing with the chunk size.
    Bytes f = downloadFrame(true, 2, 0, 64, true);
    wr32(f, 12, 60);
    EXPECT_EQ(rig.pass(kXol3, 0, f, 20, 0, chunk).status(), 0x0007);
    // Data-out shorter than the chunk.
    EXPECT_EQ(rig.pass(kXol3, 0, downloadFrame(true, 2, 0, 128, true), 20, 0, chunk).status(),
              0x0007);
    // Wrong layout, unknown type, firmware without a header.
    EXPECT_EQ(rig.pass(kXol3, 0, downloadFrame(false, 2, 0, 64, true), 20, 0, chunk).status(),
              0x0007);
    EXPECT_EQ(rig.pass(kXol3, 0, downloadFrame(true, 9, 0, 64, true), 20, 0, chunk).status(),
              0x0007);
    EXPECT_EQ(rig.pass(kXol3, 0, downloadFrame(true, 1, 0, 64, true), 20, 0, chunk).status(),
              0x0007);
    // None of it reached the flash.
    EXPECT_EQ(biosVersionWord(uploadAll(rig, kNewest, 2, 16384)), 0x08240100u);
}

TEST(ControllerFlash, BiosDownloadReplacesTheBootImage) {
    Rig rig;
    Bytes rom = uploadAll(rig, kSecond, 2, 16384);
    const size_t pcir = rd16(rom, 0x18);
    rom[pcir + 0x1C] = 0x05;
    ASSERT_EQ(downloadAll(rig, kSecond, 2, rom, 5000), 0);
    EXPECT_EQ(uploadAll(rig, kSecond, 2, 16384), rom);
    EXPECT_EQ(biosVersionWord(uploadAll(rig, kSecond, 2, 16384)) & 0xFF00, 0x0500u);
}

Bytes cleanFrame(uint32_t flags, uint8_t tool = 0) {
    Bytes f(16, 0);
    f[0] = tool;
    f[3] = 0x17;
    wr32(f, 12, flags);
    return f;
}

TEST(ControllerFlash, ToolboxCleanRegionFlags) {
    Rig rig;
    EXPECT_EQ(rig.pass(kXol3, 0, cleanFrame(0x00000001), 20).status(), 0x0007);
    EXPECT_EQ(rig.pass(kXol3, 0, cleanFrame(0), 20).status(), 0x0007);
    EXPECT_EQ(rig.pass(kXol3, 0, cleanFrame(0x20000000, 6), 20).status(), 0x0007);

    Exchange boot = rig.pass(kXol3, 0, cleanFrame(0x04000000), 20);
    EXPECT_EQ(boot.status(), 0);
    EXPECT_EQ(boot.reply[3], 0x17);
    EXPECT_EQ(regionSize(rig, kNewest, 2), 0u);

    // Other persistent pages: NVRAM copies back to defaults, current untouched.
    PageRead io1 = readPage(rig, kXol3, 0, 0, 1);
    io1.page[5] = 0x01;
    ASSERT_EQ(writePage(rig, kXol3, 0, 0, 1, 0, io1.page, 4), 0);
    ASSERT_EQ(writePage(rig, kXol3, 0, 0, 1, 0, io1.page, 2), 0);
    EXPECT_EQ(rig.pass(kXol3, 0, cleanFrame(0x20000000), 20).status(), 0);
    EXPECT_EQ(readPage(rig, kXol3, 0, 0, 1, 0, 0, 6).page[5], 0);
    EXPECT_EQ(readPage(rig, kXol3, 0, 0, 1).page[5], 1);

    EXPECT_EQ(rig.pass(kXol3, 0, cleanFrame(0x02000000 | 0x80000000), 20).status(), 0);
    EXPECT_EQ(regionSize(rig, kNewest, 11), 0u);
    EXPECT_EQ(regionSize(rig, kNewest, 8), 0u);
    rig.build();
    EXPECT_EQ(regionSize(rig, kNewest, 2), 0u);  // erasures persist
}

Bytes diagFrame(const std::string& text, uint32_t flags = 0x400000) {
    Bytes f(112, 0);
    f[0] = 6;
    f[3] = 0x17;
    wr32(f, 16, flags);
    std::memcpy(f.data() + 20, text.data(), std::min<size_t>(text.size(), 92));
    return f;
}

TEST(ControllerFlash, DiagnosticCommandLine) {
    Rig rig;
    Exchange ver = rig.pass(kXol3, 0, diagFrame("iop show ver "), 24, 0x100000);
    ASSERT_EQ(ver.rc, 0);
    EXPECT_EQ(ver.status(), 0);
    const uint32_t n = rd32(ver.reply, 20);
    const std::string text(ver.dataIn.begin(), ver.dataIn.begin() + n);
    EXPECT_NE(text.find("Firmware version : 16.00.03.00"), std::string::npos) << text;
    EXPECT_NE(text.find("XIF version      : 02.06"), std::string::npos) << text;
    Exchange pl = rig.pass(kXol3, 0, diagFrame("pl dbg"), 24, 4096);
    EXPECT_NE(std::string(reinterpret_cast<const char*>(pl.dataIn.data())).find("phy 07: link up"),
              std::string::npos);
    Exchange bad = rig.pass(kXol3, 0, diagFrame("frobnicate"), 24, 4096);
    EXPECT_EQ(bad.status(), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bad.dataIn.data())).rfind("Unknown", 0),
              0u);
    EXPECT_EQ(rig.pass(kXol3, 0, diagFrame("help", 0), 24, 4096).status(), 0x0007);
    // An answer larger than the buffer is cut, never overrun.
    Exchange tiny = rig.pass(kXol3, 0, diagFrame("help"), 24, 8);
    EXPECT_EQ(rd32(tiny.reply, 20), 7u);
}

TEST(ControllerFlash, ErasedFirmwareBootsFromBackupOrNotAtAll) {
    Rig rig;
    EXPECT_EQ(rig.pass(kXol3, 0, cleanFrame(0x10000000), 20).status(), 0);
    EXPECT_EQ(regionSize(rig, kNewest, 0), 0u);
    EXPECT_EQ(firmwareVersion(rig, kNewest), 0x10000300u);  // still running from memory
    ASSERT_EQ(rig.hardReset(kXol3, 0), 0);
    rig.services.now += 10'000'000'000ull;
    EXPECT_EQ(regionSize(rig, kNewest, 0), 70000u);

    EXPECT_EQ(rig.pass(kXol3, 0, cleanFrame(0x18000000), 20).status(), 0);
    ASSERT_EQ(rig.hardReset(kXol3, 0), 0);
    rig.services.now += 10'000'000'000ull;
    Bytes info;
    EXPECT_EQ(rig.adapterInfo(kXol3, 0, &info), -ENODEV);
}

TEST(ControllerFlash, WholeFlashViewConcatenatesRegions) {
    Rig rig;
    const uint32_t whole = regionSize(rig, kNewest, 10);
    uint32_t parts = 0;
    for (uint8_t r : {8, 0, 5, 2, 6, 7, 11})
        parts += regionSize(rig, kNewest, r);
    EXPECT_EQ(whole, parts);
    EXPECT_EQ(rig.pass(kXol3, 0, downloadFrame(true, 10, 0, 4, true), 20, 0, Bytes(4, 0)).status(),
              0x0007);
}

}  // namespace
}  // namespace ctltest
