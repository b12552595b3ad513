// Status pages of the emulated controller, built from its live state on each
// request: IO unit, IOC, SAS IO unit, phy, device, expander and enclosure
// pages, the PCIe pages of the newest family, and their page address forms.
#include <algorithm>

#include "ctl_controller.h"
#include "ctl_page_ids.h"

namespace qemu::ctl {

uint16_t Controller::statusPage(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                                Bytes* page) const {
    struct Row {
        uint8_t type;
        uint8_t ext;
        uint8_t firstNumber;
        uint8_t lastNumber;
        bool newestOnly;
        StatusPageBuilder build;
    };
    static const Row kRows[] = {
        {kTypeIoUnit, 0, 0, 0, false, &Controller::ioUnit0Page},
        {kTypeIoUnit, 0, 7, 7, false, &Controller::ioUnit7Page},
        {kTypeIoc, 0, 0, 0, false, &Controller::ioc0Page},
        {kTypeExtended, kExtSasIoUnit, 0, 0, false, &Controller::sasIoUnit0Page},
        {kTypeExtended, kExtSasPhy, 0, 2, false, &Controller::sasPhyPage},
        {kTypeExtended, kExtSasDevice, 0, 0, false, &Controller::sasDevice0Page},
        {kTypeExtended, kExtSasExpander, 0, 1, false, &Controller::sasExpanderPage},
        {kTypeExtended, kExtEnclosure, 0, 0, false, &Controller::enclosure0Page},
        {kTypeExtended, kExtPcieIoUnit, 0, 0, true, &Controller::pcieIoUnit0Page},
        {kTypeExtended, kExtPcieDevice, 0, 0, true, &Controller::pcieDevice0Page},
        {kTypeExtended, kExtPcieLink, 1, 1, true, &Controller::pcieLink1Page},
    };
    for (const Row& row : kRows) {
        if (row.type == type && row.ext == ext && number >= row.firstNumber &&
            number <= row.lastNumber && (!row.newestOnly || hasPcie(chip_))) {
            return (this->*row.build)(type, ext, number, address, page);
        }
    }
    return kIocStatusConfigInvalidPage;
}

uint16_t Controller::ioUnit0Page(uint8_t type, uint8_t /*ext*/, uint8_t /*number*/,
                                 uint32_t /*address*/, Bytes* page) const {
    const uint64_t wwid = currentWwid();
    Bytes p = newPage(type, 0, 0, 20);
    set64(p, 4, wwid);
    set32(p, 12, nvdataDefault_);
    set32(p, 16, nvdataPersistent_);
    *page = std::move(p);
    return 0;
}

uint16_t Controller::ioUnit7Page(uint8_t type, uint8_t /*ext*/, uint8_t /*number*/,
                                 uint32_t /*address*/, Bytes* page) const {
    Bytes p = newPage(type, 0, 7, 40);
    p[6] = setup_.pcieWidth;
    p[7] = setup_.pcieSpeed;
    set32(p, 8, 0x00000001);  // processor running
    set16(p, 16, setup_.iocTemperature);
    p[18] = setup_.temperatureUnits;
    p[19] = 100;  // IOC speed, MHz / 10
    set16(p, 20, setup_.boardTemperature);
    p[22] = setup_.temperatureUnits;
    *page = std::move(p);
    return 0;
}

uint16_t Controller::ioc0Page(uint8_t type, uint8_t /*ext*/, uint8_t /*number*/,
                              uint32_t /*address*/, Bytes* page) const {
    Bytes p = newPage(type, 0, 0, 28);
    set16(p, 8, setup_.vendorId);
    set16(p, 10, setup_.deviceId);
    p[12] = setup_.revision;
    set32(p, 16, 0x00010700);  // class code: SAS controller
    set16(p, 20, setup_.subsystemVendorId);
    set16(p, 22, setup_.subsystemDeviceId);
    *page = std::move(p);
    return 0;
}

uint16_t Controller::sasIoUnit0Page(uint8_t type, uint8_t ext, uint8_t /*number*/,
                                    uint32_t /*address*/, Bytes* page) const {
    const int phys = setup_.phys;
    Bytes p = newPage(type, ext, 0, 16 + 20 * phys);
    p[12] = static_cast<uint8_t>(phys);
    const Bytes* s1 = settingsCurrent(kTypeExtended, kExtSasIoUnit, 1);
    for (int i = 0; i < phys; ++i) {
        const size_t e = 16 + 20 * static_cast<size_t>(i);
        const int link = linkOfPhy(i);
        p[e] = s1 ? (*s1)[20 + 12 * i] : static_cast<uint8_t>(i);
        p[e + 1] = s1 ? (*s1)[20 + 12 * i + 1] : 1;
        p[e + 2] = phyDisabled(i) ? 0x08 : 0;
        uint8_t rate = 0;
        if (phyDisabled(i)) {
            rate = 0x11;
        } else if (link >= 0) {
            rate = static_cast<uint8_t>((setup_.linkRate << 4) | setup_.linkRate);
        }
        p[e + 3] = rate;
        set32(p, e + 4, kControllerDeviceInfo);
        set16(p, e + 8, link >= 0 && !phyDisabled(i) ? expanderHandle(link) : 0);
        if (static_cast<size_t>(i) < setup_.phyRates.size() && setup_.phyRates[i] >= 0)
            p[e + 3] = static_cast<uint8_t>((setup_.phyRates[i] << 4) | setup_.phyRates[i]);
        set16(p, e + 10, static_cast<uint32_t>(i + 1));
        const auto d = setup_.discovery.find(i);
        if (d != setup_.discovery.end()) {
            set32(p, e + 12, d->second.status);
            if (d->second.inProgress)
                p[e + 1] = static_cast<uint8_t>(p[e + 1] | 0x08);
        }
    }
    *page = std::move(p);
    return 0;
}

uint16_t Controller::sasPhyPage(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                                Bytes* page) const {
    const int phys = setup_.phys;
    const uint32_t form = address >> 28;
    const int phy = form == 1 ? static_cast<int>(address & 0xFFFF)
                              : (form == 0 ? static_cast<int>(address & 0xFF) : -1);
    if (phy < 0 || phy >= phys)
        return kIocStatusConfigInvalidPage;
    const int link = linkOfPhy(phy);
    const bool up = link >= 0 && !phyDisabled(phy);
    if (number == 0) {
        Bytes p = newPage(type, ext, 0, 36);
        set16(p, 8, static_cast<uint32_t>(phy + 1));
        if (up) {
            const LinkSetup& l = setup_.links[link];
            const int idx =
                static_cast<int>(std::find(l.phys.begin(), l.phys.end(), phy) - l.phys.begin());
            set16(p, 12, expanderHandle(link));
            p[14] = static_cast<uint8_t>(l.firstExpanderPhy + idx);
            set32(p, 16, 0x00000001);
        }
        p[20] = static_cast<uint8_t>((setup_.linkRate << 4) | 0x8);
        p[21] = p[20];
        p[23] = 0;
        set32(p, 24, up ? 0x08000000 : 0);
        p[28] = phyDisabled(phy) ? 0x01 : (up ? setup_.linkRate : 0);
        *page = std::move(p);
    } else if (number == 1) {
        Bytes p = newPage(type, ext, 1, 28);
        for (int c = 0; c < 4; ++c) {
            set32(p, 12 + 4 * c, phyCounters_[static_cast<size_t>(phy) * 4 + c]);
        }
        *page = std::move(p);
    } else {
        // Codes 1 to 4 unless the topology configures the phy's events.
        std::vector<uint8_t> codes = {1, 2, 3, 4};
        const auto configured = setup_.phyEventCodes.find(phy);
        if (configured != setup_.phyEventCodes.end())
            codes = configured->second;
        Bytes p = newPage(type, ext, 2, 16 + 8 * codes.size());
        p[12] = static_cast<uint8_t>(codes.size());
        for (size_t c = 0; c < codes.size(); ++c) {
            p[16 + 8 * c] = codes[c];
            const uint32_t count = c < 4 ? phyEvents_[static_cast<size_t>(phy) * 4 + c] : 0;
            set32(p, 16 + 8 * c + 4, count);
        }
        *page = std::move(p);
    }
    return 0;
}

uint16_t Controller::sasDevice0Page(uint8_t type, uint8_t ext, uint8_t /*number*/, uint32_t address,
                                    Bytes* page) const {
    const int phys = setup_.phys;
    const uint32_t form = address >> 28;
    const uint16_t handle = static_cast<uint16_t>(address & 0xFFFF);
    const uint64_t wwid = currentWwid();
    const size_t links = setup_.links.size();
    // Walkable devices: the expanders. The controller's own per-phy
    // handles answer by handle only.
    uint16_t h = 0;
    if (form == 0) {
        const uint32_t after = handle == 0xFFFF ? 0 : handle;
        for (size_t l = 0; l < links && h == 0; ++l) {
            if (expanderHandle(l) > after)
                h = expanderHandle(l);
        }
        if (h == 0)
            h = nextDriveHandle(after);
        // A firmware whose list loops back to its first drive.
        if (h == 0 && !drives_.empty() && faults_.fire("walkRepeat", [ext](const FaultSpec& f) {
                return f.extPageType < 0 || f.extPageType == ext;
            }) != nullptr) {
            h = drives_.front().handle;
        }
    } else if (form == 2) {
        h = handle;
    } else {
        return kIocStatusConfigInvalidPage;
    }
    if (const LiveDrive* d = driveByHandle(h)) {
        *page = drivePage(type, ext, *d);
        return 0;
    }
    Bytes p = newPage(type, ext, 0, 56);
    if (h >= 1 && h <= phys) {
        const int phy = h - 1;
        set16(p, 10, 1);
        set64(p, 12, wwid + static_cast<uint64_t>(phy));
        p[22] = static_cast<uint8_t>(phy);
        set16(p, 24, h);
        set32(p, 28, kControllerDeviceInfo);
        p[34] = static_cast<uint8_t>(std::max(linkOfPhy(phy), 0));
        set64(p, 36, wwid);
    } else if (h > phys && h <= phys + static_cast<int>(links)) {
        const size_t l = static_cast<size_t>(h - phys - 1);
        set16(p, 10, static_cast<uint32_t>(2 + l));
        set64(p, 12, setup_.links[l].expanderSas);
        set16(p, 20, static_cast<uint32_t>(setup_.links[l].phys.front() + 1));
        p[22] = static_cast<uint8_t>(setup_.links[l].phys.front());
        set16(p, 24, h);
        p[26] = static_cast<uint8_t>(setup_.links[l].firstExpanderPhy);
        set32(p, 28, kExpanderDeviceInfo | setup_.links[l].deviceInfo);
        set16(p, 32, 0x0001);  // device present
        p[34] = static_cast<uint8_t>(l);
        p[35] = static_cast<uint8_t>(setup_.links[l].phys.size());
        set64(p, 36, setup_.links[l].expanderSas);
    } else {
        return kIocStatusConfigInvalidPage;
    }
    *page = std::move(p);
    return 0;
}

uint16_t Controller::sasExpanderPage(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                                     Bytes* page) const {
    const uint32_t form = address >> 28;
    const uint16_t handle = static_cast<uint16_t>(address & 0xFFFF);
    const size_t links = setup_.links.size();
    size_t l = links;
    if (number == 0 && form == 0) {
        const uint32_t after = handle == 0xFFFF ? 0 : handle;
        for (size_t i = 0; i < links && l == links; ++i) {
            if (expanderHandle(i) > after)
                l = i;
        }
        // A firmware that answers the expander it was asked to go past.
        for (size_t i = 0; i < links; ++i) {
            if (expanderHandle(i) == handle && repeatsWalk(ext))
                l = i;
        }
    } else if ((number == 0 && form == 2) || (number == 1 && form == 1)) {
        for (size_t i = 0; i < links; ++i) {
            if (expanderHandle(i) == handle)
                l = i;
        }
    }
    if (l == links)
        return kIocStatusConfigInvalidPage;
    const LinkSetup& link = setup_.links[l];
    if (number == 0) {
        Bytes p = newPage(type, ext, 0, 64);
        p[8] = static_cast<uint8_t>(l);
        set16(p, 10, static_cast<uint32_t>(2 + l));
        set64(p, 12, link.expanderSas);
        set16(p, 24, expanderHandle(l));
        set16(p, 26, static_cast<uint32_t>(link.phys.front() + 1));
        p[32] = static_cast<uint8_t>(link.expanderPhyCount);
        p[33] = 1;
        set16(p, 42, 1024);
        *page = std::move(p);
        return 0;
    }
    const int phy = static_cast<int>((address >> 16) & 0xFF);
    if (phy >= link.expanderPhyCount)
        return kIocStatusConfigInvalidPage;
    Bytes p = newPage(type, ext, 1, 52);
    p[8] = static_cast<uint8_t>(l);
    p[10] = static_cast<uint8_t>(link.expanderPhyCount);
    p[11] = static_cast<uint8_t>(phy);
    const int idx = phy - link.firstExpanderPhy;
    if (idx >= 0 && idx < static_cast<int>(link.phys.size()) &&
        !phyDisabled(link.phys[static_cast<size_t>(idx)])) {
        const int hbaPhy = link.phys[static_cast<size_t>(idx)];
        set16(p, 16, static_cast<uint32_t>(hbaPhy + 1));
        set32(p, 24, kControllerDeviceInfo);
        p[36] = setup_.linkRate;
        p[38] = static_cast<uint8_t>(hbaPhy);
    }
    set16(p, 32, expanderHandle(l));
    p[37] = static_cast<uint8_t>(phy);
    *page = std::move(p);
    return 0;
}

bool Controller::repeatsWalk(uint8_t ext) const {
    return faults_.fire("walkRepeat", [ext](const FaultSpec& f) { return f.extPageType == ext; }) !=
           nullptr;
}

uint16_t Controller::enclosure0Page(uint8_t type, uint8_t ext, uint8_t /*number*/, uint32_t address,
                                    Bytes* page) const {
    const int phys = setup_.phys;
    const uint32_t form = address >> 28;
    const uint16_t handle = static_cast<uint16_t>(address & 0xFFFF);
    const uint64_t wwid = currentWwid();
    const size_t links = setup_.links.size();
    // Enclosure 1 is the controller's own; one more per expander.
    const uint16_t count = static_cast<uint16_t>(1 + links);
    uint16_t h = 0;
    if (form == 0) {
        const uint32_t after = handle == 0xFFFF ? 0 : handle;
        h = after < count ? static_cast<uint16_t>(after + 1) : 0;
        // A firmware that answers the enclosure it was asked to go past.
        if (after >= 1 && after <= count && repeatsWalk(ext))
            h = static_cast<uint16_t>(after);
    } else if (form == 1) {
        h = handle >= 1 && handle <= count ? handle : 0;
    }
    if (h == 0)
        return kIocStatusConfigInvalidPage;
    Bytes p = newPage(type, ext, 0, 36);
    if (h == 1) {
        set64(p, 12, wwid);
        set16(p, 24, static_cast<uint32_t>(phys));
    } else {
        const LinkSetup& link = setup_.links[static_cast<size_t>(h - 2)];
        set64(p, 12, link.expanderSas | 0x3F);
        set16(p, 20, 0x0001);  // enclosure services device present
        set16(p, 24, static_cast<uint32_t>(link.expanderPhyCount));
        set16(p, 30, sepHandle(static_cast<size_t>(h - 2)));
    }
    set16(p, 22, h);
    *page = std::move(p);
    return 0;
}

uint16_t Controller::pcieIoUnit0Page(uint8_t type, uint8_t ext, uint8_t /*number*/,
                                     uint32_t /*address*/, Bytes* page) const {
    const int phys = setup_.phys;
    Bytes p = newPage(type, ext, 0, 16 + 20 * kPcieLinks);
    p[12] = kPcieLinks;
    for (int l = 0; l < kPcieLinks; ++l) {
        const size_t e = 16 + 20 * static_cast<size_t>(l);
        p[e] = static_cast<uint8_t>(l);
        for (size_t n = 0; n < setup_.nvme.size(); ++n) {
            if (setup_.nvme[n].link != l)
                continue;
            p[e + 3] = 0x04;  // 8.0 GT/s
            set32(p, e + 4, kNvmeDeviceInfo);
            set16(p, e + 8, nvmeHandle(n));  // attached device: non-zero
        }
        set16(p, e + 10, static_cast<uint32_t>(phys + 0x40 + l));
    }
    *page = std::move(p);
    return 0;
}

uint16_t Controller::pcieDevice0Page(uint8_t type, uint8_t ext, uint8_t /*number*/,
                                     uint32_t address, Bytes* page) const {
    const uint32_t form = address >> 28;
    const uint16_t handle = static_cast<uint16_t>(address & 0xFFFF);
    size_t n = setup_.nvme.size();
    if (form == 0) {
        const uint32_t after = handle == 0xFFFF ? 0 : handle;
        for (size_t i = 0; i < setup_.nvme.size() && n == setup_.nvme.size(); ++i) {
            if (nvmeHandle(i) > after)
                n = i;
        }
    } else if (form == 2) {
        for (size_t i = 0; i < setup_.nvme.size(); ++i) {
            if (nvmeHandle(i) == handle)
                n = i;
        }
    }
    if (n == setup_.nvme.size())
        return kIocStatusConfigInvalidPage;
    const NvmeSpec& d = setup_.nvme[n];
    Bytes p = newPage(type, ext, 0, 56);
    set16(p, 8, static_cast<uint32_t>(d.link));
    set16(p, 10, 1);
    set64(p, 12, d.wwid);
    p[22] = static_cast<uint8_t>(d.link);
    p[23] = 0;  // access status: no errors
    set16(p, 24, nvmeHandle(n));
    p[26] = static_cast<uint8_t>(d.link);
    set32(p, 28, kNvmeDeviceInfo);
    set16(p, 32, 0x0001);
    p[35] = 4;
    p[36] = 4;
    p[37] = 4;
    *page = std::move(p);
    return 0;
}

uint16_t Controller::pcieLink1Page(uint8_t type, uint8_t ext, uint8_t /*number*/, uint32_t address,
                                   Bytes* page) const {
    const uint32_t form = address >> 28;
    // Error counters of one PCIe link: by link number or 0x10000000 + link.
    const uint32_t link = form == 1 ? (address & 0xFF) : (form == 0 ? address & 0xFF : 0xFF);
    if (link >= kPcieLinks)
        return kIocStatusConfigInvalidPage;
    Bytes p = newPage(type, ext, 1, 24);
    p[8] = static_cast<uint8_t>(link);
    bool attached = false;
    for (const NvmeSpec& n : setup_.nvme)
        attached = attached || n.link == static_cast<int>(link);
    set32(p, 12, attached ? 3 : 0);  // correctable
    set32(p, 16, 0);                 // non-fatal
    set32(p, 20, 0);                 // fatal
    *page = std::move(p);
    return 0;
}

}  // namespace qemu::ctl
