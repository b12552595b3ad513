// Diagnostic buffer and event requests of the library against the emulated
// driver (default topology): the envelope header of every request, the
// argument checks made before anything is sent, chunked reads, the event
// mask arithmetic and record clamp, and the notification setup.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

#include "recording_driver.h"
#include "shell/bytes.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kFirst = 0x01000001;   // /dev/xol3ctl IOC 0
constexpr uint32_t kSecond = 0x01000002;  // /dev/xol3ctl IOC 1

struct Header {
    uint32_t ioc;
    uint32_t port;
    uint32_t maxData;
};
Header headerOf(const RecordedIoctl& r) {
    return {getLe32(r.header.data(), 0), getLe32(r.header.data(), 4), getLe32(r.header.data(), 8)};
}

// Driver calls that fail to open, or that report a chosen event entry count.
int failOpen(const char*, int) {
    errno = ENOENT;
    return -1;
}
int g_entries = -1;
int entriesIoctl(int fd, unsigned long request, void* argument) {
    const int rc = ::ioctl(fd, request, argument);
    if (rc == 0 && request == kXolIoctlEventQuery && g_entries >= 0)
        putLe16(static_cast<uint8_t*>(argument), 12, static_cast<uint16_t>(g_entries));
    return rc;
}
int plainOpen(const char* path, int flags) {
    return ::open(path, flags);
}
int plainClose(int fd) {
    return ::close(fd);
}

class XolEmuDiag : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!underEmulator())
            GTEST_SKIP() << "needs quarlen-emu";
        ASSERT_EQ(XolLib2Create(), 0u);
        uint32_t count = 0;
        ASSERT_EQ(XolLib2DiscoverAdapters(&count, kXolShellDiscoveryOptions), 0u);
        ASSERT_GE(count, 2u);
        driver_ = std::make_unique<RecordingDriver>();
    }
    void TearDown() override {
        driver_.reset();
        XolLib2DiagUnregister(&kFirst, 0);
        XolLib2DiagUnregister(&kFirst, 1);
    }
    std::unique_ptr<RecordingDriver> driver_;
};

TEST_F(XolEmuDiag, BufferLifecycleHeadersAndArgumentChecks) {
    RecordingDriver& d = *driver_;
    uint32_t none[kXolDiagProductWords] = {};
    EXPECT_EQ(XolLib2DiagRegister(nullptr, 0, 0, 16388, 0, none), kXolStatusBadHandle);
    EXPECT_EQ(XolLib2DiagQuery(nullptr, 0, nullptr, nullptr), kXolStatusBadHandle);
    uint8_t byte = 0;
    EXPECT_EQ(XolLib2DiagRead(nullptr, 0, 1, &byte), kXolStatusBadHandle);
    EXPECT_EQ(XolLib2DiagRelease(nullptr, 0), kXolStatusBadHandle);
    EXPECT_EQ(XolLib2DiagUnregister(nullptr, 0), kXolStatusBadHandle);
    EXPECT_EQ(XolLib2DiagRegister(&kFirst, 0, 0, 16384, 0, none), kXolStatusDiagArgument);
    EXPECT_EQ(XolLib2DiagRegister(&kFirst, 0, 0, 16390, 0, none), kXolStatusDiagArgument);
    EXPECT_EQ(XolLib2DiagRead(&kFirst, 0, 0, &byte), kXolStatusDiagArgument);
    EXPECT_EQ(XolLib2DiagRead(&kFirst, 0, 1, nullptr), kXolStatusDiagArgument);
    EXPECT_TRUE(d.ioctls.empty());

    ASSERT_EQ(XolLib2DiagRegister(&kFirst, 0, 0, 16388, 0, none), 0u);
    // One buffer per type: the driver refuses a second registration.
    EXPECT_EQ(XolLib2DiagRegister(&kFirst, 0, 0, 16388, 0, none), kXolStatusDiagIoctlFailed);
    EXPECT_EQ(XolLib2DiagQuery(&kFirst, 0, nullptr, nullptr), 0u);
    uint16_t flags = 0;
    uint32_t size = 0;
    ASSERT_EQ(XolLib2DiagQuery(&kFirst, 0, &flags, &size), 0u);
    EXPECT_EQ(flags, kXolDiagFlagRegistered);
    EXPECT_EQ(size, 16388u);
    ASSERT_EQ(XolLib2DiagRelease(&kFirst, 0), 0u);
    ASSERT_EQ(XolLib2DiagQuery(&kFirst, 0, &flags, nullptr), 0u);
    EXPECT_EQ(flags, kXolDiagFlagRegistered | kXolDiagFlagValidData);
    ASSERT_EQ(XolLib2DiagUnregister(&kFirst, 0), 0u);
    EXPECT_EQ(XolLib2DiagQuery(&kFirst, 0, &flags, &size), kXolStatusDiagIoctlFailed);
    EXPECT_EQ(XolLib2DiagRelease(&kFirst, 0), kXolStatusDiagIoctlFailed);

    const std::vector<std::pair<unsigned long, uint32_t>> expected = {
        {kXolIoctlDiagRegister, 123},  {kXolIoctlDiagRegister, 123}, {kXolIoctlDiagQuery, 127},
        {kXolIoctlDiagQuery, 127},     {kXolIoctlDiagRelease, 19},   {kXolIoctlDiagQuery, 127},
        {kXolIoctlDiagUnregister, 19}, {kXolIoctlDiagQuery, 127},    {kXolIoctlDiagRelease, 19},
    };
    ASSERT_EQ(d.ioctls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Header h = headerOf(d.ioctls[i]);
        EXPECT_EQ(d.ioctls[i].request, expected[i].first) << i;
        EXPECT_EQ(h.ioc, 0u) << i;
        EXPECT_EQ(h.port, 0u) << i;
        EXPECT_EQ(h.maxData, expected[i].second) << i;
    }
    // One open and close of the node per request.
    EXPECT_EQ(d.opens.size(), expected.size());
    EXPECT_EQ(d.openDescriptors, 0);
}

TEST_F(XolEmuDiag, ReadsInChunksOf65536) {
    RecordingDriver& d = *driver_;
    ASSERT_EQ(XolLib2DiagRegister(&kFirst, 1, 0, 131072, 0, nullptr), 0u);
    d.clear();
    std::vector<uint8_t> data(65537);
    ASSERT_EQ(XolLib2DiagRead(&kFirst, 1, 65537, data.data()), 0u);
    ASSERT_EQ(d.ioctls.size(), 2u);
    EXPECT_EQ(headerOf(d.ioctls[0]).maxData, 16u + 65536 + 15);
    EXPECT_EQ(headerOf(d.ioctls[1]).maxData, 16u + 1 + 15);
    // The head names the buffer by its unique ID; the last byte came from
    // the second chunk at offset 65536.
    EXPECT_EQ(getLe32(data.data(), 0), 0xABCDEF01u);
    EXPECT_EQ(data[65536], static_cast<uint8_t>(65536 + 256 + 0xABCDEF01u));
    // Beyond the buffer the driver refuses: the whole read fails.
    std::vector<uint8_t> more(131076);
    EXPECT_EQ(XolLib2DiagRead(&kFirst, 1, 131076, more.data()), kXolStatusDiagIoctlFailed);
}

TEST_F(XolEmuDiag, UnopenableNodeIs32) {
    static const XolDriverOps kNoNode = {failOpen, entriesIoctl, plainClose};
    xolSetDriverOps(&kNoNode);
    EXPECT_EQ(XolLib2DiagQuery(&kFirst, 0, nullptr, nullptr), kXolStatusNodeOpenFailed);
    EXPECT_EQ(XolLib2EventQuery(&kFirst, nullptr, nullptr), kXolStatusNodeOpenFailed);
    int fd = -1;
    EXPECT_EQ(XolLib2EventNotifyStart(&fd), kXolStatusNodeOpenFailed);
    EXPECT_EQ(fd, -1);
    xolSetDriverOps(nullptr);
}

TEST_F(XolEmuDiag, EventMaskAndRecords) {
    RecordingDriver& d = *driver_;
    ASSERT_EQ(XolLib2EventDisableAll(&kSecond), 0u);
    ASSERT_EQ(d.ioctls.size(), 1u);
    EXPECT_EQ(d.ioctls[0].request, kXolIoctlEventEnable);
    EXPECT_EQ(headerOf(d.ioctls[0]).ioc, 1u);
    EXPECT_EQ(headerOf(d.ioctls[0]).maxData, 28u);
    uint32_t mask[4] = {9, 9, 9, 9};
    uint16_t entries = 0;
    ASSERT_EQ(XolLib2EventQuery(&kSecond, mask, &entries), 0u);
    EXPECT_EQ(entries, 32u);
    EXPECT_EQ(mask[0] | mask[1] | mask[2] | mask[3], 0u);
    const uint32_t first[4] = {0x8000, 0, 0, 1};
    const uint32_t second[4] = {0x1, 0x10, 0, 0};
    uint32_t result[4] = {};
    ASSERT_EQ(XolLib2EventEnable(&kSecond, first, result), 0u);
    ASSERT_EQ(XolLib2EventEnable(&kSecond, second, result), 0u);
    EXPECT_EQ(result[0], 0x8001u);
    EXPECT_EQ(result[1], 0x10u);
    EXPECT_EQ(result[3], 1u);
    ASSERT_EQ(XolLib2EventQuery(&kSecond, mask, nullptr), 0u);
    EXPECT_EQ(mask[0], 0x8001u);

    d.clear();
    std::vector<uint8_t> records(100 * kXolEventRecordSize);
    uint32_t count = 100;
    ASSERT_EQ(XolLib2EventRead(&kSecond, records.data(), &count), 0u);
    EXPECT_EQ(count, 32u);  // clamped to the driver's entry count
    ASSERT_EQ(d.ioctls.size(), 2u);
    EXPECT_EQ(d.ioctls[1].request, kXolIoctlEventReport);
    EXPECT_EQ(headerOf(d.ioctls[0]).maxData, 32u);
    EXPECT_EQ(headerOf(d.ioctls[1]).maxData, 12u + 200 * 32);
    EXPECT_EQ(headerOf(d.ioctls[1]).ioc, 1u);
    count = 3;
    ASSERT_EQ(XolLib2EventRead(&kSecond, records.data(), &count), 0u);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(XolLib2EventEnable(&kSecond, first, nullptr), 0u);
}

TEST_F(XolEmuDiag, EventReadWithoutEntriesSendsTheHeaderOnly) {
    static const XolDriverOps kCounting = {plainOpen, entriesIoctl, plainClose};
    xolSetDriverOps(&kCounting);
    g_entries = 0;
    uint8_t sentinel[kXolEventRecordSize];
    std::fill(std::begin(sentinel), std::end(sentinel), 0x5A);
    uint32_t count = 1;
    EXPECT_EQ(XolLib2EventRead(&kFirst, sentinel, &count), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(sentinel[0], 0x5A);
    g_entries = -1;
    xolSetDriverOps(nullptr);
}

TEST_F(XolEmuDiag, TheLogHoldsDeviceAndPhyResetEvents) {
    std::vector<uint8_t> records(32 * kXolEventRecordSize);
    uint32_t count = 32;
    ASSERT_EQ(XolLib2EventRead(&kFirst, records.data(), &count), 0u);
    EXPECT_EQ(getLe32(records.data(), 0), 0x0Fu);  // device added at first start
    ASSERT_EQ(XolLib2IoUnitControlNewFamily(&kFirst, nullptr, 6, 2, nullptr), 0u);
    count = 32;
    ASSERT_EQ(XolLib2EventRead(&kFirst, records.data(), &count), 0u);
    // The newest record is the last one filled.
    size_t last = 0;
    for (size_t i = 0; i < count; ++i) {
        if (getLe32(records.data(), i * kXolEventRecordSize) != 0)
            last = i;
    }
    const uint8_t* record = records.data() + last * kXolEventRecordSize;
    EXPECT_EQ(getLe32(record, 0), 0x10u);
    EXPECT_EQ(record[8], 2);  // phy
    EXPECT_EQ(record[9], 6);  // link reset
}

TEST_F(XolEmuDiag, NotificationOwnerAndAsyncFlag) {
    int fd = -1;
    ASSERT_EQ(XolLib2EventNotifyStart(&fd), 0u);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETOWN), getpid());
    EXPECT_NE(fcntl(fd, F_GETFL) & O_ASYNC, 0);
    close(fd);
}

}  // namespace
