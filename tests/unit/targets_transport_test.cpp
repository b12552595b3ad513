// How the transport sorts one SCSI command's outcome, what a read reports as
// transferred, and the node checks of open.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>

#include "console_capture.h"
#include "targets/expander_device.h"
#include "targets/scsi_status.h"
#include "targets/scsi_transport.h"
#include "targets/target_list.h"

namespace {

ScsiOutcome checkCondition(uint8_t byte2, uint8_t asc, uint8_t ascq) {
    ScsiOutcome o;
    o.scsiStatus = kScsiStatusCheckCondition;
    o.driverStatus = kDriverStatusSense;
    o.senseLength = 18;
    o.sense[0] = 0x70;
    o.sense[2] = byte2;
    o.sense[12] = asc;
    o.sense[13] = ascq;
    return o;
}

// Descriptor-format sense: key, code and qualifier at bytes 1..3.
ScsiOutcome descriptorSense(uint8_t response, uint8_t key, uint8_t asc, uint8_t ascq,
                            uint8_t length = 8) {
    ScsiOutcome o;
    o.scsiStatus = kScsiStatusCheckCondition;
    o.driverStatus = kDriverStatusSense;
    o.senseLength = length;
    o.sense[0] = response;
    o.sense[1] = key;
    o.sense[2] = asc;
    o.sense[3] = ascq;
    return o;
}

ScsiOutcome withStatus(uint8_t status, uint16_t host = 0, uint16_t driver = 0) {
    ScsiOutcome o;
    o.scsiStatus = status;
    o.hostStatus = host;
    o.driverStatus = driver;
    return o;
}

struct SortCase {
    const char* what;
    ScsiOutcome outcome;
    ScsiDirection direction;
    uint32_t result;
    bool headerFailure;
};

TEST(TransportSort, EveryOutcomeGetsItsVerdict) {
    ScsiOutcome refused;
    refused.osError = 5;
    ScsiOutcome noSense = withStatus(kScsiStatusCheckCondition);
    const auto R = ScsiDirection::FromDevice;
    const auto W = ScsiDirection::ToDevice;
    const SortCase cases[] = {
        {"good", withStatus(kScsiStatusGood), R, kCommandOk, false},
        {"condition met", withStatus(kScsiStatusConditionMet), R, kCommandOk, false},
        {"sense flag alone is no error", withStatus(0, 0, kDriverStatusSense), R, kCommandOk,
         false},
        {"ioctl refused", refused, R, kCommandFailed, true},
        {"host status (timeout)", withStatus(0, 0x03), R, kCommandFailed, true},
        {"driver error", withStatus(0, 0, 0x04), W, kCommandFailed, true},
        {"driver error with sense", withStatus(0, 0, 0x0C), R, kCommandFailed, true},
        {"busy", withStatus(kScsiStatusBusy), R, kCommandBusy, false},
        {"reservation conflict", withStatus(kScsiStatusReservationConflict), W, kCommandFailed,
         true},
        {"task set full", withStatus(kScsiStatusTaskSetFull), W, kCommandBusy, false},
        {"check condition without sense", noSense, R, kCommandFailed, false},
        {"unit attention reset, read", checkCondition(0x06, 0x29, 0x00), R, kCommandRetry, false},
        {"unit attention reset, write", checkCondition(0x06, 0x29, 0x02), W, kCommandRetry, false},
        {"unit attention other code", checkCondition(0x06, 0x2A, 0x00), R, kCommandFailed, false},
        {"illegal request 0x2C/0, write", checkCondition(0x05, 0x2C, 0x00), W, kCommandRetry,
         false},
        {"illegal request 0x2C/1, write", checkCondition(0x05, 0x2C, 0x01), W, kCommandFailed,
         false},
        {"illegal request 0x2C/0, read", checkCondition(0x05, 0x2C, 0x00), R, kCommandFailed,
         false},
        {"illegal request with ILI flag", checkCondition(0x25, 0x2C, 0x00), W, kCommandFailed,
         false},
        {"medium error", checkCondition(0x03, 0x11, 0x00), R, kCommandFailed, false},
        {"descriptor unit attention", descriptorSense(0x72, 0x06, 0x29, 0x00), R, kCommandRetry,
         false},
        {"deferred descriptor unit attention", descriptorSense(0xF3, 0x06, 0x29, 0x01), W,
         kCommandRetry, false},
        {"descriptor illegal request 0x2C/0, write", descriptorSense(0x72, 0x05, 0x2C, 0x00), W,
         kCommandRetry, false},
        {"descriptor key only, code not sent", descriptorSense(0x72, 0x06, 0x29, 0x00, 2), R,
         kCommandFailed, false},
        {"fixed sense cut before its code",
         [] {
             ScsiOutcome o = checkCondition(0x06, 0x29, 0x00);
             o.senseLength = 8;
             return o;
         }(),
         R, kCommandFailed, false},
    };
    for (const SortCase& c : cases) {
        bool header = !c.headerFailure;
        EXPECT_EQ(sortScsiOutcome(c.outcome, c.direction, &header), c.result) << c.what;
        EXPECT_EQ(header, c.headerFailure) << c.what;
    }
}

TEST(TransportSort, TransferredCountsTheResidualOfReadsOnly) {
    ScsiOutcome o;
    o.residual = 56;
    EXPECT_EQ(transferredBytes(o, ScsiDirection::FromDevice, 256), 200u);
    EXPECT_EQ(transferredBytes(o, ScsiDirection::ToDevice, 256), 256u);
    o.residual = 300;
    EXPECT_EQ(transferredBytes(o, ScsiDirection::FromDevice, 256), 0u);
    o.residual = -4;
    EXPECT_EQ(transferredBytes(o, ScsiDirection::FromDevice, 256), 256u);
}

TEST(DeviceFd, ClosesOnResetAndFollowsMoves) {
    DeviceFd a(::open("/dev/null", O_RDONLY));
    ASSERT_TRUE(a.isOpen());
    const int raw = a.get();
    DeviceFd b(std::move(a));
    EXPECT_FALSE(a.isOpen());
    EXPECT_EQ(b.get(), raw);
    b.reset();
    EXPECT_FALSE(b.isOpen());
    EXPECT_EQ(fcntl(raw, F_GETFD), -1);  // really closed
}

// A closed record reopens its node on demand and checks it is an expander.
class ReopenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        target_ = createExpanderTarget(9, DeviceFd());
        ASSERT_NE(target_, nullptr);
    }
    void TearDown() override { expanderOf(target_)->destroy(target_); }
    Target* target_ = nullptr;
};

TEST_F(ReopenTest, NodeOfAnotherTypeIsRefused) {
    expanderOf(target_)->path = "/dev/null";  // opens, but is no SCSI generic node
    ConsoleCapture console;
    uint8_t cdb[10];
    buildBufferZeroCdb(cdb);
    uint8_t data[256];
    EXPECT_EQ(expanderRead(target_, cdb, 10, data, sizeof data, nullptr), 1u);
    EXPECT_EQ(console.text(),
              "ERROR: Invalid device state. Wrong device table found. Opening device is not "
              "expander.\n"
              "ERROR: Device is not initialized but trying to read.\n");
    EXPECT_FALSE(expanderOf(target_)->fd.isOpen());
}

TEST_F(ReopenTest, MissingNodeCannotBeOpenedForWriting) {
    expanderOf(target_)->path = "/nonexistent/sg9";
    ConsoleCapture console;
    uint8_t cdb[10];
    buildChipRegisterCdb(cdb, kOpWriteBuffer, 0, 4);
    const uint8_t data[4] = {};
    EXPECT_EQ(expanderWrite(target_, cdb, 10, data, 4, nullptr), 1u);
    EXPECT_EQ(console.text(),
              "ERROR: Unable to open the device. Open system call failed.\n"
              "ERROR: Device is not initialized but trying to write.\n");
}

TEST(ExpanderRecord, NullRecordIsRefused) {
    ConsoleCapture console;
    EXPECT_EQ(expanderOpen(nullptr), 1u);
    EXPECT_EQ(expanderClose(nullptr), 1u);
    EXPECT_EQ(console.text(), "ERROR: Expander device is null and not initialized.\n");
}

}  // namespace
