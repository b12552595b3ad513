// The expander models' register map, phys, temperature, route table, pages
// and the answers to malformed requests, driven directly
// through SgNode::execute on the default topology.
#include "model_expander_fixture.h"

namespace exptest {
namespace {

constexpr int kGen1 = 7;  // QX-E36, 36 phys, virtual 33..35
constexpr int kGen2 = 3;  // QX2-E27V, 27 phys, virtual 24..26
constexpr int kDisk = 5;

uint32_t statusBase(int phy) {
    return 0xC0000000u + uint32_t(phy) * 0x100000u;
}
uint32_t gen1Block(int phy) {
    return 0x50008000u + uint32_t(phy / 4) * 0x10000u + uint32_t(phy % 4) * 0x400u;
}
// Phy 0..3 of the second generation sit on cluster 3, lanes 4..7; 4..11 on
// cluster 0, lanes 0..7.
uint32_t gen2Control(int cluster, int lane) {
    return 0x50080000u + uint32_t(cluster) * 0x100000u + uint32_t(lane) * 0x4000u;
}

class ExpanderRegisters : public ::testing::Test {
  protected:
    ExpanderRegisters() : rig(defaultScsiSection()) {}
    Rig rig;
};

TEST_F(ExpanderRegisters, VirtualPhysHaveTheirOwnWindows) {
    // Virtual phy 33 of a 36-phy expander: 0xB0000000 + (33 % 4) * 0x100000.
    Bytes b = rig.readRegs(kGen1, 0xB0100000 + 0x40, 52);
    EXPECT_EQ(le32(b, 20), 0x0000103Eu);
    // The slot phy % 4 leaves free serves the positional form (count-3 at 0).
    EXPECT_EQ(rig.readRegs(kGen1, 0xB0000000 + 0x40, 52), b);
    // Family 13: phys 24..26 at 0xB0000000, 0xB0100000, 0xB0200000.
    b = rig.readRegs(kGen2, 0xB0000000 + 0x40, 52);
    EXPECT_EQ(le32(b, 20), 0x0000203Eu);
    b = rig.readRegs(kGen2, 0xB0200000 + 0x40, 52);
    EXPECT_EQ(le32(b, 4) >> 28, 0u);
    EXPECT_GE(b[6] & 0xF, 2);  // a virtual link is always up
    // The physical window of a virtual phy does not exist.
    Reply r = run(rig.node(kGen2), registerCdb(0x3C, statusBase(24) + 0x40, 52), 52);
    EXPECT_TRUE(r.check(5, 0x21));
}

TEST_F(ExpanderRegisters, PhyControlResetsCompleteAfterVirtualDelay) {
    const uint32_t control = gen1Block(5) + 0x18;
    EXPECT_EQ(rig.reg(kGen1, control), 0u);
    ASSERT_TRUE(rig.writeReg(kGen1, control, 3));
    EXPECT_EQ(rig.reg(kGen1, control), 3u);
    Bytes b = rig.readRegs(kGen1, statusBase(5) + 0x40, 52);
    EXPECT_EQ(le32(b, 4) >> 28, 0u);  // no attached device while disabled
    EXPECT_EQ(b[6] & 0xF, 1);

    ASSERT_TRUE(rig.writeReg(kGen1, control, 1));  // link reset enables it again
    EXPECT_EQ(rig.reg(kGen1, control) & 1, 1u);
    rig.services.advanceMs(500);
    EXPECT_EQ(rig.reg(kGen1, control), 0u);
    b = rig.readRegs(kGen1, statusBase(5) + 0x40, 52);
    EXPECT_EQ((le32(b, 4) >> 28) & 7, 1u);

    EXPECT_EQ(rig.reg(kGen1, gen1Block(27) + 0x18), 3u);  // disabled by the topology

    // Second generation phy 0: cluster 3 lane 4, control word at +0x60.
    const uint32_t control2 = gen2Control(3, 4) + 0x60;
    ASSERT_TRUE(rig.writeReg(kGen2, control2, 2));
    EXPECT_EQ(rig.reg(kGen2, control2) & 2, 2u);
    rig.services.advanceMs(500);
    EXPECT_EQ(rig.reg(kGen2, control2), 0u);
}

TEST_F(ExpanderRegisters, ProgrammedRatesTakeEffectAtTheNextReset) {
    // Second generation phy 4 (cluster 0 lane 0); link configuration block
    // uses the first-generation formula.
    const uint32_t link = gen1Block(4);
    EXPECT_EQ(rig.reg(kGen2, link + 8), 0xC03F0000u);
    Bytes block = rig.readRegs(kGen2, link, 296);
    uint32_t w = le32(block, 4);
    w = (w & ~0x7FFu) | 10 | (10 << 4) | (1u << 10);  // 6.0 only
    ASSERT_TRUE(rig.writeReg(kGen2, link + 4, w));
    ASSERT_TRUE(rig.writeReg(kGen2, link + 8, 0xC00C0000));
    Bytes b = rig.readRegs(kGen2, statusBase(4) + 0x40, 52);
    EXPECT_EQ(b[6] & 0xF, 11);  // still the old link
    ASSERT_TRUE(rig.writeReg(kGen2, gen2Control(0, 0) + 0x60, 2));
    rig.services.advanceMs(500);
    b = rig.readRegs(kGen2, statusBase(4) + 0x40, 52);
    EXPECT_EQ(b[6] & 0xF, 10);
    EXPECT_EQ(b[34] & 0xF, 10);  // the second generation shows its programmed window
    EXPECT_EQ(b[35] & 0xF, 10);
    EXPECT_EQ(rig.reg(kGen2, link + 4), w);
}

TEST_F(ExpanderRegisters, FirstGenerationKeepsHardwareLimitsAndCanLoseTheLink) {
    const uint32_t link = gen1Block(4);
    ASSERT_TRUE(rig.writeReg(kGen1, link + 4, 9 | (9 << 4) | (1u << 9)));
    ASSERT_TRUE(rig.writeReg(kGen1, link + 8, 0xC0300000));  // 3.0 only
    ASSERT_TRUE(rig.writeReg(kGen1, link + 0x18, 2));
    rig.services.advanceMs(500);
    Bytes b = rig.readRegs(kGen1, statusBase(4) + 0x40, 52);
    EXPECT_EQ(b[6] & 0xF, 9);
    EXPECT_EQ(b[32], 9);
    EXPECT_EQ(b[33], 9);
    EXPECT_EQ(b[34] & 0xF, 10);  // the chip's own range stays
    EXPECT_EQ(b[35] & 0xF, 8);
    // 12G only on a 6G chip: no common rate, no link after the reset.
    ASSERT_TRUE(rig.writeReg(kGen1, link + 8, 0xC0030000));
    ASSERT_TRUE(rig.writeReg(kGen1, link + 0x18, 1));
    rig.services.advanceMs(500);
    b = rig.readRegs(kGen1, statusBase(4) + 0x40, 52);
    EXPECT_EQ(b[6] & 0xF, 0);
    EXPECT_EQ(le32(b, 16), 0u);
}

TEST_F(ExpanderRegisters, TemperatureNeedsTheSensorSwitchedOn) {
    const int sg = kGen1;
    ASSERT_TRUE(rig.writeReg(sg, 0x43400010, rig.reg(sg, 0x43400010) | 1));
    EXPECT_EQ(rig.reg(sg, 0x43400010) & 1, 0u);  // sensor still off
    ASSERT_TRUE(rig.writeReg(sg, 0x43400000, rig.reg(sg, 0x43400000) & ~0x114u));
    for (uint32_t a : {0x43400010u, 0x43400014u, 0x43400004u}) {
        ASSERT_TRUE(rig.writeReg(sg, a, rig.reg(sg, a) | 1));
    }
    ASSERT_EQ(rig.reg(sg, 0x43400010) & 1, 1u);
    const uint32_t raw = rig.reg(sg, 0x4340000C) % 1024;
    EXPECT_EQ(((raw * 723 - 265000) / 100 + 130) / 10, 41u);
    EXPECT_EQ(rig.reg(sg, 0x43400010) & 1, 0u);  // consumed until re-armed
    ASSERT_TRUE(rig.writeReg(sg, 0x43400010, rig.reg(sg, 0x43400010) | 1));
    EXPECT_EQ(rig.reg(sg, 0x43400010) & 1, 1u);
}

Bytes routeEntry(Rig& rig, int sg, uint32_t index) {
    EXPECT_TRUE(rig.writeReg(sg, 0xA0000008, index));
    EXPECT_TRUE(rig.writeReg(sg, 0xA000000C, 0x24));
    return rig.readRegs(sg, 0xA0000020, 24);
}

TEST_F(ExpanderRegisters, RouteTableWindow) {
    Bytes e = routeEntry(rig, kGen1, 3);
    EXPECT_EQ(le32(e, 0), 0x00002000u);
    EXPECT_EQ(le32(e, 4), 0x53C2A1F0u);
    EXPECT_EQ(le32(e, 8), 3u);
    EXPECT_EQ(le32(e, 16), 0xF0000000u);  // phys 28..31
    // Phy 32 is physical (w5 bit 0); virtual phy 33 = count-3 is w5 bit 18.
    e = routeEntry(rig, kGen1, 7);
    EXPECT_EQ(le32(e, 20), (1u << 18) | 1u);
    EXPECT_EQ(routeEntry(rig, kGen1, 100), Bytes(24, 0));
    // Below 32 the virtual phys of a 27-phy expander use w4.
    e = routeEntry(rig, kGen2, 5);
    EXPECT_EQ(le32(e, 16), 7u << 24);
    EXPECT_EQ(le32(routeEntry(rig, kGen2, 2047), 4), 0x53C2A1F0u);
}

TEST_F(ExpanderRegisters, PagesByRegionAndVitalProductData) {
    EXPECT_EQ(rig.page(kGen1, 0xFE00, 2), rig.page(kGen1, 0xFE00, 0));
    EXPECT_TRUE(rig.page(kGen1, 0xFE00, 1).empty());  // not a persistent page
    EXPECT_FALSE(rig.page(kGen1, 0xFF27, 1).empty());
    // An allocation length shorter than the page is honoured.
    Reply r = run(rig.node(kGen1), pageCdb(0xFF0F, 4, 0), 16);
    EXPECT_TRUE(r.good());
    EXPECT_EQ(r.transferred(), 4u);
    EXPECT_TRUE(run(rig.node(kGen1), pageCdb(0x1234, 4, 0), 4).check(5, 0x24));
    EXPECT_TRUE(run(rig.node(kGen1), pageCdb(0xFE00, 4, 3), 4).check(5, 0x24));

    r = run(rig.node(kGen1), {0x12, 0x01, 0x85, 0x00, 0xFF, 0x00}, 256);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 23), "192.168.010.042");
    EXPECT_EQ(r.data[23], 0);
    EXPECT_TRUE(run(rig.node(kGen2), {0x12, 0x01, 0x99, 0, 0xFF, 0}, 256).check(5, 0x24));
    EXPECT_TRUE(run(rig.node(kGen2), {0x12, 0x00, 0x85, 0, 0xFF, 0}, 256).check(5, 0x24));
    EXPECT_TRUE(
        run(rig.node(kDisk), {0x3C, 0x01, 0xC2, 0xC3, 0x80, 0, 0x2C, 0, 4, 0}, 4).check(5, 0x20));
}

TEST_F(ExpanderRegisters, MalformedRequestsGetIllegalRequest) {
    qemu::SgNode* n = rig.node(kGen1);
    EXPECT_TRUE(run(n, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512).check(5, 0x20));
    EXPECT_TRUE(run(n, {0x3C, 0x01, 0x55, 0, 0, 0, 0, 0, 4, 0}, 4).check(5, 0x24));
    EXPECT_TRUE(run(n, {0x3C, 0x05, 0x80, 0, 0, 0, 0, 0, 4, 0}, 4).check(5, 0x24));
    EXPECT_TRUE(run(n, registerCdb(0x3C, 0xC380002E, 4), 4).check(5, 0x24));  // unaligned
    EXPECT_TRUE(run(n, registerCdb(0x3C, 0xC380002C, 6), 8).check(5, 0x24));
    EXPECT_TRUE(run(n, registerCdb(0x3C, 0x1234567A, 4), 4).check(5, 0x24));
    EXPECT_TRUE(run(n, registerCdb(0x3C, 0x12345670, 4), 4).check(5, 0x21));  // unmapped
    EXPECT_TRUE(run(n, registerCdb(0x3C, 0xC3800FFC, 8), 8).check(5, 0x21));  // runs off the end
    EXPECT_TRUE(run(n, registerCdb(0x3C, 0xFFFFFFFC, 0xFFFC), 16).check(5, 0x21));
    EXPECT_TRUE(run(n, registerCdb(0x3B, 0xC3800054, 8), 0, Bytes(4, 0)).check(5, 0x24));
    Bytes pageWrite = pageCdb(0xFE00, 4, 0);
    pageWrite[0] = 0x3B;  // pages are read only
    EXPECT_TRUE(run(n, pageWrite, 0, Bytes(4, 0)).check(5, 0x24));
    EXPECT_TRUE(run(n, {0x3C, 0x01, 0xC2}, 4).check(5, 0x24));  // block too short
    // Read-only status words ignore writes; the chip ID stays.
    EXPECT_TRUE(rig.writeReg(kGen1, 0xC380002C, 0));
    EXPECT_EQ(rig.reg(kGen1, 0xC380002C) >> 16, 0x0A60u);
    // No data buffer at all: nothing is written, the residual says so.
    qemu::ScsiRequest req;
    const Bytes cdb = registerCdb(0x3C, 0xC380002C, 4);
    req.cdb = cdb.data();
    req.cdbLength = cdb.size();
    qemu::ScsiResult result;
    n->execute(req, &result);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.residual, 0u);
    // Scratch RAM keeps what is written.
    EXPECT_TRUE(rig.writeReg(kGen1, 0x20000100, 0xCAFEF00D));
    EXPECT_EQ(rig.reg(kGen1, 0x20000100), 0xCAFEF00Du);
}

}  // namespace
}  // namespace exptest
