// Driver requests of the emulated control nodes: adapter information,
// passthrough header checks, hard reset and the driver-level faults.
#include <cerrno>

#include "model_controller_fixture.h"

namespace ctltest {
namespace {

TEST(ControllerNodes, EmptyNodesAndUnknownPaths) {
    nlohmann::json c = {{"emptyNodes", {"/dev/xol2ctl_wd"}},
                        {"adapters", {{{"node", "/dev/bogus"}, {"ioc", 0}}}}};
    Rig rig(c);
    ASSERT_EQ(rig.topo->nodes().size(), 1u);
    EXPECT_EQ(rig.topo->nodes()[0].first, "/dev/xol2ctl_wd");
    Bytes info;
    EXPECT_EQ(rig.adapterInfo("/dev/xol2ctl_wd", 0, &info), -ENODEV);
}

TEST(ControllerNodes, AdapterInformationRefusals) {
    Rig rig;
    Bytes info;
    EXPECT_EQ(rig.adapterInfo(kXol3, 2, &info), -ENODEV);
    EXPECT_EQ(rig.adapterInfo(kXol3, 254, &info), -ENODEV);
    EXPECT_EQ(rig.adapterInfo(kXol3, 0, &info, 72), -EINVAL);
    EXPECT_EQ(rig.node(kXol3)->ioctl(kAdapterInfo, nullptr), -EFAULT);
}

TEST(ControllerNodes, EveryRequestIsLogged) {
    Rig rig;
    Bytes info;
    rig.adapterInfo(kXol3, 5, &info);
    Bytes frame(12, 0);
    frame[3] = 0x03;
    rig.pass(kXol3, 0, frame, 68);
    ASSERT_EQ(rig.services.log.size(), 2u);
    EXPECT_EQ(rig.services.log[0], "/dev/xol3ctl ioctl 0xc05c4c11 ioc 5 result -19");
    EXPECT_NE(rig.services.log[1].find("function 0x03"), std::string::npos);
}

TEST(ControllerNodes, UnknownRequestsAreNotTty) {
    Rig rig;
    Bytes buf(256, 0);
    for (unsigned long req : {0x2285ul, 0xC05C4C12ul, 0ul}) {
        EXPECT_EQ(rig.node(kXol3)->ioctl(req, buf.data()), -ENOTTY) << std::hex << req;
    }
    EXPECT_EQ(rig.node(kXol3)->ioctl(0x1234, nullptr), -ENOTTY);
}

TEST(ControllerNodes, MalformedPassthroughHeaders) {
    Rig rig;
    Bytes reply(68, 0);
    auto command = [&](uint32_t words) {
        Bytes cmd(72 + 12, 0);
        wr32(cmd, 8, 72);
        wrPtr(cmd, 16, reply.data());
        wr32(cmd, 48, 68);
        wr32(cmd, 64, words);
        cmd[68 + 3] = 0x03;
        return cmd;
    };
    Bytes ok = command(3);
    EXPECT_EQ(rig.node(kXol3)->ioctl(kPassthrough, ok.data()), 0);

    Bytes noFrame = command(0);
    EXPECT_EQ(rig.node(kXol3)->ioctl(kPassthrough, noFrame.data()), -EINVAL);
    Bytes huge = command(100000);
    EXPECT_EQ(rig.node(kXol3)->ioctl(kPassthrough, huge.data()), -EINVAL);
    Bytes badSize = command(3);
    wr32(badSize, 8, 92);
    EXPECT_EQ(rig.node(kXol3)->ioctl(kPassthrough, badSize.data()), -EINVAL);
    Bytes nullReply = command(3);
    wrPtr(nullReply, 16, nullptr);
    EXPECT_EQ(rig.node(kXol3)->ioctl(kPassthrough, nullReply.data()), -EFAULT);
    Bytes nullDataIn = command(3);
    wr32(nullDataIn, 52, 16);
    EXPECT_EQ(rig.node(kXol3)->ioctl(kPassthrough, nullDataIn.data()), -EFAULT);
    Bytes nullSense = command(3);
    wr32(nullSense, 60, 32);
    EXPECT_EQ(rig.node(kXol3)->ioctl(kPassthrough, nullSense.data()), -EFAULT);
    Bytes wrongIoc = command(3);
    wr32(wrongIoc, 0, 7);
    EXPECT_EQ(rig.node(kXol3)->ioctl(kPassthrough, wrongIoc.data()), -ENODEV);
}

TEST(ControllerNodes, ShortReplyBufferGetsOnlyItsLength) {
    Rig rig;
    Bytes facts(12, 0);
    facts[3] = 0x03;
    Exchange x = rig.pass(kXol3, 0, facts, 20);
    ASSERT_EQ(x.rc, 0);
    EXPECT_EQ(rd16(x.reply, 0), 0x0206);
    EXPECT_EQ(x.reply.size(), 20u);
}

TEST(ControllerNodes, UnknownFunctionAnswersInvalidFunction) {
    Rig rig;
    Bytes frame(16, 0);
    frame[3] = 0x7E;
    Exchange x = rig.pass(kXol3, 0, frame, 20);
    ASSERT_EQ(x.rc, 0);
    EXPECT_EQ(x.status(), 0x0001);
    EXPECT_EQ(x.reply[3], 0x7E);
}

Bytes iocFactsFrame() {
    Bytes f(12, 0);
    f[3] = 0x03;
    return f;
}

TEST(ControllerReset, UnavailableForAVirtualMomentThenBack) {
    Rig rig;
    ASSERT_EQ(rig.hardReset(kXol3, 0), 0);
    Bytes info;
    EXPECT_EQ(rig.adapterInfo(kXol3, 0, &info), -EAGAIN);
    EXPECT_EQ(rig.pass(kXol3, 0, iocFactsFrame(), 68).rc, -EAGAIN);
    // The other IOC of the node is not affected.
    EXPECT_EQ(rig.adapterInfo(kXol3, 1, &info), 0);
    rig.services.now += 2'000'000'000ull;
    EXPECT_EQ(rig.adapterInfo(kXol3, 0, &info), 0);
    EXPECT_EQ(rig.pass(kXol3, 0, iocFactsFrame(), 68).status(), 0);
}

TEST(ControllerReset, ComesBackAfterEnoughRefusalsWithoutTimePassing) {
    Rig rig;
    ASSERT_EQ(rig.hardReset(kXol3, 0), 0);
    int refused = 0;
    Bytes info;
    while (rig.adapterInfo(kXol3, 0, &info) == -EAGAIN && refused < 100)
        ++refused;
    EXPECT_EQ(refused, 4);
}

TEST(ControllerReset, ResetRestoresCurrentPagesFromNvram) {
    Rig rig;
    PageRead io1 = readPage(rig, kXol3, 0, 0, 1);
    ASSERT_EQ(io1.status, 0);
    io1.page[4] = 0x00;
    io1.page[5] = 0x01;  // NCQ off in the current copy only
    ASSERT_EQ(writePage(rig, kXol3, 0, 0, 1, 0, io1.page, 2), 0);
    EXPECT_EQ(readPage(rig, kXol3, 0, 0, 1).page[5], 0x01);
    ASSERT_EQ(rig.hardReset(kXol3, 0), 0);
    rig.services.now += 5'000'000'000ull;
    EXPECT_EQ(readPage(rig, kXol3, 0, 0, 1).page[5], 0x00);
}

nlohmann::json withFaults(nlohmann::json faults, int adapter = 0) {
    nlohmann::json c = defaultControllers();
    c["adapters"][adapter]["faults"] = std::move(faults);
    return c;
}

TEST(ControllerFaults, AdapterInfoErrnoAfterSkip) {
    Rig rig(withFaults({{{"kind", "adapterInfoErrno"}, {"errno", 5}, {"skip", 1}}}));
    Bytes info;
    EXPECT_EQ(rig.adapterInfo(kXol3, 0, &info), 0);
    EXPECT_EQ(rig.adapterInfo(kXol3, 0, &info), -EIO);
    EXPECT_EQ(rig.adapterInfo(kXol3, 0, &info), -EIO);
}

TEST(ControllerFaults, PassthroughErrnoForOneFunctionAndTimes) {
    Rig rig(
        withFaults({{{"kind", "passthroughErrno"}, {"errno", 14}, {"function", 3}, {"times", 1}}}));
    EXPECT_EQ(rig.pass(kXol3, 0, iocFactsFrame(), 68).rc, -EFAULT);
    EXPECT_EQ(rig.pass(kXol3, 0, iocFactsFrame(), 68).rc, 0);
    EXPECT_EQ(readPage(rig, kXol3, 0, 9, 5).rc, 0);
}

TEST(ControllerFaults, UnknownKindsAreLoggedAndIgnored) {
    Rig rig(withFaults({{{"kind", "iocFactStatus"}}}));
    ASSERT_EQ(rig.services.log.size(), 1u);
    EXPECT_NE(rig.services.log[0].find("unknown fault kind 'iocFactStatus'"), std::string::npos);
    Bytes f(12, 0);
    f[3] = 0x03;
    EXPECT_EQ(rig.pass(kXol3, 0, f, 68).status(), 0);
}

TEST(ControllerFaults, HardResetRefusedByDriver) {
    Rig rig(withFaults({{{"kind", "hardResetErrno"}, {"errno", 5}}}));
    EXPECT_EQ(rig.hardReset(kXol3, 0), -EIO);
    Bytes info;
    EXPECT_EQ(rig.adapterInfo(kXol3, 0, &info), 0);  // never went away
}

TEST(ControllerFaults, NoReturnAfterReset) {
    Rig rig(withFaults({{{"kind", "noReturnAfterReset"}}}));
    ASSERT_EQ(rig.hardReset(kXol3, 0), 0);
    rig.services.now += 60'000'000'000ull;
    Bytes info;
    EXPECT_EQ(rig.adapterInfo(kXol3, 0, &info), -ENODEV);
    EXPECT_EQ(rig.pass(kXol3, 0, iocFactsFrame(), 68).rc, -ENODEV);
    EXPECT_EQ(rig.hardReset(kXol3, 0), -ENODEV);
    EXPECT_EQ(rig.adapterInfo(kXol3, 1, &info), 0);
}

TEST(ControllerNodes, GarbageFramesNeverCrash) {
    Rig rig;
    uint32_t seed = 12345;
    for (int i = 0; i < 3000; ++i) {
        Bytes frame(4 * (1 + i % 16), 0);
        for (auto& b : frame) {
            seed = seed * 1103515245u + 12345u;
            b = uint8_t(seed >> 16);
        }
        if (i % 3 == 0)
            frame[3] = uint8_t(i % 2 ? 0x04 : 0x12);
        if (frame[3] == 0x0F || frame[3] == 0x17)
            frame[3] = 0x7F;  // keep flash and resets intact
        Exchange x = rig.pass(kXol3, uint32_t(i % 2), frame, 24, 64, Bytes(64, 0xA5));
        EXPECT_TRUE(x.rc == 0 || x.rc == -EAGAIN || x.rc == -ENODEV);
    }
}

}  // namespace
}  // namespace ctltest
