// Expander dl under the emulator: firmware with validation, reset and post
// validation; manufacturing and buffer images; the question; option errors.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "expander_flash_util.h"
#include "images/images.h"

namespace {

namespace images = qemu::images;

using ExpanderDl = ExpanderFlashTest;

std::vector<uint8_t> firmware(size_t length, uint32_t version = 0x05060708) {
    images::FirmwareImageOptions options;
    options.length = length;
    options.version = version;
    return images::buildFirmwareImage(options);
}

std::string validationBlock(const char* signature, const char* checksum, const char* image,
                            const char* version = "05.06.07.08") {
    return std::string("\nExecuting Operation : Flash Firmware Image \n\n\n") +
           "Signature validation   : " + signature + "\n" + "Checksum Validation    : " + checksum +
           "\n" + "Current FW Version     : 03.01.02.00\n" + "Replacement FW Version : " + version +
           " \n\n" + "Image validation       : " + image + "\n\n";
}

const char* const kQuestion = "Do you want to continue to download(Yes/No) :";
const char* const kAborted = "\n  Download operation aborted by user.\n";
const char* const kDownloaded =
    "Downloading the firmware region...\nFirmware Image downloaded successfully.\n\n";
const char* const kReset = "Resetting the expander...\nReset completed successfully.\n";
const char* const kValidated = "\nImage post validated successfully.\n";

TEST_F(ExpanderDl, FirmwareDownloadResetAndPostValidation) {
    const std::vector<uint8_t> image = firmware(0x10000);
    const std::string file = writeFile("img.fw", image);
    CliRun r = run({"dl", "-fw", file, "-s"});
    EXPECT_EQ(r.out,
              validationBlock("Passed", "Passed", "Passed") + kDownloaded + kReset + kValidated);
    EXPECT_EQ(r.status, 0);
    std::string log = takeLog();
    const auto written = linesWith(log, "cdb 3b 02 00");
    const auto reset = linesWith(log, "cdb 3b 01 e9");
    ASSERT_EQ(written.size(), 1u);
    ASSERT_EQ(reset.size(), 1u);
    // 1 s after the short chunk, then 2 s before the reset.
    EXPECT_DOUBLE_EQ(clockOf(reset[0]) - clockOf(written[0]), 3.0);
    // Post validation: the descriptor, the header, then the region in one chunk.
    EXPECT_EQ(linesWith(log, "cdb 3c 03 00").size(), 1u);
    EXPECT_EQ(linesWith(log, "cdb 3c 02 00 00 00 00 00 00 54 00").size(), 1u);
    EXPECT_EQ(linesWith(log, "cdb 3c 02 00 00 00 00 01 00 00 00").size(), 1u);

    // The expander runs it after the reset; the stored copy carries its stamp.
    r = run({"ul", "-fw", path("back.fw")});
    EXPECT_EQ(r.status, 0);
    std::vector<uint8_t> back = readFile(path("back.fw"));
    ASSERT_GE(back.size(), image.size());
    back.resize(image.size());
    std::vector<size_t> differing;
    for (size_t i = 0; i < image.size(); ++i) {
        if (back[i] != image[i])
            differing.push_back(i);
    }
    ASSERT_FALSE(differing.empty());
    EXPECT_GE(differing.front(), 28u);
    EXPECT_LE(differing.back(), 35u);

    CliOptions list;
    list.emulated = true;
    list.topology = topology_;
    list.stateDir = state_;
    list.args = {"--list"};
    EXPECT_NE(runCli(list).out.find("53c2a1f-0-0000-0300   05.06.07.08"), std::string::npos);
}

TEST_F(ExpanderDl, ChunksPausesAndLengthWord) {
    // 300 KiB: 0x40000 then 0xB000 bytes, 5 s after the full chunk, no reset, no read-back.
    std::string file = writeFile("big.fw", firmware(300 * 1024));
    CliRun r = run({"dl", "-fw", file, "-s", "-nr", "-nv"});
    EXPECT_EQ(r.out, validationBlock("Passed", "Passed", "Passed") + kDownloaded + "\n");
    EXPECT_EQ(r.status, 0);
    std::string log = takeLog();
    const auto first = linesWith(log, "cdb 3b 02 00 00 00 00 04 00 00 00 dir -2 len 262144");
    const auto second = linesWith(log, "cdb 3b 02 00 04 00 00 00 b0 00 00 dir -2 len 45056");
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_DOUBLE_EQ(clockOf(second[0]) - clockOf(first[0]), 5.0);
    EXPECT_EQ(linesWith(log, "cdb 3b").size(), 2u);
    EXPECT_EQ(linesWith(log, "cdb 3c 02").size(), 0u);

    // A length word of 0x1000 in a 0x2000-byte file bounds sum, download and comparison.
    images::FirmwareImageOptions options;
    options.length = 0x2000;
    options.lengthWord = 0x1000;
    options.imageLengthField = 0x1000;
    options.version = 0x05060708;
    std::vector<uint8_t> image = images::buildFirmwareImage(options);
    image[0x1800] ^= 0xFF;  // beyond the declared length: neither summed nor sent
    file = writeFile("short.fw", image);
    r = run({"dl", "-fw", file, "-s"});
    EXPECT_EQ(r.out,
              validationBlock("Passed", "Passed", "Passed") + kDownloaded + kReset + kValidated);
    log = takeLog();
    EXPECT_EQ(linesWith(log, "cdb 3b 02 00 00 00 00 00 10 00 00").size(), 1u);
    EXPECT_EQ(linesWith(log, "cdb 3c 02 00 00 00 00 00 10 00 00").size(), 1u);
}

TEST_F(ExpanderDl, QuestionAnswers) {
    images::FirmwareImageOptions options;
    options.length = 0x1000;
    options.breakSignature = true;
    options.version = 0x05060708;
    const std::string file = writeFile("bad.fw", images::buildFirmwareImage(options));
    const std::string block = validationBlock("Failed", "Passed", "Failed");

    CliRun r = run({"dl", "-fw", file, "-nr", "-nv"}, "y\nyes\n");
    EXPECT_EQ(r.out,
              block + kQuestion + "Invalid input specified.\n" + kQuestion + kDownloaded + "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(linesWith(takeLog(), "cdb 3b 02").size(), 1u);

    r = run({"dl", "-fw", file}, "NO\n");
    EXPECT_EQ(r.out, block + kQuestion + kAborted);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(linesWith(takeLog(), "cdb 3b").size(), 0u);

    // Nobody answers: nothing was confirmed, nothing is written.
    r = run({"dl", "-fw", file}, "");
    EXPECT_EQ(r.out, block + kQuestion + "Invalid input string specified.\n" + kAborted +
                         "ERROR: ERROR CODE 02020000\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(linesWith(takeLog(), "cdb 3b").size(), 0u);
}

TEST_F(ExpanderDl, PostValidationFailures) {
    const std::vector<uint8_t> image = firmware(0x10000);
    const std::string file = writeFile("img.fw", image);
    images::FirmwareImageOptions longer;
    longer.length = 0x10000;
    longer.version = 0x05060708;
    longer.imageLengthField = 0x8000;
    const std::string mismatched = writeFile("half.fw", images::buildFirmwareImage(longer));
    const std::string head = validationBlock("Passed", "Passed", "Passed") + kDownloaded;
    const std::string failed = "ERROR: ERROR CODE 02020000\n";
    const struct {
        const char* name;
        std::string faults;
        std::string image;
        std::string out;
    } cases[] = {
        {"length", "", mismatched,
         head + kReset + "\nERROR: Image length of FW file and uploaded region does not match.\n" +
             failed},
        {"flipped", "\"flipStoredByte\": {\"buffer\": 0, \"offset\": 1000}", file,
         head + kReset + "\nERROR: Post validation failed.\n" + failed},
        {"short", "\"shortRead\": {\"buffer\": 0, \"mode\": 2, \"skip\": 1, \"residual\": 4}", file,
         head + kReset + "\nERROR: Post validation failed.\n" + failed},
        {"header",
         "\"failBuffer\": [{\"buffer\": 0, \"mode\": 2, \"direction\": \"read\", \"count\": 1}]",
         file, head + kReset + "\nERROR: Error in reading FW header contents.\n" + failed},
        {"gone", "\"resetNeverReturns\": true", file,
         head + "Resetting the expander...\nERROR: Unable to discover any expander.\n" +
             "\n     DeviceId/RevId   WWID                  FwVersion       \n" + failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(state_);
        setTopology("", c.faults);
        const std::string scratch = path(std::string("tmp-") + c.name);
        std::filesystem::create_directories(scratch);
        setenv("TMPDIR", scratch.c_str(), 1);
        const CliRun r = run({"dl", "-fw", c.image, "-s"});
        unsetenv("TMPDIR");
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(std::filesystem::is_empty(scratch));
    }
}

TEST_F(ExpanderDl, WorkingDirectoryTempfileIsNeverTouched) {
    const std::string file = writeFile("img.fw", firmware(0x1000));
    const std::string work = path("work");
    std::filesystem::create_directories(work);
    writeFile("work/tempfile", {'k', 'e', 'e', 'p'});
    CliRun r = run({"dl", "-fw", file, "-s"}, "", work);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(work + "/tempfile"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

    std::filesystem::remove(work + "/tempfile");
    writeFile("target", {'t'});
    std::filesystem::create_symlink(path("target"), work + "/tempfile");
    r = run({"dl", "-fw", file, "-s"}, "", work);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(work + "/tempfile"));
    EXPECT_EQ(readFile(path("target")), (std::vector<uint8_t>{'t'}));
}

std::vector<uint8_t> manufacturingImage(bool breakChecksum = false) {
    // A page whose bytes sum to 0x9C: the checksum byte 0x9C passes as unsigned.
    std::vector<uint8_t> page = images::buildPage(0xFE10, {0x10, 0x20, 0x30, 0x00});
    uint8_t sum = 0;
    for (uint8_t b : page)
        sum = static_cast<uint8_t>(sum + b);
    page.back() = static_cast<uint8_t>(0x9C - sum);
    images::PageImageOptions options;
    options.records.push_back({page, images::kRecordActive, breakChecksum});
    options.records.push_back(
        {images::sasAddressPage(0xFE00, 0x53C2A1F000000300ull), images::kRecordActive, false});
    return images::buildPageImage(options);
}

TEST_F(ExpanderDl, ManufacturingImages) {
    const std::vector<uint8_t> good = manufacturingImage();
    ASSERT_EQ(good[16 + 1], 0x9C);
    const std::vector<uint8_t> truncated(good.begin(), good.begin() + 16 + 6);
    const std::string passed = "Checksum validation        : Passed\n";
    const std::string mismatch = "Checksum validation        : Failed.\n";
    const std::string tooShort = "Checksum validation        : Failed\n";
    const std::string opening = "\nExecuting Operation : Flash Manufacturing image.\n\n";
    const std::string done =
        "Downloading Manufacturing Image...\n\nManufacturing Image downloaded successfully.\n\n";
    const struct {
        const char* name;
        std::vector<uint8_t> image;
        std::string faults;
        std::string out;
        int status;
    } cases[] = {
        {"good", good, "",
         opening + "Image signature validation : Passed\n\n" + passed +
             "\nImage validation           : Passed\n" + done,
         0},
        {"bad record", manufacturingImage(true), "",
         opening + "Image signature validation : Passed\n\n" + mismatch +
             "\nImage validation           : Failed\n" + done,
         0},
        {"three bytes",
         {0x00, 0x00, 0x10},
         "",
         opening + "Image signature validation : Passed\n\n" + tooShort +
             "\nImage validation           : Failed\n" + done,
         0},
        {"truncated", truncated, "",
         opening + "Image signature validation : Passed\n\n" + mismatch +
             "\nImage validation           : Failed\n" + done,
         0},
        {"write fails", good, "\"failBuffer\": [{\"buffer\": \"0x83\", \"direction\": \"write\"}]",
         opening + "Image signature validation : Passed\n\n" + passed +
             "\nImage validation           : Passed\n" + "Downloading Manufacturing Image...\n" +
             "ERROR: Error in Manufacturing image download operation.\n" +
             "ERROR: ERROR CODE 02020000\n",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setTopology("", c.faults);
        const std::string file = writeFile("mfg.bin", c.image);
        const CliRun r = run({"dl", "-mfg", file, "-s", "-nr"});
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
    }
    // Written as given, read back the same.
    setTopology("");
    CliRun r = run({"dl", "-mfg", writeFile("mfg.bin", good), "-s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(kReset), std::string::npos);
    r = run({"ul", "-region", path("back.bin"), "0x83", std::to_string(good.size())});
    EXPECT_EQ(readFile(path("back.bin")), good);
}

TEST_F(ExpanderDl, BufferImages) {
    std::vector<uint8_t> data(300 * 1024);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    const std::string file = writeFile("f", data);
    CliRun r = run({"dl", "-buffer", file, "0x82", "-s"});
    EXPECT_EQ(r.out,
              "\nExecuting Operation : Flash Buffer image.\n\n"
              "Downloading Buffer Id 82...\n"
              "\n Buffer Image downloaded successfully.\n\n");
    EXPECT_EQ(r.status, 0);
    std::string log = takeLog();
    EXPECT_EQ(linesWith(log, "cdb 3b").size(), 2u);
    EXPECT_EQ(linesWith(log, "cdb 3c 02").size(), 0u);

    r = run({"ul", "-region", path("g"), "0x82", "307200"});
    EXPECT_EQ(r.out, "Uploading the image...\nImage has been uploaded successfully.\n");
    EXPECT_EQ(readFile(path("g")), data);
    log = takeLog();
    EXPECT_EQ(linesWith(log, "cdb 3c 03 82").size(), 1u);
    EXPECT_EQ(linesWith(log, "cdb 3c 02 82 00 00 00 04 00 00").size(), 1u);
    EXPECT_EQ(linesWith(log, "cdb 3c 02 82 04 00 00 00 b0 00").size(), 1u);
    EXPECT_EQ(linesWith(log, "cdb 3c 02").size(), 2u);

    // The second chunk fails after the first was written.
    setTopology("",
                "\"failBuffer\": [{\"buffer\": \"0x82\", \"direction\": \"write\", "
                "\"skip\": 1, \"count\": 1}]");
    r = run({"dl", "-buffer", file, "82", "-s"});
    EXPECT_EQ(r.out,
              "\nExecuting Operation : Flash Buffer image.\n\n"
              "Downloading Buffer Id 82...\n"
              "ERROR: Error in Buffer image download operation.\n"
              "ERROR: ERROR CODE 02020000\n");
    EXPECT_EQ(linesWith(takeLog(), "cdb 3b").size(), 2u);
}

TEST_F(ExpanderDl, ImagesWithNothingOrTooMuchToSend) {
    const std::string opening = "\nExecuting Operation : Flash Firmware Image \n\n";
    const std::string tooShort = "ERROR: File length is not sufficent, size is less than 1.\n";
    // Three bytes hold no word; a length word of 3 declares none.
    CliRun r = run({"dl", "-fw", writeFile("three.fw", {1, 2, 3}), "-s"});
    EXPECT_EQ(r.out, opening + tooShort + "ERROR: ERROR CODE 02020000\n");
    EXPECT_EQ(r.status, 1);
    images::FirmwareImageOptions options;
    options.length = 0x1000;
    options.lengthWord = 3;
    r = run({"dl", "-fw", writeFile("zero.fw", images::buildFirmwareImage(options)), "-s"});
    EXPECT_EQ(r.out, opening + tooShort + "ERROR: ERROR CODE 02020000\n");
    r = run({"dl", "-buffer", writeFile("empty.bin", {}), "0x84", "-s"});
    EXPECT_EQ(r.out, "\nExecuting Operation : Flash Buffer image.\n\n" + tooShort +
                         "ERROR: ERROR CODE 02020000\n");
    // Past 24 bits the offset would wrap onto the region's start: nothing is sent.
    r = run({"dl", "-buffer", writeFile("huge.bin", std::vector<uint8_t>(0x1000001, 0xA5)), "0x84",
             "-s"});
    EXPECT_EQ(r.out,
              "\nExecuting Operation : Flash Buffer image.\n\n"
              "Downloading Buffer Id 84...\n"
              "ERROR: Error in Buffer image download operation.\n"
              "ERROR: ERROR CODE 02020000\n");
    EXPECT_EQ(linesWith(takeLog(), "cdb 3b").size(), 0u);
}

TEST_F(ExpanderDl, ArgumentErrorsWriteNothing) {
    const std::string fw = writeFile("img.fw", firmware(0x1000));
    const std::string bin = writeFile("data.bin", {1, 2, 3, 4});
    const std::string mfg = writeFile("mfg.bin", manufacturingImage());
    const std::string invalidId =
        "ERROR: BufferId specified is invalid.\n"
        "ERROR: BufferId should be specified in valid 0xXX hex format.\n";
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"dl"},
         "ERROR: '-fw' or '-buffer' or '-mfg' options is/are mandatory for download "
         "command.\n"},
        {{"dl", "-s"},
         "ERROR: '-fw' or '-buffer' or '-mfg' options is/are mandatory for download "
         "command.\n"},
        {{"dl", "-x"}, "ERROR: Invalid argument '-x' specified. \n\n"},
        {{"dl", "-s", "-s"}, "ERROR: Option '-s' cannot be used multiple times.\n"},
        {{"dl", "-fw"}, "ERROR: Option '-fw' requires a mandatory filename.\n"},
        {{"dl", "-fw", path("none")}, "ERROR: File path specified for option '-fw' not found.\n"},
        {{"dl", "-mfg", path("none")}, "ERROR: File path specified for option '-mfg' not found.\n"},
        {{"dl", "-fw", dir_}, "ERROR: File path specified is not valid.\n"},
        {{"dl", "-buffer", path("none"), "0x82"}, "ERROR: Invalid file specified.\n"},
        {{"dl", "-buffer", bin},
         "ERROR: Option '-buffer' requires a mandatory RegionId to be "
         "specified.\n"},
        {{"dl", "-buffer", bin, "0xFF"}, invalidId},
        {{"dl", "-buffer", bin, "0x"}, invalidId},
        {{"dl", "-buffer", bin, "0x100"}, invalidId},
        {{"dl", "-buffer", bin, "0x82", "-nr"},
         "ERROR: '-nv' or/and '-nr' options cannot be used with -region option.\n"},
        {{"dl", "-fw", fw, "-mfg", mfg, "-nv", "-s"},
         "ERROR: '-nv' option cannot be used with -mfg option.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const CliRun r = run(c.args);
        EXPECT_EQ(r.out, c.out + "ERROR: ERROR CODE 02020000\n");
        EXPECT_EQ(r.status, 1);
    }
    EXPECT_EQ(linesWith(takeLog(), "cdb 3b").size(), 0u);
}

}  // namespace
