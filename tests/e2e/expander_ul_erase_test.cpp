// Expander ul and erase under the emulator: sizes, ids, the firmware
// fallback, empty regions, failing queries and files; erase of one region,
// the logs and the whole flash, its question and argument rules.
#include <filesystem>

#include "expander_flash_util.h"

namespace {

using ExpanderUl = ExpanderFlashTest;
using ExpanderErase = ExpanderFlashTest;

const char* const kUploaded = "Uploading the image...\nImage has been uploaded successfully.\n";
const char* const kFailed = "ERROR: ERROR CODE 02020000\n";

// 0x88 is empty, 0x85 has offset boundary 2 and 0x50000 bytes, 0x89 is 0x8000.
const char* const kRegions =
    "\"0x88\": {\"empty\": true}, \"0x85\": {\"capacity\": \"0x50000\", \"offsetBoundary\": 2}";

TEST_F(ExpanderUl, RegionsSizesAndFailures) {
    const std::string sizeRange =
        "ERROR: Region size specified is out of range.\n"
        "ERROR: Region size cannot be greater than 0xFFFFFF or 16777215\n";
    const std::string badId =
        "ERROR: RegionId specified is invalid.\n"
        "ERROR: RegionId should be specified in valid 0xXX hex format.\n";
    const std::string shrunk =
        "Size entered by user is greater than the actual region size.\n"
        "Uploading the maximum region size.\n";
    const struct {
        std::vector<std::string> args;
        std::string faults;
        std::string out;
        int status;
        size_t fileSize;  // of out.bin afterwards; 0: not written
    } cases[] = {
        {{"-region", "out.bin", "0x84"}, "", kUploaded, 0, 0x10000},
        {{"-region", "out.bin", "89", "65536"}, "", shrunk + kUploaded, 0, 0x8000},
        {{"-region", "out.bin", "0x84", "100"}, "", kUploaded, 0, 100},
        {{"-region", "out.bin", "0x85"}, "", kUploaded, 0, 0x50000},
        {{"-mfg", "out.bin"}, "", kUploaded, 0, 0x10000},
        {{"-region", "out.bin", "0x84", "0"}, "", sizeRange + kFailed, 1, 0},
        {{"-region", "out.bin", "0x84", "16777216"}, "", sizeRange + kFailed, 1, 0},
        {{"-region", "out.bin", "0x84", "4294967297"}, "", sizeRange + kFailed, 1, 0},
        {{"-region", "out.bin", "0x84", "12k"},
         "",
         "ERROR: Region size specified is invalid.\n" + std::string(kFailed),
         1,
         0},
        {{"-region", "out.bin", "0xFF"}, "", badId + kFailed, 1, 0},
        {{"-region", "out.bin", "zz"}, "", badId + kFailed, 1, 0},
        {{"-region", "out.bin", "0x"}, "", badId + kFailed, 1, 0},
        {{"-region", "out.bin"},
         "",
         "ERROR: Option '-region' requires a mandatory RegionId to be specified.\n" +
             std::string(kFailed),
         1,
         0},
        {{"-fw"},
         "",
         "ERROR: Option '-fw' requires a mandatory file name to be specified.\n" +
             std::string(kFailed),
         1,
         0},
        {{"-fw", "out.bin", "-mfg", "x"},
         "",
         "ERROR: Option '-mfg' cannot be invoked with any other option.\n" + std::string(kFailed),
         1,
         0},
        {{"-x"}, "", "ERROR: Invalid argument specified '-x'.\n" + std::string(kFailed), 1, 0},
        {{},
         "",
         "ERROR: Region name is madatory to be specified for upload command.\n" +
             std::string(kFailed),
         1,
         0},
        {{"-region", "out.bin", "0x88"},
         "",
         "ERROR: Specified region seems to be empty.\n" + std::string(kFailed),
         1,
         0},
        {{"-region", "out.bin", "0x84"},
         "\"failBuffer\": [{\"buffer\": \"0x84\", \"mode\": 3}]",
         "ERROR: Unable to get the region size.\n" + std::string(kFailed),
         1,
         0},
        {{"-region", "out.bin", "0x84"},
         "\"shortRead\": {\"buffer\": \"0x84\", \"mode\": 3, \"residual\": 1}",
         "ERROR: Unable to get the region size.\n" + std::string(kFailed),
         1,
         0},
        {{"-region", "out.bin", "0x84"},
         "\"shortRead\": {\"buffer\": \"0x84\", \"mode\": 2, \"residual\": 16}",
         "Uploading the image...\nERROR: Error in upload operation.\n" + std::string(kFailed),
         1,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "none" : c.args.back());
        std::filesystem::remove(path("out.bin"));
        setTopology(kRegions, c.faults);
        std::vector<std::string> args{"ul"};
        for (const std::string& a : c.args)
            args.push_back(a == "out.bin" ? path("out.bin") : a);
        const CliRun r = run(args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        if (c.fileSize == 0) {
            EXPECT_FALSE(std::filesystem::exists(path("out.bin")));
        } else {
            EXPECT_EQ(std::filesystem::file_size(path("out.bin")), c.fileSize);
        }
    }
    // Requests: one descriptor, then one read per 0x40000 bytes.
    setTopology(kRegions);
    takeLog();
    run({"ul", "-region", path("out.bin"), "0x85"});
    const std::string log = takeLog();
    EXPECT_EQ(linesWith(log, "cdb 3c 03 85").size(), 1u);
    EXPECT_EQ(linesWith(log, "cdb 3c 02 85 00 00 00 04 00 00").size(), 1u);
    EXPECT_EQ(linesWith(log, "cdb 3c 02 85 04 00 00 01 00 00").size(), 1u);
}

TEST_F(ExpanderUl, FirmwareFallbackAndFileFailures) {
    // Buffer 0x00 reporting an empty region: the bootloader region is read.
    setTopology("\"0x81\": {\"empty\": true}");
    CliRun r = run({"ul", "-fw", path("fw.bin")});
    EXPECT_EQ(r.out, kUploaded);
    EXPECT_EQ(std::filesystem::file_size(path("fw.bin")), 0x10000u);
    const std::string log = takeLog();
    EXPECT_EQ(linesWith(log, "cdb 3c 03").size(), 2u);
    EXPECT_EQ(linesWith(log, "cdb 3c 02 80").size(), 1u);

    // A failed read leaves the old file alone; a failed write is an error.
    writeFile("keep.bin", {1, 2, 3});
    setTopology("", "\"failBuffer\": [{\"buffer\": \"0x84\", \"mode\": 2}]");
    r = run({"ul", "-region", path("keep.bin"), "0x84"});
    EXPECT_EQ(r.out,
              "Uploading the image...\nERROR: Error in upload operation.\n" + std::string(kFailed));
    EXPECT_EQ(readFile(path("keep.bin")), (std::vector<uint8_t>{1, 2, 3}));

    setTopology("");
    r = run({"ul", "-region", "/dev/full", "0x84"});
    EXPECT_EQ(r.out.substr(0, 23), "Uploading the image...\n");
    EXPECT_NE(r.out.find("ERROR: Error in upload operation.\n"), std::string::npos);
    EXPECT_EQ(r.status, 1);
}

TEST_F(ExpanderErase, RegionsLogsAndFlash) {
    setTopology("\"0x86\": {\"capacity\": \"0x50000\"}");
    CliRun r = run({"erase", "-mfg", "-s"});
    EXPECT_EQ(r.out,
              "\nExecuting Operation : Erase Manufacturing region.\n \n"
              "Manufacturing region erased successfully.\n");
    EXPECT_EQ(r.status, 0);
    std::string log = takeLog();
    EXPECT_EQ(linesWith(log, "cdb 3c 03 83").size(), 1u);
    EXPECT_EQ(linesWith(log, "cdb 3b 02 83 00 00 00 01 00 00").size(), 1u);
    run({"ul", "-mfg", path("mfg.bin")});
    EXPECT_EQ(readFile(path("mfg.bin")), std::vector<uint8_t>(0x10000, 0xFF));

    r = run({"erase", "-s", "-boot"});
    EXPECT_EQ(r.out,
              "\nExecuting Operation : Erase Bootloader region.\n \n"
              "Bootloader region erased successfully.\n");
    takeLog();

    // Log 1 is 0x50000 bytes: two chunks; Log 2 starts 4 s after Log 1's last pause.
    r = run({"erase", "-logs", "-s"});
    EXPECT_EQ(r.out,
              "\nExecuting Operation : Erase Logs\n \n"
              "Log 1 region erased successfully.\n"
              "Log 2 region erased successfully.\n");
    log = takeLog();
    const auto log1 = linesWith(log, "cdb 3b 02 86");
    const auto log2 = linesWith(log, "cdb 3c 03 87");
    ASSERT_EQ(log1.size(), 2u);
    ASSERT_EQ(log2.size(), 1u);
    EXPECT_DOUBLE_EQ(clockOf(log1[1]) - clockOf(log1[0]), 5.0);
    EXPECT_DOUBLE_EQ(clockOf(log2[0]) - clockOf(log1[1]), 1.0 + 4.0);

    r = run({"erase", "-flash", "-s"});
    std::string expected =
        "\nExecuting Operation : Erase Complete Flash\n \n"
        "   -Erasing 'Bootloader' region.\n"
        "   -Erasing 'Active Firmware' region.\n"
        "   -Erasing 'Backup Firmware' region.\n"
        "   -Erasing 'Manufacturing' region.\n"
        "   -Erasing 'Persistent 1' region.\n"
        "   -Erasing 'Persistent 2' region.\n"
        "   -Erasing 'Log 1' region.\n"
        "   -Erasing 'Log 2' region.\n"
        "   -Erasing 'OEM 1' region.\n"
        "   -Erasing 'OEM 2' region.\n"
        "Flash erased successfully.\n";
    EXPECT_EQ(r.out, expected);
    log = takeLog();
    const auto descriptors = linesWith(log, "cdb 3c 03");
    ASSERT_EQ(descriptors.size(), 10u);
    for (size_t i = 0; i < descriptors.size(); ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "cdb 3c 03 %02zx", 0x80 + i);
        EXPECT_NE(descriptors[i].find(id), std::string::npos) << i;
    }
    // 64K, 512K, 512K, 64K, 64K, 64K, 0x50000, 128K, 32K, 32K.
    EXPECT_EQ(linesWith(log, "cdb 3b 02").size(), 1u + 2 + 2 + 1 + 1 + 1 + 2 + 1 + 1 + 1);
    run({"ul", "-region", path("oem.bin"), "0x89"});
    EXPECT_EQ(readFile(path("oem.bin")), std::vector<uint8_t>(0x8000, 0xFF));
}

TEST_F(ExpanderErase, FailuresQuestionAndArguments) {
    const struct {
        std::vector<std::string> args;
        std::string input;
        std::string faults;
        std::string out;
        int status;
        size_t writes;
    } cases[] = {
        {{"-flash", "-s"},
         "",
         "\"failBuffer\": [{\"buffer\": \"0x82\", \"direction\": \"write\"}]",
         "\nExecuting Operation : Erase Complete Flash\n \n"
         "   -Erasing 'Bootloader' region.\n"
         "   -Erasing 'Active Firmware' region.\n"
         "   -Erasing 'Backup Firmware' region.\n"
         "ERROR: Error in erasing 'Backup Firmware' region.\n" +
             std::string(kFailed),
         1,
         1 + 2 + 1},
        {{"-oem1", "-s"},
         "",
         "",
         "\nExecuting Operation : Erase OEM 1 region.\n \n"
         "ERROR: Specified region seems to be empty.\n" +
             std::string(kFailed),
         1,
         0},
        {{"-logs", "-s"},
         "",
         "\"failBuffer\": [{\"buffer\": \"0x86\", \"mode\": 3}]",
         "\nExecuting Operation : Erase Logs\n \nERROR: Error in erasing Log 1 region.\n" +
             std::string(kFailed),
         1,
         0},
        {{"-logs"},
         "no\n",
         "",
         "Do you want to continue to Erase(Yes/No) :\n  Erase operation aborted by user.\n",
         0,
         0},
        {{"-logs"},
         "",
         "",
         "Do you want to continue to Erase(Yes/No) :Invalid input string specified.\n"
         "\n  Erase operation aborted by user.\n" +
             std::string(kFailed),
         1,
         0},
        {{"-oem2"},
         "YES\n",
         "",
         "Do you want to continue to Erase(Yes/No) :\nExecuting Operation : Erase OEM 2 "
         "region.\n \nOEM 2 region erased successfully.\n",
         0,
         1},
        {{"-s", "-logs", "-s"},
         "",
         "",
         "ERROR: Option '-s' cannot be used multiple times.\n" + std::string(kFailed),
         1,
         0},
        {{"-s"},
         "",
         "",
         "ERROR: Region name is mandatory for erase operation.\n" + std::string(kFailed),
         1,
         0},
        {{"-logs", "-mfg"},
         "",
         "",
         "Option '-mfg' cannot be invoked with any other option.\n" + std::string(kFailed),
         1,
         0},
        {{"-all"},
         "",
         "",
         "ERROR: Invalid argument specified '-all'.\n" + std::string(kFailed),
         1,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.input);
        setTopology(kRegions, c.faults);
        const CliRun r = run(
            [&] {
                std::vector<std::string> args{"erase"};
                args.insert(args.end(), c.args.begin(), c.args.end());
                return args;
            }(),
            c.input);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(linesWith(takeLog(), "cdb 3b 02").size(), c.writes);
    }
}

}  // namespace
