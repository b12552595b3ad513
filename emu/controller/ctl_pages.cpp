// Configuration pages of the emulated controller: the settings pages with
// their current, default and NVRAM copies, and the configuration request
// (function 0x04) with its IOCStatus answers. Status pages: ctl_status_pages.cpp.
#include <algorithm>
#include <cstdio>

#include "ctl_controller.h"
#include "ctl_page_ids.h"

namespace qemu::ctl {
namespace {

constexpr int kLogCapacity = 8;

// Config request and reply offsets.
constexpr size_t kReqAction = 0;
constexpr size_t kReqExtType = 6;
constexpr size_t kReqHeader = 20;
constexpr size_t kReqAddress = 24;
constexpr size_t kConfigRequestSize = 28;
constexpr size_t kConfigReplySize = 24;

enum Action : uint8_t {
    kHeader = 0,
    kReadCurrent = 1,
    kWriteCurrent = 2,
    kDefault = 3,
    kWriteNvram = 4,
    kReadDefault = 5,
    kReadNvram = 6,
};

size_t headerSize(uint8_t type) {
    return type == kTypeExtended ? 8 : 4;
}

}  // namespace

Bytes Controller::newPage(uint8_t type, uint8_t ext, uint8_t number, size_t size) const {
    size = (size + 3) & ~static_cast<size_t>(3);
    Bytes p(size, 0);
    p[0] = 1;  // page version
    p[2] = number;
    p[3] = type;
    if (type == kTypeExtended) {
        set16(p, 4, static_cast<uint32_t>(size / 4));
        p[6] = ext;
    } else {
        p[1] = static_cast<uint8_t>(size / 4);
    }
    return p;
}

void Controller::buildSettingsPages() {
    auto add = [&](Bytes page, bool writable, bool manufacturing) {
        SettingsPage sp;
        sp.defaults = page;
        sp.current = page;
        sp.nvram = std::move(page);
        sp.writable = writable;
        sp.manufacturing = manufacturing;
        const uint8_t type = sp.defaults[3];
        const uint8_t ext = type == kTypeExtended ? sp.defaults[6] : 0;
        settings_[pageKey(type, ext, sp.defaults[2])] = std::move(sp);
    };
    const int phys = setup_.phys;

    Bytes m0 = newPage(kTypeManufacturing, 0, 0, 76);
    setText(m0, 4, 16, setup_.mfgChipName);
    setText(m0, 20, 8, setup_.chipRevisionText);
    setText(m0, 28, 16, setup_.boardName);
    setText(m0, 44, 16, setup_.boardAssembly);
    setText(m0, 60, 16, setup_.boardTracer);
    add(std::move(m0), false, true);

    Bytes m5 = newPage(kTypeManufacturing, 0, 5, 16 + 16 * std::max(phys, 1));
    m5[4] = static_cast<uint8_t>(phys);
    for (int i = 0; i < phys; ++i) {
        const uint64_t sas = setup_.wwid + static_cast<uint64_t>(i);
        set32(m5, 16 + 16 * i, static_cast<uint32_t>(sas));
        set32(m5, 16 + 16 * i + 4, static_cast<uint32_t>(sas >> 32));
        set64(m5, 16 + 16 * i + 8, setup_.wwid);
    }
    add(std::move(m5), true, true);

    Bytes io1 = newPage(kTypeIoUnit, 0, 1, 8);
    set32(io1, 4, 0);  // NCQ on, write cache enabled
    add(std::move(io1), true, false);

    Bytes ioc1 = newPage(kTypeIoc, 0, 1, 32);
    set32(ioc1, 4, 0x00000001);  // interrupt coalescing on
    set32(ioc1, 8, 10);
    ioc1[12] = 8;
    ioc1[13] = 0xFF;
    add(std::move(ioc1), true, false);

    // BIOS settings: options, boot device, adapter order, reassignment base.
    Bytes bios1 = newPage(kTypeBios, 0, 1, 48);
    set32(bios1, 4, 0x00000001);  // BIOS enabled
    set32(bios1, 8, 0x00000300);  // IOC settings: scan boot devices, spin-up groups
    add(std::move(bios1), true, false);
    add(newPage(kTypeBios, 0, 2, 24), true, false);
    Bytes bios3 = newPage(kTypeBios, 0, 3, 36);
    set32(bios3, 4, 0x00000001);  // global flags: adapter order enabled
    add(std::move(bios3), true, false);
    Bytes bios4 = newPage(kTypeBios, 0, 4, 12);
    set64(bios4, 4, setup_.wwid);
    add(std::move(bios4), false, false);

    // IO Unit page 11 on the newest family, SAS IO Unit page 4 before it:
    // per-phy spin-up settings.
    if (chip_.newFamily) {
        Bytes io11 = newPage(kTypeIoUnit, 0, 11, 16 + 4 * phys);
        io11[12] = static_cast<uint8_t>(phys);
        add(std::move(io11), true, false);
    } else {
        Bytes s4 = newPage(kTypeExtended, kExtSasIoUnit, 4, 16 + 4 * phys);
        s4[12] = static_cast<uint8_t>(phys);
        add(std::move(s4), true, false);
    }

    const uint8_t rates = static_cast<uint8_t>((setup_.linkRate << 4) | 0x8);
    Bytes s1 = newPage(kTypeExtended, kExtSasIoUnit, 1, 20 + 12 * phys);
    set16(s1, 10, 128);
    set16(s1, 14, 256);
    s1[16] = static_cast<uint8_t>(phys);
    s1[17] = 32;
    s1[18] = 0;
    s1[19] = 15;
    for (int i = 0; i < phys; ++i) {
        const size_t e = 20 + 12 * static_cast<size_t>(i);
        const int link = linkOfPhy(i);
        s1[e] = static_cast<uint8_t>(link >= 0 ? link : i);
        s1[e + 1] = 0x01;  // automatic port configuration
        s1[e + 2] = 0;
        s1[e + 3] = rates;
        set32(s1, e + 4, kControllerDeviceInfo);
    }
    add(std::move(s1), true, false);

    Bytes s5 = newPage(kTypeExtended, kExtSasIoUnit, 5, 16 + 16 * phys);
    s5[12] = static_cast<uint8_t>(phys);
    add(std::move(s5), true, false);

    Bytes log = newPage(kTypeExtended, kExtLog, 0, 20 + 48 * kLogCapacity);
    const uint16_t qualifiers[] = {0x0001, 0x0012, 0x0021};
    set16(log, 16, 3);
    for (int i = 0; i < 3; ++i) {
        const size_t e = 20 + 48 * static_cast<size_t>(i);
        set64(log, e, 1700000000000ULL + 1000ULL * static_cast<uint64_t>(i));
        set16(log, e + 12, static_cast<uint32_t>(i + 1));
        set16(log, e + 14, qualifiers[i]);
        for (int w = 0; w < 7; ++w) {
            set32(log, e + 20 + 4 * w, static_cast<uint32_t>((i + 1) * 0x100 + w));
        }
    }
    add(std::move(log), true, false);

    if (hasPcie(chip_)) {
        Bytes p1 = newPage(kTypeExtended, kExtPcieIoUnit, 1, 20 + 12 * kPcieLinks);
        set16(p1, 14, 128);
        p1[16] = kPcieLinks;
        for (int l = 0; l < kPcieLinks; ++l) {
            const size_t e = 20 + 12 * static_cast<size_t>(l);
            p1[e] = static_cast<uint8_t>(l);
            p1[e + 3] = 0x40;  // up to 8.0 GT/s
            bool attached = false;
            for (const NvmeSpec& n : setup_.nvme)
                attached = attached || n.link == l;
            set32(p1, e + 4, attached ? 0x10 : 0);
        }
        add(std::move(p1), true, false);
    }
}

const Bytes* Controller::settingsCurrent(uint8_t type, uint8_t ext, uint8_t number) const {
    const auto it = settings_.find(pageKey(type, ext, number));
    return it == settings_.end() ? nullptr : &it->second.current;
}

uint64_t Controller::currentWwid() const {
    const Bytes* m5 = settingsCurrent(kTypeManufacturing, 0, 5);
    if (m5 == nullptr || setup_.phys == 0)
        return setup_.wwid;
    return static_cast<uint64_t>(get32(*m5, 16)) | (static_cast<uint64_t>(get32(*m5, 20)) << 32);
}

bool Controller::phyDisabled(int phy) const {
    const Bytes* s1 = settingsCurrent(kTypeExtended, kExtSasIoUnit, 1);
    return s1 != nullptr && (get32(*s1, 20 + 12 * static_cast<size_t>(phy)) & 0x80000) != 0;
}

int Controller::linkOfPhy(int phy) const {
    for (size_t l = 0; l < setup_.links.size(); ++l) {
        const auto& p = setup_.links[l].phys;
        if (std::find(p.begin(), p.end(), phy) != p.end())
            return static_cast<int>(l);
    }
    return -1;
}

uint16_t Controller::expanderHandle(size_t link) const {
    return static_cast<uint16_t>(setup_.phys + 1 + static_cast<int>(link));
}

uint16_t Controller::nvmeHandle(size_t index) const {
    return static_cast<uint16_t>(setup_.phys + 1 + static_cast<int>(setup_.links.size()) +
                                 static_cast<int>(index));
}

bool Controller::knownPageType(uint8_t type, uint8_t ext) const {
    switch (type) {
        case kTypeIoUnit:
        case kTypeIoc:
        case kTypeBios:
        case kTypeManufacturing:
            return true;
        case kTypeExtended:
            switch (ext) {
                case kExtSasIoUnit:
                case kExtSasExpander:
                case kExtSasDevice:
                case kExtSasPhy:
                case kExtLog:
                case kExtEnclosure:
                    return true;
                case kExtPcieIoUnit:
                case kExtPcieDevice:
                case kExtPcieLink:
                    return hasPcie(chip_);
                default:
                    return false;
            }
        default:
            return false;
    }
}

void Controller::config(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply) {
    reply->assign(kConfigReplySize, 0);
    Bytes& r = *reply;
    r[3] = kFunctionConfig;
    if (length < kConfigRequestSize) {
        set16(r, 14, kIocStatusInvalidField);
        return;
    }
    const uint8_t action = frame[kReqAction];
    const uint8_t type = frame[kReqHeader + 3];
    const uint8_t number = frame[kReqHeader + 2];
    const uint8_t ext = type == kTypeExtended ? frame[kReqExtType] : 0;
    const uint32_t address = le32(frame, kReqAddress);
    r[0] = action;
    r[6] = ext;

    auto finish = [&](uint16_t status) {
        set16(r, 14, status);
        char line[160];
        std::snprintf(line, sizeof line,
                      "%s ioc%u config action %u type 0x%02x ext 0x%02x page %u addr 0x%08x "
                      "status 0x%04x",
                      setup_.node.c_str(), setup_.ioc, action, type, ext, number, address, status);
        services_.logLine(line);
    };

    const FaultSpec* fault = faults_.fire("configStatus", [&](const FaultSpec& f) {
        return (f.pageType < 0 || f.pageType == type) &&
               (f.extPageType < 0 || f.extPageType == ext) &&
               (f.pageNumber < 0 || f.pageNumber == number) &&
               (f.action < 0 || f.action == action) &&
               (f.address < 0 || static_cast<uint32_t>(f.address) == address);
    });
    if (fault != nullptr) {
        return finish(static_cast<uint16_t>(fault->status));
    }
    if (action > kReadNvram)
        return finish(kIocStatusConfigInvalidAction);
    if (!knownPageType(type, ext))
        return finish(kIocStatusConfigInvalidType);

    const auto it = settings_.find(pageKey(type, ext, number));
    SettingsPage* settings = it == settings_.end() ? nullptr : &it->second;
    Bytes built;
    const Bytes* page = nullptr;
    if (settings != nullptr) {
        page = &settings->current;
    } else {
        const uint16_t status = statusPage(type, ext, number, address, &built);
        if (status != 0)
            return finish(status);
        page = &built;
    }
    const size_t size = page->size();
    // The reply carries the page header as the controller knows it.
    std::copy(page->begin(), page->begin() + 4, r.begin() + 20);
    if (type == kTypeExtended)
        set16(r, 4, static_cast<uint32_t>(size / 4));

    auto readInto = [&](const Bytes& src) {
        if (io.dataIn != nullptr) {
            std::copy(src.begin(), src.begin() + static_cast<long>(std::min(io.dataInLength, size)),
                      io.dataIn);
        }
    };
    // A write replaces the bytes it carries (a shorter one leaves the tail
    // alone); the page header and the phy count stay the firmware's.
    auto takeWrite = [&](Bytes* dst) -> bool {
        const size_t keep = headerSize(type);
        if (io.dataOut == nullptr || io.dataOutLength <= keep)
            return false;
        const size_t n = std::min(io.dataOutLength, size);
        std::copy(io.dataOut + keep, io.dataOut + n, dst->begin() + static_cast<long>(keep));
        if (type == kTypeManufacturing && number == 5) {
            (*dst)[4] = static_cast<uint8_t>(setup_.phys);
        }
        // Clearing the entry count of the event log erases its entries.
        if (type == kTypeExtended && ext == kExtLog && get16(*dst, 16) == 0) {
            std::fill(dst->begin() + 20, dst->end(), 0);
        }
        return true;
    };

    switch (action) {
        case kHeader:
            return finish(kIocStatusSuccess);
        case kReadCurrent:
            readInto(*page);
            return finish(kIocStatusSuccess);
        case kReadDefault:
        case kReadNvram:
            if (settings == nullptr)
                return finish(kIocStatusConfigInvalidAction);
            readInto(action == kReadDefault ? settings->defaults : settings->nvram);
            return finish(kIocStatusSuccess);
        case kWriteCurrent:
        case kWriteNvram:
            if (settings == nullptr || !settings->writable) {
                return finish(kIocStatusConfigInvalidAction);
            }
            if (!takeWrite(action == kWriteCurrent ? &settings->current : &settings->nvram)) {
                return finish(kIocStatusConfigInvalidData);
            }
            savePages();
            return finish(kIocStatusSuccess);
        case kDefault:
            if (settings == nullptr || !settings->writable) {
                return finish(kIocStatusConfigInvalidAction);
            }
            settings->current = settings->defaults;
            settings->nvram = settings->defaults;
            savePages();
            return finish(kIocStatusSuccess);
        default:
            return finish(kIocStatusConfigInvalidAction);
    }
}

}  // namespace qemu::ctl
