// An independent client: sg3_utils run under the launcher against the
// default topology. Skipped when sg3_utils is not installed or the topology
// lists no enclosure services node.
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emu_core_support.h"

namespace {

using emutest::lines;
using emutest::runClient;
using emutest::runEmu;

bool haveSg3Utils() {
    for (const char* tool : {"sg_inq", "sg_raw", "sg_write_buffer"}) {
        bool found = false;
        for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
            found = found || access((std::string(dir) + tool).c_str(), X_OK) == 0;
        }
        if (!found)
            return false;
    }
    return true;
}

// The first listed node whose SCSI identity says enclosure services (13).
std::string firstExpanderNode() {
    const CliRun list = runClient({"list"});
    for (const auto& line : lines(list.out)) {
        if (line.rfind("entry sg", 0) != 0)
            continue;
        const std::string n = line.substr(8);
        if (runClient({"probe", n}).out.find(" type 13 ") != std::string::npos)
            return n;
    }
    return {};
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Sg3UtilsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!haveSg3Utils())
            GTEST_SKIP() << "sg3_utils is not installed";
        node_ = firstExpanderNode();
        if (node_.empty())
            GTEST_SKIP() << "the default topology lists no expander";
        path_ = "/dev/sg" + node_;
        state_ = makeTempDir();
    }
    CliRun run(const std::vector<std::string>& command, bool fresh = false) {
        std::vector<std::string> options{"--state", state_};
        if (fresh)
            options.push_back("--fresh");
        return runEmu(options, command);
    }

    std::string node_, path_, state_;
};

TEST_F(Sg3UtilsTest, InquiryShowsAnEnclosureServicesDevice) {
    CliRun inq = run({"sg_inq", path_});
    EXPECT_EQ(inq.status, 0) << inq.err;
    EXPECT_NE(inq.out.find("PDT=13"), std::string::npos) << inq.out;
    EXPECT_NE(inq.out.find("enclosure services device"), std::string::npos) << inq.out;

    inq = run({"sg_inq", "-p", "0x85", path_});
    EXPECT_EQ(inq.status, 0) << inq.err;
    EXPECT_NE(inq.out.find("Management network addresses"), std::string::npos) << inq.out;
}

TEST_F(Sg3UtilsTest, RawReadsInDescriptorAndDataModes) {
    // Descriptor of flash region 0x89: offset boundary and a non-zero capacity.
    CliRun raw = run(
        {"sg_raw", "-r", "4", path_, "3c", "03", "89", "00", "00", "00", "00", "00", "04", "00"});
    EXPECT_EQ(raw.status, 0) << raw.err;
    EXPECT_NE(raw.err.find("SCSI Status: Good"), std::string::npos) << raw.err;
    EXPECT_NE(raw.err.find("Received 4 bytes"), std::string::npos) << raw.err;

    const std::string out = makeTempDir() + "/region.bin";
    raw = run({"sg_raw", "-r", "64", "-o", out, path_, "3c", "02", "89", "00", "00", "00", "00",
               "00", "40", "00"});
    EXPECT_EQ(raw.status, 0) << raw.err;
    EXPECT_EQ(readFile(out).size(), 64u);

    // An unknown buffer id is refused with ILLEGAL REQUEST.
    raw = run(
        {"sg_raw", "-r", "4", path_, "3c", "03", "5a", "00", "00", "00", "00", "00", "04", "00"});
    EXPECT_NE(raw.status, 0);
    EXPECT_NE(raw.err.find("Illegal Request"), std::string::npos) << raw.err;
}

TEST_F(Sg3UtilsTest, WriteInOneProcessReadsBackInAnother) {
    std::string pattern(512, '\0');
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<char>(i * 13 + 5);
    const std::string in = writeTempFile("pattern.bin", pattern);
    const CliRun write =
        run({"sg_write_buffer", "--mode=2", "--id=0x89", "--in=" + in, "--length=512", path_});
    ASSERT_EQ(write.status, 0) << write.out << write.err;

    const std::string out = makeTempDir() + "/back.bin";
    const std::vector<std::string> readBack{"sg_raw", "-r", "512", "-o", out,  path_, "3c", "02",
                                            "89",     "00", "00",  "00", "00", "02",  "00", "00"};
    CliRun read = run(readBack);
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(readFile(out), pattern);

    // --fresh forgets what was written.
    read = run(readBack, true);
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_NE(readFile(out), pattern);
}

}  // namespace
