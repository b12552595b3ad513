// Expander show: its groups against a fake expander, its argument rules, and
// the conversions behind the temperature and the management address.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "console_capture.h"
#include "expander/show.h"
#include "expander/show_values.h"
#include "expander_fake_device.h"

namespace {

TEST(ShowValues, TemperatureConversion) {
    EXPECT_EQ(celsiusFromRaw(400), 37u);
    EXPECT_EQ(fahrenheitFromCelsius(37), 98u);
    char text[64];
    ASSERT_TRUE(formatTemperature(400, text, sizeof text));
    EXPECT_STREQ(text, "37.0 *C / 98.0 *F");
    ASSERT_TRUE(formatTemperature(500, text, sizeof text));
    EXPECT_STREQ(text, "109.0 *C / 228.0 *F");
    // Below the sensor floor the unsigned arithmetic wraps far out of range.
    EXPECT_FALSE(formatTemperature(0, text, sizeof text));
    EXPECT_FALSE(formatTemperature(366, text, sizeof text));
    // The lowest sample above the wrap reads 13 degrees; 254 is the highest shown.
    EXPECT_EQ(celsiusFromRaw(367), 13u);
    EXPECT_TRUE(formatTemperature(367, text, sizeof text));
    EXPECT_EQ(celsiusFromRaw(701), 254u);
    EXPECT_TRUE(formatTemperature(701, text, sizeof text));
    EXPECT_EQ(celsiusFromRaw(702), 255u);
    EXPECT_FALSE(formatTemperature(702, text, sizeof text));
}

std::vector<uint8_t> vpdReply(const char* address) {
    std::vector<uint8_t> reply(256, 0);
    std::memcpy(reply.data() + 8, address, std::strlen(address));
    return reply;
}

TEST(ShowValues, ManagementAddressText) {
    struct Case {
        const char* in;
        bool available;
        const char* out;
    };
    const Case cases[] = {
        {"010.001.002.003", true, "10.1.2.3"},   {"192.168.100.200", true, "192.168.100.200"},
        {"000.000.000.000", false, ""},          {"0.0.0.0", false, ""},
        {"100.000.020.007", true, "100.0.20.7"},
    };
    for (const Case& c : cases) {
        char text[16] = {};
        EXPECT_EQ(managementAddressText(vpdReply(c.in).data(), text, sizeof text), c.available)
            << c.in;
        if (c.available) {
            EXPECT_STREQ(text, c.out) << c.in;
        }
    }
    std::vector<uint8_t> ones(256, 0);
    std::memset(ones.data() + 8, 0xFF, 15);
    char text[16];
    EXPECT_FALSE(managementAddressText(ones.data(), text, sizeof text));
    EXPECT_FALSE(managementAddressText(std::vector<uint8_t>(256, 0).data(), text, sizeof text));
}

// Runs show with the given argument words and returns (status, output).
std::pair<uint32_t, std::string> runShow(std::vector<std::string> args) {
    std::vector<std::string> words{"show"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    ConsoleCapture console;
    const uint32_t status = expanderShowCommand(static_cast<uint32_t>(argv.size()), argv.data());
    return {status, console.text()};
}

class ShowTest : public ::testing::Test {
  protected:
    explicit ShowTest(uint32_t family = 2) : fake_(family) {
        std::snprintf(fake_.target()->name, sizeof fake_.target()->name, "QX-S24 B0");
        fake_.device()->firmwareVersion = 0x0A0B0C0D;
        fake_.device()->sasAddress = 0x53C2A1F000ABCDEFull;

        std::vector<uint8_t> mac(10, 0);
        const uint8_t macBytes[] = {0x00, 0x1B, 0xA1, 0xC2, 0x0D, 0xFE};
        std::memcpy(mac.data() + 4, macBytes, 6);
        fake_.setPage(0xFE05, mac);

        std::vector<uint8_t> ip(32, 0);
        const uint8_t address[] = {192, 168, 1, 10};
        std::memcpy(ip.data() + 4, address, 4);
        fake_.setPage(0xFF27, ip);

        std::vector<uint8_t> mfg(48, 0);
        const uint8_t revs[] = {1, 2, 3, 4, 0, 0, 0, 7};
        std::memcpy(mfg.data() + 8, revs, 8);
        putLe32(mfg.data(), 16, 26u | (3u << 8) | (9u << 12) | (14u << 17) | (5u << 22));
        std::memcpy(mfg.data() + 20, "QX-S24-PRODUCT", 14);
        std::memcpy(mfg.data() + 34, "PLATFORM-ALPHA", 14);
        fake_.setPage(0xFF0F, mfg);

        std::vector<uint8_t> serial(26, 0);
        std::memcpy(serial.data() + 8, "SN12345678", 10);
        fake_.setPage(0xFE02, serial);

        sensorSample(400);
    }
    void sensorSample(uint32_t raw) {
        fake_.setRegister(0x43400010, 1);
        fake_.setRegister(0x4340000C, raw);
    }
    FakeExpander fake_;
};

const char* const kMacAndIp =
    "MAC Address               :    00-1B-A1-C2-0D-FE\n"
    "IP Address                :    192.168.1.10\n";
const char* const kMfgPage =
    "Mfg. Associated FW Rev    :    01:02:03:04\n"
    "Mfg. Revision             :    00:00:00:07\n"
    "Product Name              :    QX-S24-PRODUCT\n"
    "Platform Name             :PLATFORM-ALPHA\n"
    "TimeStamp                 :    03/09/26  14:05\n"
    "Platform Serial           :    SN12345678\n";
const char* const kTemperature = "Temperature *C/*F         :    37.0 *C / 98.0 *F\n";

TEST_F(ShowTest, ManufacturingPageOfExactly48Bytes) {
    // The platform name runs to the end of the page: 14 characters here.
    EXPECT_EQ(runShow({"-mfg"}), std::make_pair(0u, std::string(kMacAndIp) + kMfgPage));
}

TEST_F(ShowTest, TemperatureSensorIsSwitchedOnAndRearmed) {
    fake_.setRegister(0x43400000, 0xFFFF);
    runShow({"-temp"});
    EXPECT_EQ(fake_.registerValue(0x43400000), 0xFFFFu & ~0x114u);
    EXPECT_EQ(fake_.registerValue(0x43400014) & 1, 1u);
    EXPECT_EQ(fake_.registerValue(0x43400004) & 1, 1u);
    // Control, three enables, then the re-arm after the sample.
    ASSERT_EQ(fake_.memoryWrites.size(), 5u);
    EXPECT_EQ(fake_.memoryWrites[4].first, 0x43400010u);

    sensorSample(400 + 1024 * 3);  // only the low ten bits count
    EXPECT_EQ(runShow({"-temp"}).second, kTemperature);
}

TEST_F(ShowTest, TemperatureNotAvailableAndUnreachable) {
    sensorSample(100);  // ready, but below the sensor floor
    EXPECT_EQ(runShow({"-temp"}),
              std::make_pair(0u, std::string("Temperature *C/*F         :    Not available \n\n")));

    fake_.failReads.insert(0x43400014);
    EXPECT_EQ(runShow({"-temp"}),
              std::make_pair(1u, std::string("Temperature *C/*F         :    \n")));
    // The whole show still succeeds.
    EXPECT_EQ(runShow({}).first, 0u);
}

TEST_F(ShowTest, ManufacturingItemsThatCannotBeRead) {
    fake_.setPage(0xFE05, std::vector<uint8_t>(9, 0));  // one byte short of a MAC
    fake_.pages.erase(0xFF27);
    fake_.setPage(0xFF0F, std::vector<uint8_t>(47, 0x41));  // too short: nothing
    fake_.setPage(0xFE02, std::vector<uint8_t>(25, 0x41));  // too short: no value
    EXPECT_EQ(runShow({"-mfg"}),
              std::make_pair(0u, std::string("MAC Address               :    "
                                             "Not Available\n"
                                             "IP Address                :    "
                                             "Not Available\n"
                                             "Platform Serial           :    \n")));
    fake_.pages.clear();
    EXPECT_EQ(runShow({"-mfg"}), std::make_pair(0u, std::string("MAC Address               :    "
                                                                "Not Available\n"
                                                                "IP Address                :    "
                                                                "Not Available\n")));
}

TEST_F(ShowTest, AddressAssignedByTheNetwork) {
    std::vector<uint8_t> ip(32, 0);
    ip[28] = 1;
    fake_.setPage(0xFF27, ip);
    const std::string label = "IP Address                :    ";

    fake_.inquiry = vpdReply("010.001.002.003");
    runShow({"-mfg"});
    const std::vector<uint8_t> inquiry{0x12, 0x01, 0x85, 0x00, 0xFF, 0x00};
    EXPECT_NE(std::find(fake_.commands.begin(), fake_.commands.end(), inquiry),
              fake_.commands.end());

    fake_.inquiry.clear();  // the INQUIRY fails
    EXPECT_NE(runShow({"-mfg"}).second.find(label + "Not Available \n"), std::string::npos);

    // A page too short to hold the address mode.
    fake_.setPage(0xFF27, std::vector<uint8_t>(28, 0));
    EXPECT_NE(runShow({"-mfg"}).second.find(label + "Not Available\n"), std::string::npos);
}

TEST_F(ShowTest, ArgumentRules) {
    const std::pair<uint32_t, std::string> invalid{1u, "ERROR: Invalid argument(s) specified.\n"};
    EXPECT_EQ(runShow({"rev"}), invalid);
    setCurrentTarget(nullptr);
    EXPECT_EQ(runShow({"-rev"}),
              std::make_pair(1u, std::string("ERROR: Please select valid device. Device is not "
                                             "selected.\n")));
}

}  // namespace
