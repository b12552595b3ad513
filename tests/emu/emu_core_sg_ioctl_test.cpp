// The sg driver's side of an ioctl on an emulated node: the kernel's checks
// and the filling of the v3 header, against a scripted node.
#include <scsi/scsi.h>
#include <scsi/sg.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "services.h"
#include "sg_ioctl.h"

namespace {

class ScriptedNode final : public qemu::SgNode {
  public:
    int hostNumber() const override { return 4; }
    int channel() const override { return 1; }
    int scsiId() const override { return 9; }
    int lun() const override { return 2; }
    int peripheralType() const override { return 13; }
    int onOpen() override { return 0; }
    void onClose() override {}
    void execute(const qemu::ScsiRequest& request, qemu::ScsiResult* result) override {
        ++calls;
        seenCdb.assign(request.cdb, request.cdb + request.cdbLength);
        seenDirection = request.direction;
        seenLength = request.dataLength;
        if (request.data != nullptr) {
            seenData.assign(request.data, request.data + request.dataLength);
            for (size_t i = 0; i < request.dataLength; ++i) {
                request.data[i] = static_cast<uint8_t>(0xA0 + i);
            }
        }
        *result = answer;
    }

    qemu::ScsiResult answer;
    int calls = 0;
    std::vector<uint8_t> seenCdb;
    std::vector<uint8_t> seenData;
    int seenDirection = 0;
    size_t seenLength = 0;
};

class SgIoctlTest : public ::testing::Test {
  protected:
    sg_io_hdr_t header(int direction, size_t length) {
        sg_io_hdr_t h{};
        h.interface_id = 'S';
        h.dxfer_direction = direction;
        h.cmd_len = 10;
        h.cmdp = cdb_;
        h.mx_sb_len = sizeof sense_;
        h.sbp = sense_;
        data_.assign(length, 0x11);
        h.dxfer_len = static_cast<unsigned>(length);
        h.dxferp = data_.data();
        h.timeout = 600000;
        return h;
    }
    int call(unsigned long request, void* argument) {
        return qemu::sgIoctl(node_, 7, request, argument, services_);
    }

    ScriptedNode node_;
    qemu::NullServices services_;
    unsigned char cdb_[16] = {0x3C, 0x01, 0xC2, 0xC3, 0x80, 0x00, 0x2C, 0x00, 0x04, 0x00};
    unsigned char sense_[32] = {};
    std::vector<unsigned char> data_;
};

TEST_F(SgIoctlTest, IdentityIoctls) {
    int version = 0;
    EXPECT_EQ(call(SG_GET_VERSION_NUM, &version), 0);
    EXPECT_EQ(version, 30536);

    struct sg_scsi_id id;
    std::memset(&id, 0x5A, sizeof id);
    EXPECT_EQ(call(SG_GET_SCSI_ID, &id), 0);
    EXPECT_EQ(id.host_no, 4);
    EXPECT_EQ(id.channel, 1);
    EXPECT_EQ(id.scsi_id, 9);
    EXPECT_EQ(id.lun, 2);
    EXPECT_EQ(id.scsi_type, 13);
    EXPECT_EQ(id.unused[0], 0);

    int idlun[2] = {};
    EXPECT_EQ(call(SCSI_IOCTL_GET_IDLUN, idlun), 0);
    EXPECT_EQ(idlun[0], 9 | (2 << 8) | (1 << 16) | (4 << 24));
}

TEST_F(SgIoctlTest, KernelRefusals) {
    // Interface, length and request checks are run through the interposer;
    // these are the pointer and direction checks.
    sg_io_hdr_t h = header(SG_DXFER_FROM_DEV, 4);
    h.cmdp = nullptr;
    EXPECT_EQ(call(SG_IO, &h), -EMSGSIZE);
    h.cmdp = cdb_;
    h.dxfer_direction = -9;
    EXPECT_EQ(call(SG_IO, &h), -EINVAL);
    h.dxfer_direction = SG_DXFER_FROM_DEV;
    h.dxferp = nullptr;
    EXPECT_EQ(call(SG_IO, &h), -EFAULT);
    EXPECT_EQ(node_.calls, 0);

    EXPECT_EQ(call(SG_GET_VERSION_NUM, nullptr), -EFAULT);
    EXPECT_EQ(call(SG_IO, nullptr), -EFAULT);
}

TEST_F(SgIoctlTest, GoodReadCarriesDataAndClearStatus) {
    sg_io_hdr_t h = header(SG_DXFER_FROM_DEV, 4);
    h.info = 0xFF;
    h.sb_len_wr = 0xFF;
    ASSERT_EQ(call(SG_IO, &h), 0);
    EXPECT_EQ(node_.seenCdb, std::vector<uint8_t>(cdb_, cdb_ + 10));
    EXPECT_EQ(node_.seenDirection, SG_DXFER_FROM_DEV);
    EXPECT_EQ(node_.seenLength, 4u);
    EXPECT_EQ(data_, (std::vector<unsigned char>{0xA0, 0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.masked_status, 0);
    EXPECT_EQ(h.sb_len_wr, 0);
    EXPECT_EQ(h.host_status, 0);
    EXPECT_EQ(h.driver_status, 0);
    EXPECT_EQ(h.resid, 0);
    EXPECT_EQ(h.info, static_cast<unsigned>(SG_INFO_OK));
}

TEST_F(SgIoctlTest, CheckConditionFillsSenseLikeTheDriver) {
    node_.answer.status = 0x02;
    const uint8_t sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
    std::memcpy(node_.answer.sense, sense, sizeof sense);
    node_.answer.senseLength = sizeof sense;
    sg_io_hdr_t h = header(SG_DXFER_FROM_DEV, 4);
    ASSERT_EQ(call(SG_IO, &h), 0);
    EXPECT_EQ(h.status, 0x02);
    EXPECT_EQ(h.masked_status, 0x01);  // CHECK_CONDITION
    EXPECT_EQ(h.sb_len_wr, 18);
    EXPECT_EQ(h.driver_status, 0x08);  // DRIVER_SENSE
    EXPECT_EQ(h.info & SG_INFO_OK_MASK, static_cast<unsigned>(SG_INFO_CHECK));
    EXPECT_EQ(std::memcmp(sense_, sense, sizeof sense), 0);

    // A smaller sense buffer gets what fits; none at all gets nothing.
    std::memset(sense_, 0, sizeof sense_);
    h = header(SG_DXFER_FROM_DEV, 4);
    h.mx_sb_len = 8;
    ASSERT_EQ(call(SG_IO, &h), 0);
    EXPECT_EQ(h.sb_len_wr, 8);
    EXPECT_EQ(sense_[8], 0);
    h = header(SG_DXFER_FROM_DEV, 4);
    h.mx_sb_len = 0;
    h.sbp = nullptr;
    ASSERT_EQ(call(SG_IO, &h), 0);
    EXPECT_EQ(h.sb_len_wr, 0);
    EXPECT_EQ(h.driver_status, 0x08);
}

TEST_F(SgIoctlTest, ResidualHostAndDriverStatusPassThrough) {
    node_.answer.residual = 56;
    sg_io_hdr_t h = header(SG_DXFER_FROM_DEV, 256);
    ASSERT_EQ(call(SG_IO, &h), 0);
    EXPECT_EQ(h.resid, 56);
    EXPECT_EQ(h.info, static_cast<unsigned>(SG_INFO_OK));

    node_.answer.residual = 9999;  // never more than was asked for
    h = header(SG_DXFER_FROM_DEV, 16);
    ASSERT_EQ(call(SG_IO, &h), 0);
    EXPECT_EQ(h.resid, 16);

    node_.answer = {};
    node_.answer.status = 0x08;  // BUSY
    node_.answer.hostStatus = 0x07;
    h = header(SG_DXFER_NONE, 0);
    ASSERT_EQ(call(SG_IO, &h), 0);
    EXPECT_EQ(h.masked_status, 0x04);
    EXPECT_EQ(h.host_status, 0x07);
    EXPECT_EQ(h.info, static_cast<unsigned>(SG_INFO_CHECK));
    EXPECT_EQ(node_.seenLength, 0u);
}

TEST_F(SgIoctlTest, ScatterGatherListsAreGatheredAndScattered) {
    unsigned char first[3] = {}, second[5] = {};
    sg_iovec_t vectors[2] = {{first, sizeof first}, {second, sizeof second}};
    sg_io_hdr_t h = header(SG_DXFER_FROM_DEV, 0);
    h.iovec_count = 2;
    h.dxferp = vectors;
    h.dxfer_len = 8;
    ASSERT_EQ(call(SG_IO, &h), 0);
    EXPECT_EQ(node_.seenLength, 8u);
    EXPECT_EQ(first[0], 0xA0);
    EXPECT_EQ(first[2], 0xA2);
    EXPECT_EQ(second[0], 0xA3);
    EXPECT_EQ(second[4], 0xA7);
}

TEST_F(SgIoctlTest, ModelExceptionBecomesIoError) {
    class Throwing final : public qemu::SgNode {
      public:
        int hostNumber() const override { return 0; }
        int channel() const override { return 0; }
        int scsiId() const override { return 0; }
        int lun() const override { return 0; }
        int peripheralType() const override { return 0; }
        int onOpen() override { return 0; }
        void onClose() override {}
        void execute(const qemu::ScsiRequest&, qemu::ScsiResult*) override {
            throw std::runtime_error("boom");
        }
    } throwing;
    sg_io_hdr_t h = header(SG_DXFER_NONE, 0);
    EXPECT_EQ(qemu::sgIoctl(throwing, 1, SG_IO, &h, services_), -EIO);
}

}  // namespace
