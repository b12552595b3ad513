// Request totals: counting by kind and adding files of several processes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "request_stats.h"

namespace {

TEST(RequestStats, CountsEachKindAndAddsIntoAFile) {
    qemu::RequestStats stats;
    const uint8_t readBuffer[10] = {0x3C, 0x01, 0xC2};
    const uint8_t inquiry[6] = {0x12};
    stats.countSgIo(readBuffer, sizeof readBuffer);
    stats.countSgIo(readBuffer, sizeof readBuffer);
    stats.countSgIo(inquiry, sizeof inquiry);
    stats.countSgIo(nullptr, 0);
    stats.countSgIoctl(0x2282);
    stats.countDriver(0xC0484C14);
    // A SCSI IO frame to device handle 0x0109 and a config frame; a frame too
    // short for its function is not broken down.
    const uint8_t scsiIo[8] = {0x09, 0x01, 0x00, 0x00};
    const uint8_t config[4] = {0x00, 0x00, 0x00, 0x04};
    stats.countFrame(2, scsiIo, sizeof scsiIo);
    stats.countFrame(2, config, sizeof config);
    stats.countFrame(2, config, 3);

    const nlohmann::json totals = stats.toJson();
    EXPECT_EQ(totals["total"], 6);
    EXPECT_EQ(totals["sg_io"], (nlohmann::json{{"0x3c", 2}, {"0x12", 1}, {"none", 1}}));
    EXPECT_EQ(totals["buffer"], (nlohmann::json{{"0x3c 0xc2", 2}}));
    EXPECT_EQ(totals["sg_ioctl"], (nlohmann::json{{"0x2282", 1}}));
    EXPECT_EQ(totals["driver"], (nlohmann::json{{"0xc0484c14", 1}}));
    EXPECT_EQ(totals["xif"], (nlohmann::json{{"0x00", 1}, {"0x04", 1}}));
    EXPECT_EQ(totals["passthrough"], (nlohmann::json{{"ioc2 0x0109", 1}}));

    // Two processes add up; a file that holds no object starts from zero.
    char dir[] = "/tmp/quarlen-stats-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/stats.json";
    std::ofstream(path) << "not json";
    std::string error;
    ASSERT_TRUE(qemu::mergeStatsFile(path, totals, &error)) << error;
    ASSERT_TRUE(qemu::mergeStatsFile(path, totals, &error)) << error;
    std::ifstream in(path);
    const nlohmann::json merged = nlohmann::json::parse(in, nullptr, false);
    EXPECT_EQ(merged["processes"], 2);
    EXPECT_EQ(merged["total"], 12);
    EXPECT_EQ(merged["sg_io"]["0x3c"], 4);
    EXPECT_EQ(merged["passthrough"]["ioc2 0x0109"], 2);
    EXPECT_FALSE(qemu::mergeStatsFile(std::string(dir) + "/missing/stats.json", totals, &error));
    std::remove(path.c_str());
    rmdir(dir);
}

}  // namespace
