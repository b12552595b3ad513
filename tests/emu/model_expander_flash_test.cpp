// Expander flash regions, logs, the reset lifecycle, saved state and the
// scripted faults of the topology.
#include <stdexcept>

#include "images/images.h"
#include "model_expander_fixture.h"

namespace exptest {
namespace {

namespace images = qemu::images;

// One small expander with whatever faults or regions a test adds.
nlohmann::json oneExpander(const nlohmann::json& extra = nlohmann::json::object()) {
    nlohmann::json e = {{"sg", 2}, {"sasAddress", "0x53C2A1F000004000"}, {"family", 2}};
    e.update(extra);
    return {{"expanders", {e}}};
}

Bytes identify(Rig& rig, int sg) {
    return run(rig.node(sg), {0x3C, 0x01, 0x00, 0, 0, 0, 0, 0x01, 0x00, 0}, 256).data;
}

TEST(ExpanderFlash, EmptyRegionAndCustomContents) {
    Rig rig(oneExpander(
        {{"regions",
          {{"0x82", {{"empty", true}}}, {"0x88", {{"capacity", 64}, {"hex", "01 02 03 04"}}}}}}));
    EXPECT_EQ(rig.capacity(2, 0x82), 0xFFFFFFFFu);
    EXPECT_TRUE(run(rig.node(2), dataCdb(0x3C, 0x82, 0, 4), 4).check(5, 0x24));
    EXPECT_EQ(rig.capacity(2, 0x88), 64u);
    Bytes r = rig.readRegion(2, 0x88, 0, 64);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 5), (Bytes{1, 2, 3, 4, 0xFF}));
}

TEST(ExpanderFlash, LogBuffersFromTheTopology) {
    Rig rig(oneExpander(nlohmann::json::parse(R"({
        "trace": {"version": 2, "capacity": 8,
                  "modules": [{"id": 1, "strings": ["x"]}]},
        "healthLog": {"capacity": 0}})")));
    EXPECT_EQ(rig.capacity(2, 0xE7), 8u);
    EXPECT_EQ(le32(rig.readRegion(2, 0xE7, 0, 8), 0), 2u);
    EXPECT_EQ(rig.capacity(2, 0xE5), 0u);
    Rig custom(oneExpander(nlohmann::json::parse(R"({"healthLog": {"capacity": 128,
        "entries": [{"timestamp": 5, "code": "0x00990001", "class": 4, "data": [1, 2]}]}})")));
    Bytes log = custom.readRegion(2, 0xE5, 0, 128);
    EXPECT_EQ(le32(log, 16), 0x00990001u);
    EXPECT_EQ(le32(log, 64), 0u);  // the end of the log
}

TEST(ExpanderFlash, TransfersStayInsideTheRegion) {
    Rig rig(defaultScsiSection());
    qemu::SgNode* n = rig.node(7);
    EXPECT_TRUE(run(n, dataCdb(0x3C, 0x84, 0x10000 - 16, 16), 16).good());
    EXPECT_TRUE(run(n, dataCdb(0x3C, 0x84, 0x10000 - 16, 17), 17).check(5, 0x24));
    EXPECT_TRUE(run(n, dataCdb(0x3C, 0x84, 0x10001, 0), 0).check(5, 0x24));
    EXPECT_TRUE(run(n, dataCdb(0x3B, 0x89, 0x7FFF, 2), 0, Bytes(2, 1)).check(5, 0x24));
    EXPECT_TRUE(run(n, dataCdb(0x3B, 0xE7, 0, 4), 0, Bytes(4, 1)).check(5, 0x24));  // read only
    EXPECT_TRUE(run(n, dataCdb(0x3B, 0x86, 0, 8), 0, Bytes(4, 1)).check(5, 0x24));  // data short
    EXPECT_TRUE(run(n, dataCdb(0x3C, 0xC2, 0, 4), 4).check(5, 0x24));
    // A read longer than the caller's buffer moves only what fits.
    Reply r = run(n, dataCdb(0x3C, 0x80, 0, 64), 32);
    EXPECT_TRUE(r.good());
    EXPECT_EQ(r.result.residual, 0u);
}

TEST(ExpanderFlash, WritesPersistAcrossInstances) {
    Store store;
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7);
    {
        Rig first(defaultScsiSection(), &store);
        ASSERT_TRUE(first.writeRegion(7, 0x88, 0x100, data));
        ASSERT_TRUE(first.writeRegion(7, 0xE3, 0x8000, data));  // the manufacturing region whole
        EXPECT_EQ(first.readRegion(7, 0x83, 0x8000, 300), data);
        // Phy state the device keeps: rates, a disabled phy, cleared counters.
        ASSERT_TRUE(first.writeReg(7, 0x50008000 + 0x10000 + 0x400 + 8, 0xC0300000));
        ASSERT_TRUE(first.writeReg(7, 0x50008000 + 0x10000 + 0x800 + 0x18, 3));
        ASSERT_TRUE(run(first.node(7), registerCdb(0x3B, 0x50018430, 16), 0, Bytes(16, 0)).good());
    }
    Rig second(defaultScsiSection(), &store);
    EXPECT_EQ(second.readRegion(7, 0x88, 0x100, 300), data);
    EXPECT_EQ(second.readRegion(7, 0xE3, 0x8000, 300), data);
    EXPECT_EQ(second.reg(7, 0x50018408), 0xC0300000u);
    EXPECT_EQ(second.reg(7, 0x50018818), 3u);
    EXPECT_EQ(second.readRegs(7, 0x50018430, 16), Bytes(16, 0));
    // The other expander and unrelated regions are untouched.
    EXPECT_EQ(second.readRegion(3, 0x88, 0x100, 4), Bytes(4, 0xFF));
}

TEST(ExpanderFlash, ResetLeavesThenReturnsWithUnitAttention) {
    Rig rig(defaultScsiSection());
    qemu::SgNode* n7 = rig.node(7);
    ASSERT_TRUE(rig.resetRequest(7).good());
    EXPECT_EQ(rig.listing(), (std::vector<int>{5, 3}));
    EXPECT_LT(n7->onOpen(), 0);
    Reply gone = run(n7, registerCdb(0x3C, 0xC380002C, 4), 4);
    EXPECT_EQ(gone.result.hostStatus, 0x01);
    EXPECT_EQ(gone.result.residual, 4u);

    rig.services.advanceMs(4000);
    EXPECT_EQ(rig.listing(), (std::vector<int>{5, 3}));
    rig.services.advanceMs(1000);
    EXPECT_EQ(rig.listing(), (std::vector<int>{7, 5, 3}));
    EXPECT_EQ(n7->onOpen(), 0);
    EXPECT_TRUE(run(n7, {0x12, 0, 0, 0, 36, 0}, 36).good());  // INQUIRY does not report it
    EXPECT_TRUE(run(n7, registerCdb(0x3C, 0xC380002C, 4), 4).check(6, 0x29));
    EXPECT_TRUE(run(n7, registerCdb(0x3C, 0xC380002C, 4), 4).good());

    // The second expander comes back under another number.
    ASSERT_TRUE(rig.resetRequest(3).good());
    rig.services.advanceMs(5000);
    EXPECT_EQ(rig.listing(), (std::vector<int>{7, 5, 4}));
}

TEST(ExpanderFlash, ResetRunsFirmwareAndAddressNowInFlash) {
    Store store;
    Rig rig(defaultScsiSection(), &store);
    images::FirmwareImageOptions options;
    options.version = 0x05060708;
    const Bytes image = images::buildFirmwareImage(options);
    ASSERT_TRUE(rig.writeRegion(7, 0x00, 0, image));
    EXPECT_EQ(le32(identify(rig, 7), 36), 0x03010200u);  // not before a reset
    // The flash stamps bytes 28..35 of an image it stores, keeping the word sum.
    Bytes stored = rig.readRegion(7, 0x00, 0, 84);
    Bytes expected(image.begin(), image.begin() + 84);
    EXPECT_NE(Bytes(stored.begin() + 28, stored.begin() + 36),
              Bytes(expected.begin() + 28, expected.begin() + 36));
    EXPECT_EQ(le32(stored, 28) + le32(stored, 32), le32(expected, 28) + le32(expected, 32));
    std::fill(stored.begin() + 28, stored.begin() + 36, 0);
    std::fill(expected.begin() + 28, expected.begin() + 36, 0);
    EXPECT_EQ(stored, expected);

    // Patch the address in the manufacturing records the way a tool does.
    Bytes mfg = rig.readRegion(7, 0xE3, 0, 0x10000);
    bool patched = false;
    for (size_t at = mfg[3]; at + 16 <= mfg.size() && le16(mfg, at + 6) != 0xFFFF;
         at += 4 + le16(mfg, at + 4)) {
        const uint16_t number = le16(mfg, at + 6);
        if ((number == 0xFE00 || number == 0xFE01) && (mfg[at] & 1)) {
            const Bytes high = leBytes(0x53C2A1F0), low = leBytes(0x0000503F);
            std::copy(high.begin(), high.end(), mfg.begin() + long(at) + 8);
            std::copy(low.begin(), low.end(), mfg.begin() + long(at) + 12);
            uint8_t sum = 0;
            for (size_t i = 4; i < 16; ++i)
                sum = uint8_t(sum + mfg[at + i]);
            mfg[at + 1] = sum;
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    ASSERT_TRUE(rig.writeRegion(7, 0xE3, 0, mfg));
    EXPECT_EQ(rig.reg(7, 0xC000004C), 0x00001000u);

    ASSERT_TRUE(rig.resetRequest(7).good());
    rig.services.advanceMs(6000);
    ASSERT_NE(rig.node(7), nullptr);
    EXPECT_TRUE(run(rig.node(7), {0, 0, 0, 0, 0, 0}, 0).check(6, 0x29));
    EXPECT_EQ(le32(identify(rig, 7), 36), 0x05060708u);
    EXPECT_EQ(rig.reg(7, 0xC000004C), 0x0000503Fu);
    EXPECT_EQ(le32(rig.page(7, 0xFE00, 0), 8), 0x0000503Fu);

    // The next process sees the device as it runs now.
    Rig later(defaultScsiSection(), &store);
    EXPECT_EQ(later.reg(7, 0xC000004C), 0x0000503Fu);
    EXPECT_EQ(le32(identify(later, 7), 36), 0x05060708u);
}

TEST(ExpanderFlash, ResetUnfinishedWhenAProcessEndsIsDoneInTheNext) {
    Store store;
    images::FirmwareImageOptions options;
    options.version = 0x07000000;
    {
        Rig first(defaultScsiSection(), &store);
        ASSERT_TRUE(first.writeRegion(3, 0x00, 0, images::buildFirmwareImage(options)));
        ASSERT_TRUE(first.resetRequest(3).good());
    }
    Rig second(defaultScsiSection(), &store);
    ASSERT_NE(second.node(3), nullptr);
    EXPECT_TRUE(run(second.node(3), {0, 0, 0, 0, 0, 0}, 0).check(6, 0x29));
    EXPECT_EQ(le32(identify(second, 3), 36), 0x07000000u);
    Rig third(defaultScsiSection(), &store);  // only once
    EXPECT_TRUE(run(third.node(3), {0, 0, 0, 0, 0, 0}, 0).good());
}

TEST(ExpanderFlash, BrokenActiveFirmwareBootsTheBackup) {
    Rig rig(defaultScsiSection());
    ASSERT_TRUE(rig.writeRegion(7, 0x81, 0, Bytes(256, 0xFF)));
    ASSERT_TRUE(rig.resetRequest(7).good());
    rig.services.advanceMs(6000);
    EXPECT_TRUE(run(rig.node(7), {0, 0, 0, 0, 0, 0}, 0).check(6, 0x29));
    EXPECT_EQ(le32(identify(rig, 7), 36), 0x03000000u);
}

TEST(ExpanderFlash, ErasedManufacturingRegionKeepsAddressLosesPages) {
    Rig rig(defaultScsiSection());
    ASSERT_TRUE(rig.writeRegion(3, 0x83, 0, Bytes(0x10000, 0xFF)));
    ASSERT_TRUE(rig.resetRequest(3).good());
    rig.services.advanceMs(6000);
    EXPECT_TRUE(run(rig.node(4), {0, 0, 0, 0, 0, 0}, 0).check(6, 0x29));
    EXPECT_EQ(rig.reg(4, 0xC000004C), 0x00002000u);
    EXPECT_TRUE(run(rig.node(4), pageCdb(0xFF0F, 4, 0), 4).check(5, 0x24));
    EXPECT_FALSE(rig.page(4, 0xFF27, 0).empty());  // persistent pages remain
}

TEST(ExpanderFaults, UnitAttentionBusyAndHostStatus) {
    Rig rig(oneExpander(
        {{"faults",
          {{"unitAttention", 2}, {"busy", 1}, {"hostStatus", {{"count", 1}, {"value", 3}}}}}}));
    qemu::SgNode* n = rig.node(2);
    const Bytes cdb = registerCdb(0x3C, 0xC380002C, 4);
    Reply r = run(n, cdb, 4);
    EXPECT_EQ(r.result.hostStatus, 3);
    EXPECT_EQ(r.data, Bytes(4, 0xEE));
    EXPECT_EQ(r.result.residual, 4u);
    EXPECT_EQ(run(n, cdb, 4).result.status, 0x08);
    EXPECT_TRUE(run(n, cdb, 4).check(6, 0x29));
    EXPECT_TRUE(run(n, cdb, 4).check(6, 0x29));
    EXPECT_TRUE(run(n, cdb, 4).good());
}

TEST(ExpanderFaults, IllegalRequestOnWritesOnly) {
    Rig rig(oneExpander({{"faults", {{"writeIllegalRequest", {{"count", 2}, {"qualifier", 1}}}}}}));
    EXPECT_TRUE(run(rig.node(2), registerCdb(0x3C, 0xC380002C, 4), 4).good());
    Reply r = run(rig.node(2), dataCdb(0x3B, 0x88, 0, 4), 0, Bytes(4, 9));
    EXPECT_TRUE(r.check(5, 0x2C, 1));
    EXPECT_EQ(r.result.sense[2], 0x05);  // no flag bits beside the key
    EXPECT_TRUE(run(rig.node(2), dataCdb(0x3B, 0x88, 0, 4), 0, Bytes(4, 9)).check(5, 0x2C, 1));
    EXPECT_TRUE(rig.writeRegion(2, 0x88, 0, Bytes(4, 9)));
}

TEST(ExpanderFaults, FailingBufferByIdAndMode) {
    Rig rig(oneExpander(nlohmann::json::parse(R"({"faults": {"failBuffer": [
        {"buffer": "0xE7"},
        {"buffer": "0x84", "mode": 3, "count": 1, "senseKey": 3, "asc": "0x11"}]}})")));
    qemu::SgNode* n = rig.node(2);
    EXPECT_TRUE(run(n, {0x3C, 0x03, 0xE7, 0, 0, 0, 0, 0, 4, 0}, 4).check(4, 0x44));
    EXPECT_TRUE(run(n, dataCdb(0x3C, 0xE7, 0, 16), 16).check(4, 0x44));
    EXPECT_TRUE(run(n, {0x3C, 0x03, 0x84, 0, 0, 0, 0, 0, 4, 0}, 4).check(3, 0x11));
    EXPECT_TRUE(run(n, {0x3C, 0x03, 0x84, 0, 0, 0, 0, 0, 4, 0}, 4).good());
    EXPECT_TRUE(run(n, dataCdb(0x3C, 0x84, 0, 16), 16).good());
}

TEST(ExpanderFaults, StuckPhyResetNeverCompletes) {
    Rig rig(oneExpander({{"faults", {{"stuckPhys", {1}}}}}));
    const uint32_t control = 0x50008000 + 0x400 + 0x18;
    ASSERT_TRUE(rig.writeReg(2, control, 1));
    rig.services.advanceMs(10000);
    EXPECT_EQ(rig.reg(2, control) & 1, 1u);
}

TEST(ExpanderTopology, MalformedSectionsAreRefused) {
    Store store;
    FakeServices services(&store);
    auto build = [&services](const nlohmann::json& scsi) {
        return qemu::makeSgTopology(topologyWith(scsi), services);
    };
    EXPECT_NO_THROW(build(nlohmann::json::object()));
    EXPECT_TRUE(qemu::makeSgTopology(nlohmann::json::object(), services)->listNodes().empty());
    nlohmann::json twice = oneExpander();
    twice["disks"] = {{{"sg", 2}}};
    EXPECT_THROW(build(twice), std::invalid_argument);
    EXPECT_THROW(build(oneExpander({{"family", 14}})), std::invalid_argument);
    EXPECT_THROW(build(oneExpander({{"sasAddress", "0xZZ"}})), std::invalid_argument);
    EXPECT_THROW(build(oneExpander({{"phys", {{{"phy", 40}}}}})), std::invalid_argument);
    EXPECT_THROW(build(oneExpander({{"regions", {{"0x88", {{"hex", "0"}}}}}})),
                 std::invalid_argument);
    nlohmann::json clash = oneExpander({{"sgAfterReset", {5}}});
    clash["disks"] = {{{"sg", 5}}};
    EXPECT_THROW(build(clash), std::invalid_argument);
    nlohmann::json listing = oneExpander();
    listing["listing"] = {9};
    EXPECT_THROW(build(listing), std::invalid_argument);
    nlohmann::json noSg = {{"expanders", {{{"sasAddress", "0x1"}, {"family", 1}}}}};
    EXPECT_THROW(build(noSg), std::invalid_argument);
    // An unknown chip is allowed: discovery has to skip it.
    auto odd = build(oneExpander({{"deviceId", "0x0C00"}}));
    EXPECT_EQ(odd->listNodes().size(), 1u);
}

}  // namespace
}  // namespace exptest

namespace exptest {
namespace {

// Random command blocks, lengths and buffers against every node: answers
// are whatever they are, but nothing may crash or touch memory outside the
// caller's buffers (the sanitizer build checks that).
TEST(ExpanderRobustness, RandomCommandsNeverCrash) {
    Rig rig(defaultScsiSection());
    uint32_t x = 12345;
    auto next = [&x]() {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    const uint8_t opcodes[] = {0x3C, 0x3B, 0x12, 0x00, 0x03, 0x25, 0x28};
    const uint8_t buffers[] = {0x00, 0x80, 0x83, 0x84, 0x89, 0xC2, 0xE3,
                               0xE5, 0xE6, 0xE7, 0xE9, 0xEA, 0x55};
    const uint32_t bases[] = {0xC3800000, 0xC0000000, 0xB0000000, 0x50008000, 0x50380000,
                              0x43400000, 0xA0000000, 0x20000000, 0xFFFFFF00};
    int good = 0;
    for (int i = 0; i < 20000; ++i) {
        std::vector<std::pair<int, qemu::SgNode*>> nodes = rig.topology->listNodes();
        if (nodes.empty() || i % 997 == 0) {
            rig.services.advanceMs(6000);
            continue;
        }
        qemu::SgNode* n = nodes[next() % nodes.size()].second;
        Bytes cdb(next() % 12);
        for (auto& b : cdb)
            b = uint8_t(next());
        if (cdb.size() >= 10 && next() % 4 != 0) {
            cdb[0] = opcodes[next() % sizeof opcodes];
            cdb[1] = uint8_t(next() % 4);
            cdb[2] = buffers[next() % sizeof buffers];
            if (cdb[2] == 0xC2) {
                const uint32_t a = bases[next() % (sizeof bases / 4)] + (next() % 0x2000) * 4;
                cdb[3] = uint8_t(a >> 24);
                cdb[4] = uint8_t(a >> 16);
                cdb[5] = uint8_t(a >> 8);
                cdb[6] = uint8_t(a);
            }
            if (cdb[2] == 0xE9 && next() % 8 != 0)
                cdb[2] = 0xC2;  // fewer resets
        }
        const size_t length = next() % 3 == 0 ? next() % 70000 : next() % 600;
        const bool out = next() % 2 == 0;
        Bytes data(length, uint8_t(next()));
        qemu::ScsiRequest req;
        req.cdb = cdb.empty() ? nullptr : cdb.data();
        req.cdbLength = cdb.size();
        req.direction = out ? -2 : -3;
        req.data = data.empty() || next() % 50 == 0 ? nullptr : data.data();
        req.dataLength = req.data == nullptr && next() % 2 == 0 ? 0 : data.size();
        if (req.data == nullptr)
            req.dataLength = 0;
        qemu::ScsiResult result;
        n->execute(req, &result);
        EXPECT_LE(result.residual, req.dataLength);
        EXPECT_LE(result.senseLength, sizeof result.sense);
        good += result.status == 0 ? 1 : 0;
    }
    EXPECT_GT(good, 100);
}

}  // namespace
}  // namespace exptest
