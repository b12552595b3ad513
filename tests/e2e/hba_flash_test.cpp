// HBA dl end to end under the emulator: firmware and BIOS files made by the
// emulator's image builders are validated, downloaded, read back and the
// controller reset; the request log shows what reached the controller.
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "controller/ctl_images.h"
#include "harness.h"
#include "images/hba_images.h"

namespace {

using qemu::images::HbaBytes;
using qemu::images::HbaFirmwareOptions;
using qemu::images::NvdataOptions;
using qemu::images::OptionRomOptions;
using qemu::images::RomComponentOptions;
using qemu::images::RomImageOptions;

// Controller 1: newest family (0x0630, header form B); controller 2: second
// generation (0x0521, form A, IT firmware).
const char* const kAdapters = R"(
  {"node": "/dev/xol3ctl", "ioc": 0, "deviceId": "0x0630", "revision": 1,
   "wwid": "0x53C2A1F000010000", "firmwareVersion": "0x10000300",
   "nvdataVersion": "0x10010005", "biosVersion": "0x08240100", "uefiVersion": "0x12000400",
   "faults": [FAULTS1]},
  {"node": "/dev/xol3ctl", "ioc": 1, "deviceId": "0x0521", "revision": 2,
   "wwid": "0x53C2A1F000020000", "firmwareVersion": "0x0F000200",
   "nvdataVersion": "0x0F010000", "productId": "PRODUCT2", "faults": []EXTRA2})";

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

std::string topology(const std::string& faults = "", const std::string& product2 = "0x2213",
                     const std::string& extra2 = "") {
    std::string adapters = replaceAll(kAdapters, "FAULTS1", faults);
    adapters = replaceAll(adapters, "PRODUCT2", product2);
    adapters = replaceAll(adapters, "EXTRA2", extra2);
    return writeTempFile(
        "topology.json",
        R"({"scsi": {"listing": [], "expanders": []}, "controllers": {"adapters": [)" + adapters +
            "]}}");
}

std::string writeImage(const std::string& name, const HbaBytes& bytes) {
    return writeTempFile(name, std::string(bytes.begin(), bytes.end()));
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

[[maybe_unused]] size_t countLines(const std::string& text, const std::string& needle) {
    size_t n = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        n += line.find(needle) != std::string::npos;
    return n;
}

struct FlashRun {
    CliRun cli;
    std::string log;
};

FlashRun dl(const std::string& topo, const std::string& index, std::vector<std::string> words,
            const std::string& input = "", const std::string& state = "") {
    CliOptions options;
    options.emulated = true;
    options.topology = topo;
    options.stateDir = state;
    const std::string log = makeTempDir() + "/requests.log";
    options.emuArgs = {"--log", log};
    options.args = {"-i", index};
    options.args.insert(options.args.end(), words.begin(), words.end());
    options.input = input;
    FlashRun r{runCli(options), ""};
    r.log = readText(log);
    return r;
}

HbaFirmwareOptions newestFirmware() {
    HbaFirmwareOptions o;
    o.formB = true;
    o.supportedDevices = {0x0630};
    o.firmwareVersion = 0x10000400;
    o.nvdataVersion = 0x10020000;
    o.nvdata = {NvdataOptions{}};
    o.nvdata[0].version = 0x10020000;
    o.size = 70000;
    return o;
}

HbaFirmwareOptions olderFirmware() {
    HbaFirmwareOptions o;
    o.supportedDevices = {0x0520, 0x0528};
    o.interfaceVersion = 0x02050000;
    o.firmwareVersion = 0x0F000300;
    o.nvdataVersion = 0x0F010000;
    o.nvdata = {NvdataOptions{}};
    o.nvdata[0].version = 0x0F010000;
    o.nvdata[0].deviceId = 0x0521;
    o.size = 40000;
    return o;
}

class HbaFlash : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(emuPath().c_str(), X_OK) != 0)
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

// Lines shared by the firmware runs.
const std::string kStart = "\n Executing Operation : Flash Firmware Image \n\n";
const std::string kSignature = " Firmware image have a valid signature\n";
const std::string kFileChecks =
    kSignature + " Firmware image compatible with Controller\n Valid NVDATA image found.\n";
const std::string kNvdataCheck = " Checking for a compatible NVData image...\n";
const std::string kNvdataOk =
    kNvdataCheck +
    " NVDATA Device ID and Chip Revision match verified.\n NVDATA version compatible\n";
const std::string kOlderChecks =
    " Valid Initialization image verified\n Valid Bootloader image verified.\n";
const std::string kWritten =
    " Firmware download complete \n Verifying the download\n Adapter successfully reset\n"
    "Adapter flashed successfully\n";
const std::string kFailed = "ERROR: Firmware validation failed\n";
const std::string kExitFailure = "ERROR: ERROR CODE 02020000\n";

struct FirmwareCase {
    const char* name;
    const char* index;
    HbaFirmwareOptions image;
    std::vector<std::string> words;  // "FILE" stands for the image file
    std::string input;
    std::string faults;    // of controller 1
    std::string product2;  // product ID of controller 2's flash firmware
    std::string expected;  // after the banner
    size_t downloads;      // download requests that reached the controller
    size_t resets;
};

std::vector<FirmwareCase> firmwareCases() {
    std::vector<FirmwareCase> cases;
    const std::vector<std::string> silent = {"dl", "-s", "-fw", "FILE"};
    auto add = [&](const char* name, const char* index, HbaFirmwareOptions image,
                   std::vector<std::string> words, std::string expected, size_t downloads = 0,
                   size_t resets = 0) {
        cases.push_back(FirmwareCase{name, index, std::move(image), std::move(words), "", "",
                                     "0x2213", std::move(expected), downloads, resets});
        return &cases.back();
    };

    add("silent, newest family", "1", newestFirmware(), silent,
        kStart + kFileChecks + kNvdataOk + kWritten, 1, 1);
    add("silent, older family", "2", olderFirmware(), {"dl", "-fw", "FILE", "-s"},
        kStart + kFileChecks + kNvdataOk + kOlderChecks + kWritten, 1, 1);
    const std::string details =
        "\nCurrent Firmware Details :\n"
        "      Firmware Version     : 16.00.03.00\n"
        "      XIF Version          : 02.06\n"
        "      Nvdata Major Version : 16.01\n"
        "Replace with Firmware Details : \n"
        "      Firmware Version     : 16.00.04.00\n"
        "      XIF Version          : 02.06\n"
        "      Nvdata Major Version : 16.02\n";
    const std::string question = "Do you want to continue to Download (Yes/No) : ";
    add("asked: invalid, then Yes", "1", newestFirmware(), {"dl", "-fw", "FILE"},
        kStart + kFileChecks + kNvdataOk + details + question + "Invalid input specified.\n" +
            question + " Beginning firmware download\n" + kWritten,
        1, 1)
        ->input = "y\nYes\n";
    add("asked: No", "1", newestFirmware(), {"dl", "-fw", "FILE"},
        kStart + kFileChecks + kNvdataOk + details + question +
            " User cancelled. Download operation not performed.\n")
        ->input = "no\n";
    add("asked with standard input closed", "1", newestFirmware(), {"dl", "-fw", "FILE"},
        kStart + kFileChecks + kNvdataOk + details + question +
            "Invalid input string specified.\n"
            " User cancelled. Download operation not performed.\n" +
            kExitFailure);
    add("IOC Facts flagged while asking", "1", newestFirmware(), {"dl", "-fw", "FILE"},
        kStart + kFileChecks + kNvdataOk + "\nCurrent Firmware Details :\n" +
            "ERROR: IOC Status failed.\n" + kExitFailure)
        ->faults = R"({"kind": "iocFactsStatus", "status": 4, "skip": 2})";
    add("IO Unit page 0 unreadable while asking", "1", newestFirmware(), {"dl", "-fw", "FILE"},
        kStart + kFileChecks + kNvdataOk +
            "\nCurrent Firmware Details :\n"
            "      Firmware Version     : 16.00.03.00\n"
            "      XIF Version          : 02.06\n"
            "ERROR: Unable to get the IO Unit Page 0.\n" +
            details.substr(details.find("Replace")) + question + " Beginning firmware download\n" +
            kWritten,
        1, 1);
    cases.back().input = "yes\n";
    cases.back().faults = R"({"kind": "configStatus", "pageType": 0, "pageNumber": 0,
                              "status": 34})";

    HbaFirmwareOptions image = newestFirmware();
    image.badSignature = true;
    add("bad signature", "1", image, silent,
        kStart + "ERROR: Firmware Image does not have a valid Signature\n" + kFailed +
            kExitFailure);
    image = newestFirmware();
    image.badSum = true;
    add("a word raised by one", "1", image, silent,
        kStart + kSignature + "ERROR: Firmware image checksum failed : 00000001 \n" + kFailed +
            kExitFailure);
    image = newestFirmware();
    image.supportedDevices = {0x0520, 0x0410};
    image.deviceCountOverrun = true;  // claims 255 entries, holds two and a padding slot
    add("unsupported device, list shown only inside the image", "1", image, silent,
        kStart + kSignature +
            "ERROR: Firmware image does not support target, Adapter Device ID 630\n"
            "Supported device ID's are 0x520 \nSupported device ID's are 0x410 \n"
            "Supported device ID's are 0x0 \n"
            "ERROR: Firmware image not compatible with Controller\n" +
            kFailed + kExitFailure);
    image = newestFirmware();
    image.nvdata.clear();
    add("no NVDATA image", "1", image, silent,
        kStart + kSignature + " Firmware image compatible with Controller\n" +
            "ERROR: Firmware image does not have a valid NVDATA image\n" + kFailed + kExitFailure);

    image = newestFirmware();
    NvdataOptions nv;
    nv.version = 0x10020000;
    image.nvdata = {nv, nv, nv, nv, nv, nv};
    image.nvdata[0].badSignature = true;
    image.nvdata[1].badProductSignature = true;
    image.nvdata[2].productBlockOutside = true;
    image.nvdata[3].deviceId = 0x0410;
    image.nvdata[4].revision = 5;
    image.nvdata[5].revision = 3;
    image.nvdata[5].upperRevision = 4;
    add("every NVDATA reason", "1", image, silent,
        kStart + kFileChecks + kNvdataCheck +
            "ERROR: Invalid NVDATA signature in Firmware image from File\n"
            "ERROR: Invalid NVDATA PROD_ID signature in Firmware image from File\n"
            "ERROR: Invalid NVDATA PROD_ID signature in Firmware image from File\n"
            "ERROR: NVDATA image does not match Controller Device ID. Device ID - "
            "NVDATA:0x410 Controller:0x630 \n"
            "ERROR: NVDATA image does not match Controller Chip Revision.Chip Revision - "
            "NVDATA:0x5 Controller:0x1\n"
            "ERROR: NVDATA image does not match Controller Chip Revision.NVDATA Chip Revision "
            "Range: 0x3 to 0x4Controller Chip Revision: 0x1 \n"
            "ERROR: No compatible NVDATA image(s) found.\n"
            "ERROR: NVDATA compatibility check failed.\n" +
            kFailed + kExitFailure);
    image = newestFirmware();
    image.nvdata[0].version = 0x10010000;  // equal upper half, smaller lower half
    image.nvdata.insert(image.nvdata.begin(), NvdataOptions{});
    image.nvdata[0].deviceId = 0x0520;  // skipped: the second image is taken
    add("equal NVDATA upper half passes", "1", image, {"dl", "-s", "-nr", "-nv", "-fw", "FILE"},
        kStart + kFileChecks + kNvdataOk +
            " Firmware download complete \n Post Validation not performed, flag been set\n"
            " Adapter Reset not performed, user flag been set\nAdapter flashed successfully\n",
        1, 0);
    image = newestFirmware();
    image.nvdata[0].version = 0x0F020000;
    add("NVDATA downgrade", "1", image, silent,
        kStart + kFileChecks + kNvdataCheck +
            " NVDATA Device ID and Chip Revision match verified.\n"
            "ERROR: Cannot downgrade NVDATA version 10.01.00.05 to 0f.02.00.00.\n"
            "ERROR: NVDATA compatibility check failed.\n" +
            kFailed + kExitFailure);
    image = newestFirmware();
    image.vendorId = 0x1111;
    image.productId = 0x3333;
    add("vendor and product both differ", "1", image, silent,
        kStart + kFileChecks + kNvdataOk +
            "Image Vendor ID 1111, Flash Vendor ID 1f3a\n"
            "Image Product ID 3333, Flash Product ID 2213\n"
            "ERROR: Product ID and Vendor ID match FAILED.\n" +
            kFailed + kExitFailure);
    add("IT over IR", "2", olderFirmware(), silent,
        kStart + kFileChecks + kNvdataOk +
            "ERROR: IT firmware can not be flashed on IR firmware\n" + kFailed + kExitFailure)
        ->product2 = "0x2713";
    image = olderFirmware();
    image.productId = 0x2713;
    add("IR over IT", "2", image, silent,
        kStart + kFileChecks + kNvdataOk +
            "ERROR: IR firmware can not be flashed on IT firmware\n" + kFailed + kExitFailure);
    image = olderFirmware();
    image.bootloader = false;
    image.loopingChain = true;  // the search for the bootloader must end
    add("looping chain without a bootloader", "2", image, silent,
        kStart + kFileChecks + kNvdataOk + " Valid Initialization image verified\n" +
            "ERROR: Firmware image does not have a valid bootloader image.\n" + kFailed +
            kExitFailure);
    image = olderFirmware();
    image.overlongChain = true;  // the initialization image runs past the file
    add("overlong chain", "2", image, silent,
        kStart + kFileChecks + kNvdataOk +
            "ERROR: Firmware image does not have a valid initialization image.\n" + kFailed +
            kExitFailure);
    image = newestFirmware();
    image.oddTail = 3;
    add("three-byte tail is zero-padded", "1", image, silent,
        kStart + kFileChecks + kNvdataOk + kWritten, 1, 1);

    add("corrupted in flash", "1", newestFirmware(), silent,
        kStart + kFileChecks + kNvdataOk +
            " Firmware download complete \n Verifying the download\n" +
            "ERROR: Firmware/Bios image does not match with uploaded image, download the image "
            "again\nERROR:  Downloaded image is corrupted \n" +
            kExitFailure,
        1, 0)
        ->faults = R"({"kind": "flashCorruption", "imageType": 1, "offset": 69999})";
    // The region read back holds 1000 bytes fewer than were written.
    add("region read back short", "1", newestFirmware(), silent,
        kStart + kFileChecks + kNvdataOk +
            " Firmware download complete \n Verifying the download\n" +
            "ERROR: Firmware/Bios image does not match with uploaded image, download the image "
            "again\nERROR:  Downloaded image is corrupted \n" +
            kExitFailure,
        1, 0)
        ->faults = R"({"kind": "uploadSize", "imageType": 5, "size": 69000})";
    add("download refused", "1", newestFirmware(), silent,
        kStart + kFileChecks + kNvdataOk +
            "ERROR: IOC status for firmware/bios download request 7\n"
            "ERROR: Log Info for firmware/bios download request 31170000\n"
            "ERROR: Firmware download failed \n" +
            kExitFailure)
        ->faults =
        R"({"kind": "frameStatus", "function": 9, "status": 7, "logInfo": "0x31170000"})";
    add("download not delivered", "1", newestFirmware(), silent,
        kStart + kFileChecks + kNvdataOk + "ERROR: Firmware/Bios download failed - 34\n" +
            "ERROR: Firmware download failed \n" + kExitFailure)
        ->faults = R"({"kind": "passthroughErrno", "function": 9, "errno": 5})";
    add("reset refused", "1", newestFirmware(), silent,
        kStart + kFileChecks + kNvdataOk +
            " Firmware download complete \n Verifying the download\n"
            " Adapter Reset Failed with ffffffff\nERROR: Adapter Reset failed\n" +
            kExitFailure,
        1, 0)
        ->faults = R"({"kind": "hardResetErrno", "errno": 5})";
    add("controller does not come back", "1", newestFirmware(), silent,
        kStart + kFileChecks + kNvdataOk +
            " Firmware download complete \n Verifying the download\n"
            " Adapter Reset Failed with 34\nERROR: Adapter Reset failed\n" +
            kExitFailure,
        1, 1)
        ->faults = R"({"kind": "noReturnAfterReset"})";
    add(
        "failing firmware leaves the BIOS alone", "1",
        image =
            [] {
                HbaFirmwareOptions o = newestFirmware();
                o.badSum = true;
                return o;
            }(),
        {"dl", "-bios", "bios.rom", "-s", "-fw", "FILE"},
        kStart + kSignature + "ERROR: Firmware image checksum failed : 00000001 \n" + kFailed +
            kExitFailure);
    return cases;
}

TEST_F(HbaFlash, FirmwareDownload) {
    for (const FirmwareCase& c : firmwareCases()) {
        SCOPED_TRACE(c.name);
        const std::string file = writeImage("fw.bin", qemu::images::buildHbaFirmware(c.image));
        std::vector<std::string> words;
        for (const std::string& w : c.words)
            words.push_back(w == "FILE" ? file : w);
        const FlashRun r = dl(topology(c.faults, c.product2), c.index, words, c.input);
        EXPECT_EQ(r.cli.out, std::string(kBanner) + c.expected);
        EXPECT_EQ(r.cli.status == 0, c.expected.find(kExitFailure) == std::string::npos);
        const std::string ioc = c.index == std::string("1") ? "ioc0 " : "ioc1 ";
        EXPECT_EQ(countLines(r.log, ioc + "download type 1 "), c.downloads);
        EXPECT_EQ(countLines(r.log, ioc + "hard reset"), c.resets);
        EXPECT_EQ(countLines(r.log, ioc + "download type 2 "), 0u);
        // Validation failures of the file alone never read the flash.
        if (c.expected.find(kNvdataCheck) == std::string::npos) {
            EXPECT_EQ(countLines(r.log, ioc + "upload type 1 "), 0u);
        }
    }
}

// A flash seeded from a builder file: the running versions follow its header
// and the checks compare against it.
TEST_F(HbaFlash, SeededFlashFirmware) {
    HbaFirmwareOptions seeded = olderFirmware();
    seeded.productId = 0x2713;  // IR
    seeded.firmwareVersion = 0x0F050000;
    seeded.nvdataVersion = 0x0F030000;
    seeded.nvdata[0].version = 0x0F030000;
    const std::string seedFile = writeImage("seed.bin", qemu::images::buildHbaFirmware(seeded));
    const std::string t =
        topology("", "0x2713", R"(, "regionFiles": {"1": ")" + seedFile + R"("})");

    HbaFirmwareOptions ir = olderFirmware();
    ir.productId = 0x2713;
    ir.nvdata[0].version = 0x0F030001;
    FlashRun r =
        dl(t, "2", {"dl", "-fw", writeImage("ir.bin", qemu::images::buildHbaFirmware(ir))}, "no\n");
    EXPECT_EQ(r.cli.out, std::string(kBanner) + kStart + kFileChecks + kNvdataOk + kOlderChecks +
                             "\nCurrent Firmware Details :\n"
                             "      Firmware Version     : 15.05.00.00\n"
                             "      XIF Version          : 02.05\n"
                             "      Nvdata Major Version : 15.03\n"
                             "Replace with Firmware Details : \n"
                             "      Firmware Version     : 15.00.03.00\n"
                             "      XIF Version          : 02.05\n"
                             "      Nvdata Major Version : 15.01\n"
                             "Do you want to continue to Download (Yes/No) : "
                             " User cancelled. Download operation not performed.\n");
    EXPECT_EQ(r.cli.status, 0);

    // The seeded NVDATA is newer than the default image's.
    r = dl(
        t, "2",
        {"dl", "-s", "-fw", writeImage("it.bin", qemu::images::buildHbaFirmware(olderFirmware()))});
    EXPECT_EQ(r.cli.out, std::string(kBanner) + kStart + kFileChecks + kNvdataCheck +
                             " NVDATA Device ID and Chip Revision match verified.\n"
                             "ERROR: Cannot downgrade NVDATA version 0f.03.00.00 to 0f.01.00.00.\n"
                             "ERROR: NVDATA compatibility check failed.\n" +
                             kFailed + kExitFailure);

    // A region file that cannot be read is a broken topology.
    r = dl(topology("", "0x2213", R"(, "regionFiles": {"2": "/nonexistent/boot.rom"})"), "2",
           {"dl", "-s", "-fw", seedFile});
    EXPECT_EQ(r.cli.status, 2);
    EXPECT_EQ(r.cli.out, "");
}

TEST_F(HbaFlash, SilentFirmwareRequestCounts) {
    const std::string file = writeImage("fw.bin", qemu::images::buildHbaFirmware(newestFirmware()));
    FlashRun r = dl(topology(), "1", {"dl", "-s", "-fw", file});
    ASSERT_EQ(r.cli.status, 0);
    // 70000 bytes in flash and in the file: a size query and three chunks each.
    const std::string after = r.log.substr(r.log.find("ioc0 upload type 1 offset 0 chunk 0"));
    EXPECT_EQ(countLines(after, "ioc0 upload type 1 "), 4u);
    EXPECT_EQ(countLines(after, "ioc0 upload type 1 offset 65536 chunk 4464"), 1u);
    EXPECT_EQ(countLines(after, "ioc0 download type 1 offset 0 chunk 70000"), 1u);
    EXPECT_EQ(countLines(after, "ioc0 upload type 5 "), 4u);
    EXPECT_EQ(countLines(after, "ioc0 function 0x03 "), 1u);
    EXPECT_EQ(countLines(after, "ioc0 config "), 0u);
    // Asked, one IOC Facts and the two IO Unit page 0 requests more.
    r = dl(topology(), "1", {"dl", "-fw", file}, "yes\n");
    ASSERT_EQ(r.cli.status, 0);
    const std::string asked = r.log.substr(r.log.find("ioc0 upload type 1 offset 0 chunk 0"));
    EXPECT_EQ(countLines(asked, "ioc0 function 0x03 "), 2u);
    EXPECT_EQ(countLines(asked, "ioc0 config "), 2u);
}

TEST_F(HbaFlash, ArgumentErrors) {
    struct Case {
        std::vector<std::string> words;
        std::string error;
    } cases[] = {
        {{"dl"}, "Invalid command sytax. Specify the Download operation argument."},
        {{"dl", "-s", "-nr", "-nv", "-fw", "a", "-bios", "b", "-x"},
         "Invalid command sytax. Specify the Download operation argument."},
        {{"dl", "-s", "-s", "-fw", "a.bin"}, "Multiple -s arguments specified"},
        {{"dl", "-fw"}, "Firmware file name should be specified"},
        {{"dl", "-fw", "-s"}, "Firmware file name should be specified"},
        {{"dl", "-bios"}, "BIOS file name should be specified"},
        {{"dl", "-x"}, "Invalid argument '-x' specified"},
        {{"dl", "-s", "-nv"}, "-fw or -bios argument should be specified along with other flags"},
    };
    {
        const FlashRun r = dl(topology(), "1", {"dl", "-s", "-fw", "./-s"});
        EXPECT_EQ(r.cli.out, std::string(kBanner) +
                                 "ERROR: Failed to open the specified file, please check the path "
                                 "or name of the file\nERROR: File Open/Read has a problem \n\n" +
                                 kExitFailure);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.back());
        const FlashRun r = dl(topology(), "1", c.words);
        EXPECT_EQ(r.cli.out, std::string(kBanner) + "ERROR: " + c.error + "\n" + kExitFailure);
        EXPECT_EQ(countLines(r.log, "ioc0 upload type 1 "), 0u);
        EXPECT_EQ(countLines(r.log, "ioc0 download "), 0u);
    }
}

// BIOS files.
RomImageOptions x86Image(uint32_t version) {
    RomImageOptions o;
    o.codeType = 0;
    o.version = version;
    return o;
}

RomImageOptions efiImage(uint32_t version) {
    RomImageOptions o;
    o.codeType = 3;
    o.version = version;
    o.blocks = 6;
    return o;
}

RomImageOptions fcodeImage(uint32_t version) {
    RomImageOptions o;
    o.codeType = 1;
    o.version = version;
    o.blocks = 2;
    return o;
}

std::string romFile(const OptionRomOptions& o) {
    return writeImage("bios.rom", qemu::images::buildOptionRom(o));
}

const std::string kBiosStart =
    "\n Executing Operation: Flash BIOS Image \n\n Validating BIOS image\n Validating BIOS Image\n";
const std::string kBiosValid =
    kBiosStart +
    " BIOS Header signature is valid.\n BIOS image has a valid Checksum.\n"
    " BIOS PCI Structure signature valid.\n BIOS image compatible with the SAS Controller.\n";
const std::string kBiosWritten =
    " BIOS image flashed\n Verifying the download\nBIOS flashed successfully\n";
const std::string kBiosQuestion = "Do you want to continue to download (Yes/No) : ";
const std::string kBiosFailed = "ERROR: BIOS image validation failed\n";

// One controller's BIOS region through a sequence of downloads: what each run
// shows of the flash is what the previous run left there.
TEST_F(HbaFlash, BiosMergeKeepsWhatTheFileDoesNotReplace) {
    const std::string t = topology();
    const std::string state = makeTempDir();
    OptionRomOptions x86Only;
    x86Only.images = {x86Image(0x09000100)};
    FlashRun r = dl(t, "1", {"dl", "-bios", romFile(x86Only)}, "yes\n", state);
    EXPECT_EQ(r.cli.out, std::string(kBanner) + kBiosValid +
                             " \n      BIOS Version in flash : 08.36.01.00\n"
                             "      BIOS Version in file  : 09.00.01.00\n" +
                             kBiosQuestion + " Beginning to download BIOS\n" + kBiosWritten);
    EXPECT_EQ(r.cli.status, 0);
    // The file's x86 image and the EFI image kept from flash.
    EXPECT_EQ(countLines(r.log, "ioc0 download type 2 offset 0 chunk 14336"), 1u);

    // The x86 image is the file's now and the EFI image is still there.
    OptionRomOptions both;
    both.images = {x86Image(0x09000200), efiImage(0x13000100)};
    r = dl(t, "1", {"dl", "-bios", romFile(both)}, "yes\nno\n", state);
    EXPECT_EQ(r.cli.out, std::string(kBanner) + kBiosValid +
                             " \n      BIOS Version in flash : 09.00.01.00\n"
                             "      BIOS Version in file  : 09.00.02.00\n" +
                             kBiosQuestion + " Beginning to download BIOS\n" +
                             "\n     UEFI Version in flash : 18.00.04.00\n"
                             "      UEFI Version in file  : 19.00.01.00\n" +
                             kBiosQuestion + " User cancelled. Download operation not performed\n");
    EXPECT_EQ(r.cli.status, 0);
    EXPECT_EQ(countLines(r.log, "ioc0 download "), 0u);

    // Silent: no versions or questions, the progress lines still show.
    r = dl(t, "1", {"dl", "-bios", romFile(both), "-s", "-nv"}, "", state);
    EXPECT_EQ(r.cli.out, std::string(kBanner) + kBiosValid + " Beginning to download BIOS\n" +
                             " Beginning to download EFI BIOS\n BIOS image flashed\n"
                             " Post Validation not performed, flag has been set\n"
                             "BIOS flashed successfully\n");
    EXPECT_EQ(r.cli.status, 0);

    // An FCODE file keeps the x86 and EFI images of the flash and adds its own.
    OptionRomOptions fcode;
    fcode.images = {fcodeImage(0x01020304)};
    r = dl(t, "1", {"dl", "-s", "-bios", romFile(fcode)}, "", state);
    EXPECT_EQ(r.cli.out, std::string(kBanner) + kBiosValid + kBiosWritten);
    EXPECT_EQ(countLines(r.log, "ioc0 download type 2 offset 0 chunk 6144"), 1u);
    // Not newer than the flash's: shown, skipped, success without a download.
    fcode.images = {fcodeImage(0x01020304)};
    r = dl(t, "1", {"dl", "-bios", romFile(fcode)}, "", state);
    EXPECT_EQ(r.cli.out, std::string(kBanner) + kBiosValid +
                             "      FCODE Version in flash: 01020304\n\n"
                             "      FCODE Version from file: 01020304\n\n"
                             " Skipping flash since file version is not greater than existing.\n");
    EXPECT_EQ(r.cli.status, 0);
    EXPECT_EQ(countLines(r.log, "ioc0 download "), 0u);

    // The x86 image written first is still there, and the question now shows it.
    r = dl(t, "1", {"dl", "-bios", romFile(x86Only)}, "", state);
    EXPECT_EQ(r.cli.out, std::string(kBanner) + kBiosValid +
                             " \n      BIOS Version in flash : 09.00.02.00\n"
                             "      BIOS Version in file  : 09.00.01.00\n" +
                             kBiosQuestion + "Invalid input string specified.\n" +
                             " User cancelled. Download operation not performed\n" + kExitFailure);
    EXPECT_EQ(countLines(r.log, "ioc0 download "), 0u);
}

// A refused size query is no blank region, but the BIOS side goes on without
// the flash's images; firmware and BIOS in one command.
TEST_F(HbaFlash, FirmwareThenBiosWithoutTheFlashBios) {
    OptionRomOptions rom;
    rom.images = {x86Image(0x09000100)};
    const std::string fw = writeImage("fw.bin", qemu::images::buildHbaFirmware(newestFirmware()));
    const FlashRun r =
        dl(topology(R"({"kind": "frameStatus", "function": 18, "status": 7, "skip": 7,
                        "times": 1})"),
           "1", {"dl", "-bios", romFile(rom), "-fw", fw, "-s", "-nv"});
    EXPECT_EQ(r.cli.out, std::string(kBanner) + kStart + kFileChecks + kNvdataOk +
                             " Firmware download complete \n"
                             " Post Validation not performed, flag been set\n"
                             " Adapter successfully reset\nAdapter flashed successfully\n" +
                             kBiosValid +
                             "ERROR: IOC status for firmware upload request 7 in size\n"
                             " Beginning to download BIOS\n BIOS image flashed\n"
                             " Post Validation not performed, flag has been set\n"
                             "BIOS flashed successfully\n");
    EXPECT_EQ(r.cli.status, 0);
    EXPECT_EQ(countLines(r.log, "ioc0 download type 2 offset 0 chunk 2048"), 1u);
}

// What a controller holds in flash passes the checks when written back.
TEST_F(HbaFlash, TheControllersOwnImagesDownloadAgain) {
    qemu::ctl::ControllerSetup newest;
    newest.deviceId = 0x0630;
    newest.nvdataVersion = 0x10010005;
    qemu::ctl::ControllerSetup older = newest;
    older.deviceId = 0x0521;
    older.revision = 2;
    older.firmwareVersion = 0x0F000200;
    older.nvdataVersion = 0x0F010000;
    const std::string t = topology();
    for (const auto& [index, setup] : {std::pair{"1", newest}, std::pair{"2", older}}) {
        SCOPED_TRACE(index);
        const std::string file = writeImage("cur.bin", qemu::ctl::buildFirmwareImage(setup));
        const FlashRun r = dl(t, index, {"dl", "-s", "-fw", file});
        EXPECT_EQ(r.cli.status, 0);
        EXPECT_NE(r.cli.out.find("Adapter flashed successfully\n"), std::string::npos) << r.cli.out;
    }
    // The boot image too: written back whole, byte for byte.
    const qemu::ctl::Bytes boot = qemu::ctl::buildBootImage(newest);
    const FlashRun r = dl(t, "1", {"dl", "-s", "-bios", writeImage("boot.rom", boot)});
    EXPECT_EQ(r.cli.out, std::string(kBanner) + kBiosValid + " Beginning to download BIOS\n" +
                             " Beginning to download EFI BIOS\n" + kBiosWritten);
    EXPECT_EQ(
        countLines(r.log, "ioc0 download type 2 offset 0 chunk " + std::to_string(boot.size())),
        1u);
}

TEST_F(HbaFlash, BiosFailures) {
    struct Case {
        const char* name;
        OptionRomOptions rom;
        std::string faults;
        std::string expected;
    };
    OptionRomOptions good;
    good.images = {x86Image(0x09000100)};
    std::vector<Case> cases;
    OptionRomOptions rom = good;
    rom.images[0].badSignature = true;
    cases.push_back({"signature", rom, "",
                     kBiosStart + "ERROR: BIOS Header signature is invalid. \n\n" + kBiosFailed});
    rom = good;
    rom.badSum = true;
    cases.push_back({"checksum", rom, "",
                     kBiosStart + " BIOS Header signature is valid.\n" +
                         "ERROR: BIOS image Checksum Failed: 00000001\n" + kBiosFailed});
    rom = good;
    rom.images[0].pcirOutside = true;
    cases.push_back({"PCIR structure", rom, "",
                     kBiosStart +
                         " BIOS Header signature is valid.\n BIOS image has a valid Checksum.\n" +
                         "ERROR: BIOS PCI Structure signature invalid.\n" + kBiosFailed});
    rom = good;
    rom.images[0].deviceId = 0x1234;
    cases.push_back(
        {"foreign device", rom, "",
         kBiosStart + " BIOS Header signature is valid.\n BIOS image has a valid Checksum.\n" +
             " BIOS PCI Structure signature valid.\n" +
             "ERROR: BIOS image not compatible with the SAS Controller.\n" + kBiosFailed});
    cases.push_back(
        {"flash unreadable after its size", good,
         R"({"kind": "frameStatus", "function": 18, "status": 7, "skip": 4,
                         "times": 1})",
         kBiosValid + "ERROR: IOC status for firmware upload request 7 in size\n" + kBiosFailed});
    cases.push_back({"download refused", good,
                     R"({"kind": "frameStatus", "function": 9, "status": 7})",
                     kBiosValid + " Beginning to download BIOS\n" +
                         "ERROR: IOC status for firmware/bios download request 7\n" +
                         "ERROR: BIOS download failed\n" + kBiosFailed});
    cases.push_back({"corrupted in flash", good,
                     R"({"kind": "flashCorruption", "imageType": 2, "offset": 100})",
                     kBiosValid + " Beginning to download BIOS\n BIOS image flashed\n" +
                         " Verifying the download\n" +
                         "ERROR: Firmware/Bios image does not match with uploaded image, "
                         "download the image again\n" +
                         kBiosFailed});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FlashRun r = dl(topology(c.faults), "1", {"dl", "-s", "-bios", romFile(c.rom)});
        EXPECT_EQ(r.cli.out, std::string(kBanner) + c.expected + kExitFailure);
        if (c.faults.empty() || c.faults.find("function\": 18") != std::string::npos) {
            EXPECT_EQ(countLines(r.log, "ioc0 download "), 0u);
        }
    }
}

}  // namespace
