// Devices and device requests of the library against emulated drives
// (devices.json): enumeration and the device block, the SCSI passthrough's
// retries and verdicts, the caller records' checks, IO unit control, task
// management, locate, the driver's mapping and a walk that loops.
#include <gtest/gtest.h>

#include <cstring>

#include "recording_driver.h"
#include "shell/bytes.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kNewest = 0x01000001;
constexpr uint32_t kLooping = 0x01000002;  // its device list loops back

class XolEmuDevices : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!underEmulator() || std::getenv("XOLLIB_DEVICE_TOPOLOGY") == nullptr)
            GTEST_SKIP() << "needs quarlen-emu with tests/xollib/devices.json";
        ASSERT_EQ(XolLib2Create(), 0u);
        uint32_t count = 0;
        ASSERT_EQ(XolLib2DiscoverAdapters(&count, kXolShellDiscoveryOptions), 0u);
        ASSERT_EQ(count, 2u);
    }
    // The device handle word of the index-th device.
    static uint32_t deviceAt(uint32_t index) {
        uint8_t info[kXolDeviceInfoSize] = {};
        uint32_t size = sizeof info;
        EXPECT_EQ(XolLib2GetDeviceInfo(index, &kNewest, nullptr, info, &size), 0u);
        return getLe32(info, kDeviceInfoHandle);
    }
    // A 344-byte record for a command reading `length` bytes into data.
    static void readRecord(uint8_t* record, const std::vector<uint8_t>& cdb, uint8_t* data,
                           uint32_t length) {
        std::memset(record, 0, kXolScsiIoRecordSize);
        putLe32(record, 0, kXolScsiIoRecordSize);
        record[kScsiIoRecordCdbLength] = static_cast<uint8_t>(cdb.size());
        std::memcpy(record + kScsiIoRecordCdb, cdb.data(), cdb.size());
        putLe32(record, kScsiIoRecordDataLength, length);
        putLe64(record, kScsiIoRecordData, reinterpret_cast<uintptr_t>(data));
    }
    RecordingDriver driver;
};

TEST_F(XolEmuDevices, EnumerationAndTheDeviceBlock) {
    // Phy 5 (access status 7) and phy 6 (no mapping) are left out; the NVMe
    // device of the second list comes last.
    uint32_t count = 0;
    ASSERT_EQ(XolLib2GetDeviceCount(&kNewest, &count), 0u);
    EXPECT_EQ(count, 7u);

    uint8_t info[2000] = {};
    uint32_t size = sizeof info;
    ASSERT_EQ(XolLib2GetDeviceInfo(0, &kNewest, nullptr, info, &size), 0u);
    EXPECT_EQ(size, kXolDeviceInfoSize);
    EXPECT_EQ(getLe32(info, kDeviceInfoHandle) & kXolHandleKindMask, kXolDeviceHandleKind);
    EXPECT_EQ(getLe32(info, kDeviceInfoFormat), 536u);
    EXPECT_EQ(getLe32(info, kDeviceInfoFormat2), 532u);
    EXPECT_EQ(getLe64(info, kDeviceInfoSasAddress), 0x5000C50000000100ull);
    EXPECT_EQ(getLe32(info, kDeviceInfoInterface), kXolInterfaceSas);
    EXPECT_EQ(getLe32(info, kDeviceInfoDeviceType), 0u);
    EXPECT_STREQ(reinterpret_cast<char*>(info + kDeviceInfoSerial), "QZ-SERIAL-1");
    EXPECT_EQ(getLe32(info, kDeviceInfoSerialLength), 11u);
    // Beyond 2^32 blocks: READ CAPACITY (16).
    EXPECT_EQ(getLe64(info, kDeviceInfoBlocks), 0x180000000ull);
    EXPECT_EQ(getLe64(info, kDeviceInfoCapacity), 0x180000000ull * 512);
    EXPECT_EQ(getLe32(info, kDeviceInfoNonRotating), 1u);
    EXPECT_EQ(info[kDeviceInfoFormFactor], 3u);
    EXPECT_EQ(getLe32(info, kDeviceInfoAttachment), 0u);  // direct, enclosure 1
    EXPECT_EQ(info[2000 - 1], 0u);                        // nothing beyond the block

    // A SATA disk without page 0xB1 is still a disk.
    ASSERT_EQ(XolLib2GetDeviceInfo(1, &kNewest, nullptr, info, &size), 0u);
    EXPECT_EQ(getLe32(info, kDeviceInfoInterface), kXolInterfaceSata);
    EXPECT_EQ(getLe64(info, kDeviceInfoBlocks), 1000u);
    EXPECT_EQ(getLe16(info, kDeviceInfoRotationRate), 0u);

    // A serial of 200 bytes is cut to 128.
    ASSERT_EQ(XolLib2GetDeviceInfo(5, &kNewest, nullptr, info, &size), 0u);
    EXPECT_EQ(getLe32(info, kDeviceInfoSerialLength), 128u);

    ASSERT_EQ(XolLib2GetDeviceInfo(6, &kNewest, nullptr, info, &size), 0u);
    EXPECT_EQ(getLe32(info, kDeviceInfoInterface), kXolInterfaceNvme);
    EXPECT_EQ(getLe32(info, kDeviceInfoBus), 1u);

    EXPECT_EQ(XolLib2GetDeviceInfo(7, &kNewest, nullptr, info, &size), kXolStatusBadHandle);
    const uint32_t adapterAsDevice = kNewest;
    EXPECT_EQ(XolLib2GetDeviceInfo(0, &kNewest, &adapterAsDevice, info, &size),
              kXolStatusBadHandle);
    // The first access is done once: later reads send nothing.
    driver.clear();
    ASSERT_EQ(XolLib2GetDeviceInfo(0, &kNewest, nullptr, info, &size), 0u);
    EXPECT_TRUE(driver.ioctls.empty());
}

TEST_F(XolEmuDevices, ScsiPassthroughRetriesAndVerdicts) {
    // Device 2 has two unit attentions left after enumeration spent them: a
    // fresh rediscovery keeps the drive state, so send to it directly.
    uint8_t data[255] = {};
    uint8_t record[kXolScsiIoRecordSize];
    const std::vector<uint8_t> inquiry = {0x12, 0, 0, 0, 255, 0};

    const uint32_t good = deviceAt(0);
    readRecord(record, inquiry, data, sizeof data);
    ASSERT_EQ(XolLib2ScsiIoPassthrough(&kNewest, &good, record), 0u);
    EXPECT_EQ(getLe32(record, kScsiIoRecordTransferCount), 96u);
    EXPECT_EQ(getLe16(record, kScsiIoRecordIocStatus), 0x0045u);  // short data is success
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 7), "QUARLEN");

    // A drive that always answers CHECK CONDITION: three tries, then 1 with
    // the status and the sense kept.
    const uint32_t failing = deviceAt(3);
    driver.clear();
    readRecord(record, inquiry, data, sizeof data);
    EXPECT_EQ(XolLib2ScsiIoPassthrough(&kNewest, &failing, record), kXolStatusFailure);
    EXPECT_EQ(driver.passthroughs().size(), 3u);
    EXPECT_EQ(record[kScsiIoRecordScsiStatus], 0x02u);
    EXPECT_EQ(record[kScsiIoRecordSense + 2] & 0x0F, 0x04);
    EXPECT_EQ(getLe16(record, kScsiIoRecordIocStatus), 0x0044u);

    // BUSY is not retried and is no success.
    const uint32_t busy = deviceAt(4);
    driver.clear();
    readRecord(record, inquiry, data, sizeof data);
    EXPECT_EQ(XolLib2ScsiIoPassthrough(&kNewest, &busy, record), kXolStatusFailure);
    EXPECT_EQ(driver.passthroughs().size(), 1u);
    EXPECT_EQ(record[kScsiIoRecordScsiStatus], 0x08u);

    // The caller's record is checked before anything is sent.
    driver.clear();
    readRecord(record, std::vector<uint8_t>(33, 0), data, sizeof data);
    EXPECT_EQ(XolLib2ScsiIoPassthrough(&kNewest, &good, record), kXolStatusInvalidArgument);
    readRecord(record, inquiry, data, sizeof data);
    putLe32(record, 0, 343);
    EXPECT_EQ(XolLib2ScsiIoPassthrough(&kNewest, &good, record), kXolStatusWrongRecordSize);
    readRecord(record, inquiry, data, sizeof data);
    EXPECT_EQ(XolLib2ScsiIoPassthrough(&kNewest, &kNewest, record), kXolStatusBadHandle);
    EXPECT_EQ(XolLib2ScsiIoPassthrough(&kLooping, &good, record), kXolStatusBadHandle);
    EXPECT_TRUE(driver.passthroughs().empty());
}

TEST_F(XolEmuDevices, UnitAttentionIsRetried) {
    // The drive's two unit attentions went to enumeration's first INQUIRY,
    // which succeeded on its third try: the drive is listed.
    uint8_t info[kXolDeviceInfoSize] = {};
    uint32_t size = sizeof info;
    ASSERT_EQ(XolLib2GetDeviceInfo(2, &kNewest, nullptr, info, &size), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info + kDeviceInfoInquiry + 8), 7), "QUARLEN");
}

TEST_F(XolEmuDevices, CallerRecordsAreChecked) {
    uint8_t smp[kXolSmpRecordSize] = {};
    EXPECT_EQ(XolLib2SmpPassthrough(&kNewest, smp), kXolStatusWrongRecordSize);
    putLe32(smp, 0, kXolSmpRecordSize);
    const struct {
        uint16_t request;
        uint16_t response;
    } bad[] = {{3, 8}, {1033, 8}, {8, 1033}};
    driver.clear();
    for (const auto& b : bad) {
        putLe16(smp, kSmpRecordRequestLength, b.request);
        putLe16(smp, kSmpRecordResponseLength, b.response);
        EXPECT_EQ(XolLib2SmpPassthrough(&kNewest, smp), kXolStatusInvalidArgument) << b.request;
    }
    EXPECT_TRUE(driver.ioctls.empty());
    uint8_t sata[kXolSataRecordSize] = {};
    putLe32(sata, 0, 415);
    EXPECT_EQ(XolLib2SataPassthrough(&kNewest, sata), kXolStatusWrongRecordSize);
    putLe32(sata, 0, kXolSataRecordSize);
    putLe32(sata, kSataRecordDeviceHandle, 0x02FFFFFF);
    EXPECT_EQ(XolLib2SataPassthrough(&kNewest, sata), kXolStatusBadHandle);
}

TEST_F(XolEmuDevices, IoUnitControlAndTaskManagement) {
    const uint32_t device = deviceAt(0);
    XolStatusInfo st = {};
    EXPECT_EQ(XolLib2IoUnitControl(&kNewest, nullptr, 7, 2, &st), kXolStatusNotApplicable);
    EXPECT_EQ(XolLib2IoUnitControlNewFamily(&kLooping, nullptr, 7, 2, &st),
              kXolStatusNotApplicable);
    EXPECT_EQ(XolLib2IoUnitControlNewFamily(&kNewest, nullptr, 5, 0, &st),
              kXolStatusInvalidArgument);
    EXPECT_EQ(XolLib2IoUnitControlNewFamily(&kNewest, nullptr, 0x0D, 0, &st), kXolStatusBadHandle);
    driver.clear();
    EXPECT_EQ(XolLib2IoUnitControlNewFamily(&kNewest, nullptr, 7, 2, &st), 0u);
    ASSERT_EQ(driver.passthroughs().size(), 1u);
    EXPECT_EQ(driver.passthroughs()[0].frame[14], 2u);
    driver.clear();
    EXPECT_EQ(XolLib2IoUnitControlNewFamily(&kNewest, &device, 0x0D, 0, &st), 0u);
    ASSERT_EQ(driver.passthroughs().size(), 1u);
    uint8_t info[kXolDeviceInfoSize] = {};
    uint32_t size = sizeof info;
    ASSERT_EQ(XolLib2GetDeviceInfo(0, &kNewest, nullptr, info, &size), 0u);
    EXPECT_EQ(getLe16(driver.passthroughs()[0].frame.data(), 4),
              getLe16(info, kDeviceInfoDevHandle));

    EXPECT_EQ(XolLib2TaskManagement(&kNewest, &device, 0, 0, 0, 4, 0, nullptr, nullptr, nullptr),
              kXolStatusBadTaskType);
    EXPECT_EQ(XolLib2TaskManagement(&kNewest, nullptr, 99, 0, 0, 1, 0, nullptr, nullptr, nullptr),
              kXolStatusNoSuchDevice);
    uint8_t response = 0xFF;
    uint32_t terminated = 0xFF;
    EXPECT_EQ(XolLib2TaskManagement(&kNewest, nullptr, 0, 0, 0, 1, 0, &st, &response, &terminated),
              0u);
    EXPECT_EQ(st.flags, 0u);
    EXPECT_EQ(response, 0u);
    EXPECT_EQ(terminated, 0u);
}

TEST_F(XolEmuDevices, SataIdentify) {
    uint8_t identify[512] = {};
    uint8_t record[kXolSataRecordSize] = {};
    putLe32(record, 0, kXolSataRecordSize);
    putLe32(record, kSataRecordDeviceHandle, deviceAt(1));
    putLe32(record, kSataRecordDataInLength, sizeof identify);
    putLe64(record, kSataRecordDataIn, reinterpret_cast<uintptr_t>(identify));
    const uint8_t fis[20] = {0x27, 0x80, 0xEC};
    std::memcpy(record + kSataRecordFis, fis, sizeof fis);
    ASSERT_EQ(XolLib2SataPassthrough(&kNewest, record), 0u);
    EXPECT_EQ(getLe32(record, kSataRecordTransferCount), 512u);
    EXPECT_EQ(record[kSataRecordStatusFis + 2], 0x50u);
    EXPECT_EQ(identify[54], 'D');  // "QD8 ..." with the bytes of each word swapped
    EXPECT_EQ(identify[55], 'Q');
    // Any other command ends with an error FIS.
    record[kSataRecordFis + 2] = 0x25;
    ASSERT_EQ(XolLib2SataPassthrough(&kNewest, record), 0u);
    EXPECT_EQ(record[kSataRecordStatusFis + 2], 0x51u);
}

TEST_F(XolEmuDevices, LocateAndMapping) {
    EXPECT_EQ(XolLib2Locate(&kNewest, true), kXolStatusBadHandle);
    auto enclosureFrames = [&] {
        std::vector<std::vector<uint8_t>> frames;
        for (const auto& p : driver.passthroughs()) {
            if (p.frame[3] == 0x18)
                frames.push_back(p.frame);
        }
        return frames;
    };
    // Read, then write with the locate bit added to what was read.
    const uint32_t device = deviceAt(0);
    driver.clear();
    EXPECT_EQ(XolLib2Locate(&device, true), 0u);
    ASSERT_EQ(enclosureFrames().size(), 2u);
    EXPECT_EQ(enclosureFrames()[1][4], 0u);
    EXPECT_EQ(getLe32(enclosureFrames()[1].data(), 12), 0x00020001u);
    driver.clear();
    EXPECT_EQ(XolLib2Locate(&device, false), 0u);
    ASSERT_EQ(enclosureFrames().size(), 2u);
    EXPECT_EQ(getLe32(enclosureFrames()[1].data(), 12), 0x00000001u);

    // The slot status read is refused: nothing is written.
    uint8_t other[kXolDeviceInfoSize] = {};
    uint32_t otherSize = sizeof other;
    ASSERT_EQ(XolLib2GetDeviceInfo(0, &kLooping, nullptr, other, &otherSize), 0u);
    const uint32_t refused = getLe32(other, kDeviceInfoHandle);
    driver.clear();
    EXPECT_EQ(XolLib2Locate(&refused, true), kXolStatusFailure);
    EXPECT_EQ(enclosureFrames().size(), 1u);

    uint8_t info[kXolDeviceInfoSize] = {};
    uint32_t size = sizeof info;
    ASSERT_EQ(XolLib2GetDeviceInfo(1, &kNewest, nullptr, info, &size), 0u);
    const uint16_t devHandle = getLe16(info, kDeviceInfoDevHandle);
    uint32_t target = 0;
    uint32_t bus = 0;
    ASSERT_EQ(XolLib2MapHandleToTarget(&kNewest, devHandle, &target, &bus), 0u);
    EXPECT_EQ(target, getLe32(info, kDeviceInfoTargetId));
    EXPECT_EQ(bus, 0u);
    uint16_t back = 0;
    ASSERT_EQ(XolLib2MapTargetToHandle(&kNewest, target, bus, &back), 0u);
    EXPECT_EQ(back, devHandle);
    EXPECT_EQ(XolLib2MapHandleToTarget(&kNewest, 0xFFFF, &target, &bus), kXolStatusInvalidArgument);
    EXPECT_EQ(XolLib2MapTargetToHandle(&kNewest, 0xFFFFFFFF, 0xFFFFFFFF, &back),
              kXolStatusInvalidArgument);
    EXPECT_EQ(XolLib2MapHandleToTarget(&kNewest, 0x7777, &target, &bus), kXolStatusIoctlFailed);
}

TEST_F(XolEmuDevices, ALoopingWalkEnds) {
    EXPECT_EQ(XolLib2RediscoverDevices(&kLooping), 0u);
    uint32_t count = 0;
    ASSERT_EQ(XolLib2GetDeviceCount(&kLooping, &count), 0u);
    EXPECT_EQ(count, 1u);
}

}  // namespace
