// Controller firmware and option ROM builders.
#include "hba_images.h"

#include <cstdio>
#include <cstring>

#include "le_bytes.h"

namespace qemu::images {
namespace {

using bytes::getLe32;
using bytes::putLe16;
using bytes::putLe32;

constexpr uint32_t kFormA[4] = {0xEA000000, 0x5AFAA55A, 0xA55AFAA5, 0x5AA55AFA};
constexpr uint32_t kFormB[4] = {0xEB000000, 0x5AEAA500, 0xA55AEAA5, 0x5AA55AEA};
constexpr size_t kFormBHeader = 0x100;
constexpr size_t kHeaderSize = 256;
constexpr size_t kNvdataSize = 256;
constexpr size_t kProductBlock = 128;  // 64 + 4 * 16
constexpr size_t kSmallImage = 256;

void put32(HbaBytes& b, size_t at, uint32_t v) {
    putLe32(b.data() + at, v);
}
void put16(HbaBytes& b, size_t at, uint16_t v) {
    putLe16(b.data() + at, v);
}

// The sum of all words, a short tail padded with zeros.
uint32_t wordSum(const HbaBytes& b) {
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 4) {
        uint8_t w[4] = {};
        for (size_t k = 0; k < 4 && i + k < b.size(); ++k)
            w[k] = b[i + k];
        sum += getLe32(w);
    }
    return sum;
}

struct Extended {
    uint32_t type;
    size_t size;
};

void writeNvdata(HbaBytes& img, size_t at, const NvdataOptions& nv) {
    put32(img, at + 64, nv.badSignature ? 0x546F6C63 : 0x546F6C62);
    put32(img, at + 72, nv.version);
    put16(img, at + 92, nv.productBlockOutside ? 0x7FFF : 16);
    const size_t block = at + kProductBlock;
    put32(img, block, nv.badProductSignature ? 0x57657371 : 0x57657370);
    std::memcpy(img.data() + block + 4, "QUARLEN", 7);
    std::memcpy(img.data() + block + 12, "QS-TEST", 7);
    put16(img, block + 40, nv.deviceTest);
    put16(img, block + 42, nv.deviceId);
    img[block + 48] = nv.revision;
    img[block + 50] = nv.upperRevision;
}

void sealImage(HbaBytes& img, bool badSum) {
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < img.size(); ++i)
        sum = static_cast<uint8_t>(sum + img[i]);
    img.back() = static_cast<uint8_t>(0x100 - sum + (badSum ? 1 : 0));
}

HbaBytes romImage(const RomImageOptions& o, bool last) {
    HbaBytes img(size_t{o.blocks} * 512, 0);
    for (size_t i = 0x60; i < img.size(); ++i)
        img[i] = static_cast<uint8_t>(i * 7 + o.fill + o.codeType);
    img[0] = o.badSignature ? 0x00 : 0x55;
    img[1] = 0xAA;
    const size_t pcir = 0x1C;
    put16(img, 0x18, o.pcirOutside ? static_cast<uint16_t>(img.size() - 4) : pcir);
    if (o.codeType == 3) {
        put16(img, 2, o.blocks);
        put32(img, 4, 0x0EF1);
        img[26] = static_cast<uint8_t>(o.version);
        img[27] = static_cast<uint8_t>(o.version >> 8);
    } else {
        img[2] = static_cast<uint8_t>(o.blocks);
        img[3] = 0xE9;
    }
    std::memcpy(img.data() + pcir, "PCIR", 4);
    put16(img, pcir + 4, 0x1F3A);
    put16(img, pcir + 6, o.deviceId);
    put16(img, pcir + 0x0A, o.pcirRevision >= 3 ? 0x1C : 0x18);
    img[pcir + 0x0C] = o.pcirRevision;
    img[pcir + 0x0F] = 0x01;
    uint16_t length = o.blocks;
    if (o.zeroLength)
        length = 0;
    if (o.overlong)
        length = static_cast<uint16_t>(o.blocks + 100);
    put16(img, pcir + 0x10, length);
    put16(img, pcir + 0x12, static_cast<uint16_t>(o.version >> 16));
    img[pcir + 0x14] = o.codeType;
    img[pcir + 0x15] = last ? 0x80 : 0x00;
    if (o.codeType == 0) {
        const size_t build = pcir + (o.pcirRevision >= 3 ? 0x1C : 0x18);
        img[build] = static_cast<uint8_t>(o.version >> 8);
        img[build + 1] = static_cast<uint8_t>(o.version);
    } else if (o.codeType == 1) {
        char text[64];
        std::snprintf(text, sizeof text, "@(#)QFCODE Version %x.%02u.%02u.%02u", o.version >> 24,
                      (o.version >> 16) & 0xFF, (o.version >> 8) & 0xFF, o.version & 0xFF);
        std::memset(img.data() + 0x60, 0x20, 64);
        std::memcpy(img.data() + 0x60, text, std::strlen(text) + 1);
    }
    return img;
}

}  // namespace

HbaBytes buildHbaFirmware(const HbaFirmwareOptions& o) {
    std::vector<Extended> chain;
    const size_t listSize = 72 + 16 * (o.supportedDevices.empty() ? 1 : o.supportedDevices.size());
    chain.push_back({7, (listSize + 15) / 16 * 16});
    for (size_t i = 0; i < o.nvdata.size(); ++i)
        chain.push_back({3, kNvdataSize});
    if (o.bootloader)
        chain.push_back({4, kSmallImage});
    if (o.initialization)
        chain.push_back({5, kSmallImage});

    const size_t h = o.formB ? kFormBHeader : 0;
    size_t need = h + kHeaderSize;
    for (const Extended& e : chain)
        need += e.size;
    HbaBytes img(o.size > need ? o.size : need, 0);
    for (size_t i = need; i < img.size(); ++i)
        img[i] = static_cast<uint8_t>(i * 13 + 5);
    if (o.formB) {
        put32(img, 0, 0xEB0000FF);  // prefix block; word 1 stays 0
        put32(img, 0x2C, static_cast<uint32_t>(h));
    }
    const uint32_t* sig = o.formB ? kFormB : kFormA;
    for (size_t i = 0; i < 4; ++i)
        put32(img, h + 4 * i, sig[i]);
    if (o.badSignature)
        put32(img, h + 8, 0x12345678);
    put32(img, h + 16, o.interfaceVersion);
    put32(img, h + 20, o.firmwareVersion);
    put32(img, h + 24, o.nvdataVersion);
    put32(img, h + 28, o.firmwareVersion);
    put16(img, h + 0x20, o.vendorId);
    put16(img, h + 0x22, o.productId);
    std::memcpy(img.data() + h + 104, "QSC-TEST", 8);
    std::memcpy(img.data() + h + 140, "Quarlen", 7);

    size_t at = h + kHeaderSize;
    put32(img, h + 0x30, static_cast<uint32_t>(at - h));
    const size_t first = at;
    size_t nvIndex = 0;
    for (size_t i = 0; i < chain.size(); ++i) {
        const Extended& e = chain[i];
        put32(img, at, e.type);
        put32(img, at + 8, static_cast<uint32_t>(e.size));
        const bool lastLink = i + 1 == chain.size();
        put32(img, at + 12, lastLink ? 0 : static_cast<uint32_t>(at + e.size - h));
        if (lastLink && o.loopingChain)
            put32(img, at + 12, static_cast<uint32_t>(first - h));
        if (lastLink && o.overlongChain)
            put32(img, at + 8, static_cast<uint32_t>(img.size()));
        if (e.type == 7) {
            img[at + 66] =
                o.deviceCountOverrun ? 255 : static_cast<uint8_t>(o.supportedDevices.size());
            for (size_t d = 0; d < o.supportedDevices.size(); ++d)
                put16(img, at + 72 + 16 * d, o.supportedDevices[d]);
        } else if (e.type == 3) {
            writeNvdata(img, at, o.nvdata[nvIndex++]);
        }
        at += e.size;
    }

    for (size_t t = 0; t < o.oddTail && t < 3; ++t)
        img.push_back(static_cast<uint8_t>(0x40 + t));
    const size_t fix = o.formB ? 0x28 : 0x24;
    put32(img, fix, 0);
    put32(img, fix, 0u - wordSum(img) + (o.badSum ? 1u : 0u));
    return img;
}

HbaBytes buildOptionRom(const OptionRomOptions& o) {
    HbaBytes out;
    for (size_t i = 0; i < o.images.size(); ++i) {
        const bool last = i + 1 == o.images.size() && !o.noLastBit;
        HbaBytes img = romImage(o.images[i], last);
        sealImage(img, o.badSum && i == 0);
        out.insert(out.end(), img.begin(), img.end());
    }
    for (size_t i = 0; i < o.components.size(); ++i) {
        const RomComponentOptions& c = o.components[i];
        HbaBytes block(c.size < 100 ? 100 : c.size, c.fill);
        block[0] = 0x55;
        block[1] = 0xAA;
        put32(block, 56, (c.kind << 28) | c.id);
        put32(block, 96, o.zeroSizeComponent && i == 0 ? 0 : static_cast<uint32_t>(block.size()));
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

}  // namespace qemu::images
