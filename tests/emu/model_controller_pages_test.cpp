// XIF frames of the emulated firmware: configuration requests with every
// action, the IOCStatus answers, the page address forms and the coherence of
// the pages with the topology.
#include "model_controller_fixture.h"

namespace ctltest {
namespace {

TEST(ControllerFacts, PortFactsRefusesAPortBeyondTheCount) {
    Rig rig;
    Bytes f(12, 0);
    f[3] = 0x05;
    f[6] = 1;  // IOC Facts reports one port
    Exchange y = rig.pass(kXol3, 0, f, 28);
    EXPECT_EQ(y.status(), 0x0007);
    EXPECT_EQ(y.reply[6], 1);
}

TEST(ControllerConfig, StatusAnswers) {
    Rig rig;
    EXPECT_EQ(rig.pass(kXol3, 0, configFrame(7, 9, 0), 24).status(), 0x0020);
    EXPECT_EQ(rig.pass(kXol3, 0, configFrame(0, 12, 0), 24).status(), 0x0021);
    EXPECT_EQ(rig.pass(kXol3, 0, configFrame(0, 15, 0, 0), 24).status(), 0x0021);
    EXPECT_EQ(rig.pass(kXol3, 0, configFrame(0, 15, 0, 0x42), 24).status(), 0x0021);
    EXPECT_EQ(rig.pass(kXol3, 0, configFrame(0, 9, 30), 24).status(), 0x0022);
    // Status pages have no default copy and cannot be written.
    EXPECT_EQ(readPage(rig, kXol3, 0, 0, 7, 0, 0, 5).status, 0x0020);
    EXPECT_EQ(writePage(rig, kXol3, 0, 0, 7, 0, Bytes(40, 0), 2), 0x0020);
    // Manufacturing page 0 is read-only.
    EXPECT_EQ(writePage(rig, kXol3, 0, 9, 0, 0, Bytes(76, 0), 4), 0x0020);
    // A write carrying no more than the page header is refused.
    EXPECT_EQ(writePage(rig, kXol3, 0, 9, 5, 0, Bytes(4, 0), 2), 0x0023);
    // PCIe pages exist on the newest family only.
    EXPECT_EQ(readPage(rig, kXol3, 0, 15, 0, 0x1B).status, 0);
    EXPECT_EQ(readPage(rig, kXol3, 1, 15, 0, 0x1B).status, 0x0021);
}

TEST(ControllerConfig, ShortDataInGetsOnlyItsLength) {
    Rig rig;
    Exchange h = rig.pass(kXol3, 0, configFrame(0, 9, 5), 24);
    Exchange r =
        rig.pass(kXol3, 0, configFrame(1, 9, 5, 0, 0, 0, h.reply[20], h.reply[21]), 24, 32);
    ASSERT_EQ(r.status(), 0);
    EXPECT_EQ(r.dataIn[4], 8);
    EXPECT_EQ(rd64(r.dataIn, 16), 0x53C2A1F000010000ull);
}

TEST(ControllerConfig, SharedChipBoardsCarryTheModelString) {
    nlohmann::json c = {{"adapters",
                         {{{"node", "/dev/xol2ctl"}, {"ioc", 0}, {"deviceId", "0x0411"}},
                          {{"node", "/dev/xol2ctl"},
                           {"ioc", 1},
                           {"deviceId", "0x0411"},
                           {"mfgChipName", "OTHER2108"}}}}};
    Rig rig(c);
    PageRead ours = readPage(rig, kXol2, 0, 9, 0);
    EXPECT_EQ(std::string(ours.page.begin() + 4, ours.page.begin() + 8), "QSBD");
    PageRead foreign = readPage(rig, kXol2, 1, 9, 0);
    EXPECT_EQ(std::string(foreign.page.begin() + 4, foreign.page.begin() + 8), "OTHE");
}

TEST(ControllerConfig, TemperatureUnitsFollowTheBoard) {
    Rig rig;
    EXPECT_EQ(readPage(rig, kXol3, 0, 0, 7).page[18], 2);
    EXPECT_EQ(readPage(rig, kXol2, 0, 0, 7).page[18], 1);  // Fahrenheit board
}

TEST(ControllerConfig, CurrentNvramAndDefaultCopies) {
    Rig rig;
    PageRead m5 = readPage(rig, kXol3, 0, 9, 5);
    wr32(m5.page, 16, 0x00001234);
    ASSERT_EQ(writePage(rig, kXol3, 0, 9, 5, 0, m5.page, 2), 0);  // current
    EXPECT_EQ(rd32(readPage(rig, kXol3, 0, 9, 5, 0, 0, 1).page, 16), 0x1234u);
    EXPECT_EQ(rd32(readPage(rig, kXol3, 0, 9, 5, 0, 0, 6).page, 16), 0x00010000u);
    EXPECT_EQ(rd32(readPage(rig, kXol3, 0, 9, 5, 0, 0, 5).page, 16), 0x00010000u);

    wr32(m5.page, 16, 0x00005678);
    ASSERT_EQ(writePage(rig, kXol3, 0, 9, 5, 0, m5.page, 4), 0);  // NVRAM
    EXPECT_EQ(rd32(readPage(rig, kXol3, 0, 9, 5, 0, 0, 6).page, 16), 0x5678u);
    EXPECT_EQ(rd32(readPage(rig, kXol3, 0, 9, 5, 0, 0, 1).page, 16), 0x1234u);

    ASSERT_EQ(writePage(rig, kXol3, 0, 9, 5, 0, m5.page, 3), 0);  // back to defaults
    EXPECT_EQ(rd32(readPage(rig, kXol3, 0, 9, 5, 0, 0, 1).page, 16), 0x00010000u);
    EXPECT_EQ(rd32(readPage(rig, kXol3, 0, 9, 5, 0, 0, 6).page, 16), 0x00010000u);
}

TEST(ControllerConfig, ShortWriteReplacesOnlyItsBytes) {
    Rig rig;
    PageRead m5 = readPage(rig, kXol3, 0, 9, 5);
    Bytes head(m5.page.begin(), m5.page.begin() + 24);
    wr32(head, 16, 0x00ABCDEF);
    ASSERT_EQ(writePage(rig, kXol3, 0, 9, 5, 0, head, 2), 0);
    PageRead after = readPage(rig, kXol3, 0, 9, 5);
    EXPECT_EQ(rd32(after.page, 16), 0x00ABCDEFu);
    EXPECT_EQ(rd32(after.page, 32), rd32(m5.page, 32));  // phy 1 untouched
}

TEST(ControllerConfig, ClearingTheLogCountErasesEntries) {
    Rig rig;
    PageRead log = readPage(rig, kXol3, 0, 15, 0, 0x14);
    Bytes first(log.page.begin(), log.page.begin() + 68);
    wr32(first, 16, 0);
    ASSERT_EQ(writePage(rig, kXol3, 0, 15, 0, 0x14, first, 2), 0);
    PageRead after = readPage(rig, kXol3, 0, 15, 0, 0x14);
    EXPECT_EQ(rd16(after.page, 16), 0);
    EXPECT_EQ(rd16(after.page, 20 + 48 + 12), 0);
    EXPECT_EQ(after.page.size(), log.page.size());
}

TEST(ControllerConfig, FamilyBoundPagesAndBiosNvramCopy) {
    Rig rig;
    EXPECT_EQ(readPage(rig, kXol3, 0, 0, 11).status, 0);
    EXPECT_EQ(readPage(rig, kXol3, 0, 15, 4, 0x10).status, 0x0022);
    EXPECT_EQ(readPage(rig, kXol3, 1, 0, 11).status, 0x0022);
    // The second-generation chip with the new-family flag: IO Unit page 11
    // but no PCIe pages (those belong to the newest generation).
    Rig mixed(nlohmann::json{{"adapters", {{{"node", kXol3}, {"deviceId", "0x0528"}}}}});
    EXPECT_EQ(readPage(mixed, kXol3, 0, 0, 11).status, 0);
    EXPECT_EQ(readPage(mixed, kXol3, 0, 15, 0, 0x1B).status, 0x0021);
    EXPECT_EQ(readPage(rig, kXol3, 0, 2, 0).status, 0x0022);
    PageRead b1 = readPage(rig, kXol3, 0, 2, 1);
    b1.page[4] = 0;
    ASSERT_EQ(writePage(rig, kXol3, 0, 2, 1, 0, b1.page, 4), 0);
    EXPECT_EQ(readPage(rig, kXol3, 0, 2, 1, 0, 0, 6).page[4], 0);
    EXPECT_EQ(readPage(rig, kXol3, 0, 2, 1, 0, 0, 5).page[4], 1);
}

TEST(ControllerConfig, PhyDisableShowsInSasIoUnitAndPhyPages) {
    Rig rig;
    PageRead s1 = readPage(rig, kXol3, 0, 15, 1, 0x10);
    ASSERT_EQ(s1.page[16], 8);
    EXPECT_EQ(rd32(s1.page, 20 + 12 * 3) & 0x80000, 0u);
    EXPECT_EQ(rd32(s1.page, 20 + 12 * 3 + 4) & 0x40, 0x40u);  // SSP initiator
    PageRead s0 = readPage(rig, kXol3, 0, 15, 0, 0x10);
    ASSERT_EQ(s0.page[12], 8);
    EXPECT_EQ(s0.page[16 + 20 * 3 + 3] >> 4, 0xB);
    EXPECT_EQ(rd16(s0.page, 16 + 20 * 3 + 8), 9);  // the first expander's handle

    wr32(s1.page, 20 + 12 * 3, rd32(s1.page, 20 + 12 * 3) | 0x80000);
    ASSERT_EQ(writePage(rig, kXol3, 0, 15, 1, 0x10, s1.page, 2), 0);
    s0 = readPage(rig, kXol3, 0, 15, 0, 0x10);
    EXPECT_EQ(s0.page[16 + 20 * 3 + 3] >> 4, 0x1);  // SAS-Off
    EXPECT_EQ(s0.page[16 + 20 * 3 + 2] & 0x08, 0x08);
    EXPECT_EQ(readPage(rig, kXol3, 0, 15, 0, 0x13, 3).page[28], 0x01);
}

TEST(ControllerConfig, SasPhyPagesByNumberAndIndex) {
    Rig rig;
    PageRead p0 = readPage(rig, kXol3, 0, 15, 0, 0x13, 5);
    ASSERT_EQ(p0.status, 0);
    EXPECT_EQ(rd16(p0.page, 12), 10);  // second expander
    EXPECT_EQ(p0.page[14], 1);         // its phy 1
    EXPECT_EQ(rd32(p0.page, 24) & 0x18000000, 0x08000000u);
    PageRead byIndex = readPage(rig, kXol3, 0, 15, 0, 0x13, 0x10000005);
    EXPECT_EQ(byIndex.page, p0.page);
    EXPECT_EQ(readPage(rig, kXol3, 0, 15, 0, 0x13, 8).status, 0x0022);
    // Unattached phys on the second controller: nothing attached, no events.
    EXPECT_EQ(rd16(readPage(rig, kXol3, 1, 15, 0, 0x13, 0).page, 12), 0);
}

TEST(ControllerConfig, ExpanderAndDeviceWalksFollowTheTopology) {
    Rig rig;
    std::vector<uint64_t> seen;
    uint32_t handle = 0xFFFF;
    for (int i = 0; i < 10; ++i) {
        PageRead e = readPage(rig, kXol3, 0, 15, 0, 0x11, handle);
        if (e.status == 0x0022)
            break;
        ASSERT_EQ(e.status, 0);
        seen.push_back(rd64(e.page, 12));
        handle = rd16(e.page, 24);
        // Page 1 for each of its phys, by handle and phy.
        const int phys = e.page[32];
        PageRead p1 = readPage(rig, kXol3, 0, 15, 1, 0x11, 0x10000000u | (2u << 16) | handle);
        ASSERT_EQ(p1.status, 0);
        EXPECT_EQ(p1.page[37], 2);
        EXPECT_EQ(
            readPage(rig, kXol3, 0, 15, 1, 0x11, 0x10000000u | (uint32_t(phys) << 16) | handle)
                .status,
            0x0022);
        EXPECT_EQ(readPage(rig, kXol3, 0, 15, 0, 0x11, 0x20000000u | handle).page, e.page);
    }
    EXPECT_EQ(seen, (std::vector<uint64_t>{0x53C2A1F000001000ull, 0x53C2A1F000002000ull}));
    EXPECT_EQ(readPage(rig, kXol3, 0, 15, 0, 0x11, 0x20000009).page[32],
              36);  // phy count from "scsi"

    PageRead dev = readPage(rig, kXol3, 0, 15, 0, 0x12, 0xFFFF);
    ASSERT_EQ(dev.status, 0);
    EXPECT_EQ(rd16(dev.page, 24), 9);
    EXPECT_EQ(rd64(dev.page, 12), 0x53C2A1F000001000ull);
    EXPECT_EQ(rd32(dev.page, 28) & 0x100, 0x100u);
    PageRead self = readPage(rig, kXol3, 0, 15, 0, 0x12, 0x20000001);
    EXPECT_EQ(rd64(self.page, 12), 0x53C2A1F000010000ull);
    EXPECT_EQ(readPage(rig, kXol3, 0, 15, 0, 0x12, 0x10000009).status, 0x0022);
    EXPECT_EQ(readPage(rig, kXol3, 0, 15, 0, 0x12, 10).status, 0x0022);  // after the last

    PageRead encl = readPage(rig, kXol3, 0, 15, 0, 0x15, 0xFFFF);
    EXPECT_EQ(rd16(encl.page, 22), 1);
    EXPECT_EQ(rd16(readPage(rig, kXol3, 0, 15, 0, 0x15, 0x10000003).page, 22), 3);
    EXPECT_EQ(readPage(rig, kXol3, 0, 15, 0, 0x15, 3).status, 0x0022);
}

TEST(ControllerConfig, PcieAndLogPages) {
    Rig rig;
    PageRead u0 = readPage(rig, kXol3, 0, 15, 0, 0x1B);
    ASSERT_EQ(u0.page[12], 4);
    EXPECT_EQ(u0.page[16 + 3] & 0x0F, 4);     // link 0 at 8.0 GT/s
    const uint16_t nvme = rd16(u0.page, 24);  // first u16 of the entry read from 24
    EXPECT_NE(nvme, 0);
    EXPECT_EQ(rd16(u0.page, 24 + 20), 0);
    PageRead u1 = readPage(rig, kXol3, 0, 15, 1, 0x1B);
    EXPECT_EQ(u1.page[16], 4);
    EXPECT_EQ(rd32(u1.page, 20 + 4) & 0x10, 0x10u);
    PageRead d0 = readPage(rig, kXol3, 0, 15, 0, 0x1D, 0xFFFF);
    ASSERT_EQ(d0.status, 0);
    EXPECT_EQ(rd16(d0.page, 24), nvme);
    EXPECT_EQ(rd32(d0.page, 28) & 0xF, 3u);
    EXPECT_NE(d0.page[23], 7);
    EXPECT_EQ(readPage(rig, kXol3, 0, 15, 0, 0x1D, 0x20000000u | nvme).page, d0.page);
    PageRead link0 = readPage(rig, kXol3, 0, 15, 1, 0x1E, 0x10000000);
    ASSERT_EQ(link0.status, 0);
    EXPECT_EQ(rd32(link0.page, 12), 3u);
    EXPECT_EQ(readPage(rig, kXol3, 0, 15, 1, 0x1E, 0x10000004).status, 0x0022);
    EXPECT_EQ(readPage(rig, kXol3, 1, 15, 1, 0x1E, 0x10000000).status, 0x0021);
    PageRead log = readPage(rig, kXol3, 0, 15, 0, 0x14);
    ASSERT_EQ(log.status, 0);
    EXPECT_EQ(rd16(log.page, 16), 3);
    EXPECT_EQ(rd16(log.page, 20 + 48 + 12), 2);
}

TEST(ControllerState, PagesPersistAcrossInstances) {
    Rig rig;
    PageRead m5 = readPage(rig, kXol3, 0, 9, 5);
    wr32(m5.page, 16, 0xCAFE0000);
    ASSERT_EQ(writePage(rig, kXol3, 0, 9, 5, 0, m5.page, 2), 0);
    ASSERT_EQ(writePage(rig, kXol3, 0, 9, 5, 0, m5.page, 4), 0);
    rig.build();  // a new process on the same state directory
    EXPECT_EQ(rd32(readPage(rig, kXol3, 0, 9, 5).page, 16), 0xCAFE0000u);
    EXPECT_EQ(rd32(readPage(rig, kXol3, 0, 9, 5, 0, 0, 6).page, 16), 0xCAFE0000u);
    // The SAS address the controller shows follows the WWID.
    EXPECT_EQ(rd64(readPage(rig, kXol3, 0, 15, 0, 0x12, 0x20000001).page, 12),
              0x53C2A1F0CAFE0000ull);
    // Another controller keeps its own state.
    EXPECT_EQ(rd32(readPage(rig, kXol3, 1, 9, 5).page, 16), 0x00020000u);
}

TEST(ControllerState, CorruptStateFallsBackToDefaults) {
    Rig rig;
    for (auto& [key, bytes] : rig.services.state)
        bytes.assign(7, 0xFF);
    rig.services.state["hba-53c2a1f000010000-pages"] = Bytes{0x51, 0x50, 0x47, 0x31, 9, 0, 0, 0};
    rig.services.state["hba-53c2a1f000010000-misc"] = Bytes(3, 1);
    rig.build();
    EXPECT_EQ(rd32(readPage(rig, kXol3, 0, 9, 5).page, 16), 0x00010000u);
}

}  // namespace
}  // namespace ctltest
