// HBA ul and erase under the emulator (topologies/hba-upload.json): every
// option and argument error, regions read in 32768-byte chunks and compared
// with each other, blank regions, refused and failing requests, the erase
// question at the prompt and at the end of input, and the clean flags sent.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "expander_e2e_util.h"
#include "harness.h"
#include "hba_e2e_util.h"

namespace {

const char* const kModeFailed = "ERROR: ERROR CODE 02020000\n";
const char* const kUploaded = "Uploading image...\nImage has been uploaded successfully.\n";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class HbaUpload : public HbaRuns {
  protected:
    // One run on the shared state, with a fresh log; output after the banner.
    CliRun run(std::vector<std::string> args, const std::string& input = "") {
        return HbaRuns::run("hba-upload.json", std::move(args), input);
    }
    std::string file(const std::string& name) const { return readFile(dir_ + "/" + name); }
};

TEST_F(HbaUpload, EveryOptionArgumentErrorAndFailure) {
    const std::string blank =
        "Uploading image...\n"
        "ERROR: Image size is less than 1, Region requested for upload might be blank\n" +
        std::string(kModeFailed);
    const struct {
        std::vector<std::string> args;
        std::string out;
        int status;
    } cases[] = {
        {{"-i", "1", "ul", "-fw", "fw.bin"}, kUploaded, 0},
        {{"-i", "1", "ul", "-img", "1", "flashfw.bin"}, kUploaded, 0},
        {{"-i", "1", "ul", "-bios", "bios.bin"}, kUploaded, 0},
        {{"-i", "1", "ul", "-flash", "flash.bin"}, kUploaded, 0},
        {{"-i", "1", "ul", "-img", "0xb", "tv.bin"}, kUploaded, 0},
        {{"-i", "1", "ul", "-img", "5", "backup.bin"}, kUploaded, 0},
        {{"-i", "1", "ul", "-img", "6", "cfg1.bin"}, kUploaded, 0},
        {{"-i", "1", "ul", "-img", "0x7", "cfg2.bin"}, kUploaded, 0},
        {{"-i", "1", "ul", "-img", "8", "bootsvc.bin"}, kUploaded, 0},
        {{"-i", "1", "ul", "-img", "9", "blank.bin"}, blank, 1},
        {{"-i", "1", "ul", "-fw", "nodir/fw.bin"},
         "Uploading image...\n"
         "ERROR: Unable to open the file.\n"
         "ERROR: File Open/Write has a problem\n" +
             std::string(kModeFailed),
         1},
        {{"-i", "1", "ul", "-img", "3", "a.bin"},
         std::string("ERROR: Unknown or invalid region index.\n") + kModeFailed,
         1},
        {{"-i", "1", "ul", "-img", "zz", "a.bin"},
         std::string("ERROR: Invalid argument for region index.\n") + kModeFailed,
         1},
        {{"-i", "1", "ul", "-img", "0x", "a.bin"},
         std::string("ERROR: Invalid argument for region index.\n") + kModeFailed,
         1},
        {{"-i", "1", "ul", "-img", "1"},
         std::string("ERROR: Invalid argument for '-img'\n") + kModeFailed,
         1},
        {{"-i", "1", "ul", "-fw"},
         std::string("ERROR: Invalid argument specified. Argument must have both region ID and "
                     "filename.\n") +
             kModeFailed,
         1},
        {{"-i", "1", "ul"},
         std::string("ERROR: Invalid command syntax. Specify the Upload operation argument.\n") +
             kModeFailed,
         1},
        {{"-i", "1", "ul", "-x", "a.bin"},
         std::string("ERROR: Invalid argument specified. Unknown option '-x'\n") + kModeFailed,
         1},
        {{"-i", "1", "help", "ul"},
         "Firmware/BIOS Upload Operations:\n"
         "To upload the various flash images\n"
         "      ul [-fw <file name>] [-bios <file name>] [-img <region id> <file name>]\n"
         "         -fw   : For uploading firmware into a file\n"
         "         -bios : For uploading bios\n"
         "         -img  : For uploading other regions such as FW Current, Fw Backup,\n"
         "                 CFG1, CFG2, Flash, Boot code etc\n"
         "Example : ul -fw sample.bin\n",
         0},
        // A refused size query, a failing one, and a refused second chunk: the
        // old file stays as it was.
        {{"-i", "2", "ul", "-fw", "keep.bin"},
         "Uploading image...\n"
         "ERROR: IOC status for firmware upload request 4 in size\n"
         "ERROR: Log Info for firmware upload request 31170000 for getting size\n"
         "ERROR: Unable to get the image size\n" +
             std::string(kModeFailed),
         1},
        {{"-i", "3", "ul", "-fw", "keep.bin"},
         "Uploading image...\n"
         "ERROR: Unable to get the image size 34.\n"
         "ERROR: Unable to get the image size\n" +
             std::string(kModeFailed),
         1},
        {{"-i", "4", "ul", "-fw", "keep.bin"},
         "Uploading image...\n"
         "ERROR: IOC status for firmware upload request 4 in size\n"
         "ERROR: Upload failed.\n" +
             std::string(kModeFailed),
         1},
        // A region larger than it holds, and one larger than any flash.
        {{"-i", "7", "ul", "-fw", "keep.bin"},
         "Uploading image...\n"
         "ERROR: Short firmware upload: region holds 0x11170 bytes, 0x3880 requested at "
         "0x10000.\n"
         "ERROR: Upload failed.\n" +
             std::string(kModeFailed),
         1},
        {{"-i", "8", "ul", "-fw", "keep.bin"},
         "Uploading image...\n"
         "ERROR: Region size 0x4000001 is too large.\n"
         "ERROR: Unable to get the image size\n" +
             std::string(kModeFailed),
         1},
    };
    {
        std::ofstream(dir_ + "/keep.bin") << "old contents";
        std::ofstream(dir_ + "/fw.bin") << "a longer file that the upload replaces";
    }
    for (const auto& c : cases) {
        std::string label;
        for (const std::string& w : c.args)
            label += w + " ";
        const CliRun r = run(c.args);
        EXPECT_EQ(r.out, c.out) << label;
        EXPECT_EQ(r.status, c.status) << label;
    }
    const std::string fw = file("fw.bin");
    ASSERT_EQ(fw.size(), 70000u);
    EXPECT_EQ(file("flashfw.bin"), fw);
    EXPECT_EQ(file("backup.bin"), fw);
    EXPECT_EQ(file("cfg1.bin").size(), 4096u);
    EXPECT_EQ(file("bootsvc.bin").size(), 8192u);
    // The whole flash holds the 8192-byte boot services region, then the firmware.
    EXPECT_EQ(file("flash.bin").substr(8192, fw.size()), fw);
    EXPECT_EQ(file("bios.bin").substr(0, 2), "\x55\xAA");
    EXPECT_EQ(file("tv.bin").size(), 2048u);
    EXPECT_EQ(file("keep.bin"), "old contents");
    EXPECT_NE(access((dir_ + "/blank.bin").c_str(), F_OK), 0);
}

TEST_F(HbaUpload, ASymlinkAtThePathIsReplacedNotFollowed) {
    std::ofstream(dir_ + "/precious.bin") << "precious";
    ASSERT_EQ(symlink("precious.bin", (dir_ + "/link.bin").c_str()), 0);
    const CliRun r = run({"-i", "1", "ul", "-fw", "link.bin"});
    EXPECT_EQ(r.out, kUploaded);
    struct stat st = {};
    ASSERT_EQ(lstat((dir_ + "/link.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(file("link.bin").size(), 70000u);
    EXPECT_EQ(file("precious.bin"), "precious");
}

TEST_F(HbaUpload, ChunksOf32768BytesAfterOneSizeQuery) {
    ASSERT_EQ(run({"-i", "1", "ul", "-fw", "fw.bin"}).status, 0);
    EXPECT_EQ(logLines("ioc0 upload type 0"),
              (std::vector<std::string>{"ioc0 upload type 0 offset 0 chunk 0",
                                        "ioc0 upload type 0 offset 0 chunk 32768",
                                        "ioc0 upload type 0 offset 32768 chunk 32768",
                                        "ioc0 upload type 0 offset 65536 chunk 4464"}));
}

TEST_F(HbaUpload, EraseFlagsQuestionsAndFailures) {
    const std::string question = "Are you sure want to erase '";
    const std::string erased = "Region has been erased successfully.\n";
    const std::string cancelled = " User cancelled. Erase operation not performed.\n";
    const struct {
        std::vector<std::string> args;
        std::string input;
        std::string out;
        int status;
        const char* flags;  // the clean request on the wire, or nullptr
    } cases[] = {
        {{"-i", "1", "erase", "-s", "-boot"}, "", erased, 0, "clean flags 0x80000000"},
        {{"-i", "1", "erase", "-persistent", "-s"}, "", erased, 0, "clean flags 0x40000000"},
        {{"-i", "1", "erase", "-other"},
         "maybe\nyes\n",
         question + "Other Persistent' region ? (Yes/No) : Invalid input string specified.\n" +
             question + "Other Persistent' region ? (Yes/No) : " + erased,
         0,
         "clean flags 0x20000000"},
        {{"-i", "1", "erase", "-fwcurrent", "-s"}, "", erased, 0, "clean flags 0x10000000"},
        {{"-i", "1", "erase", "-fwbackup"},
         "No\n",
         question + "Firmware Backup' region ? (Yes/No) : " + cancelled,
         0,
         nullptr},
        // Nobody can answer at the end of input: cancelled, and not a success.
        {{"-i", "1", "erase", "-fwbackup"},
         "",
         question + "Firmware Backup' region ? (Yes/No) : Invalid input string specified.\n" +
             cancelled + kModeFailed,
         1,
         nullptr},
        {{"-i", "1", "erase", "-tv", "-s"}, "", erased, 0, "clean flags 0x02000000"},
        {{"-i", "1", "erase", "-boot", "-persistent"},
         "",
         std::string("ERROR: Multiple erase regions specified.\n") + kModeFailed,
         1,
         nullptr},
        {{"-i", "1", "erase", "-s", "-s"},
         "",
         std::string("ERROR: Multiple -s arguments specified\n") + kModeFailed,
         1,
         nullptr},
        {{"-i", "1", "erase", "-s"},
         "",
         std::string("ERROR: Invalid syntax entered. Valid region ID should be specified\n") +
             kModeFailed,
         1,
         nullptr},
        {{"-i", "1", "erase", "-all"},
         "",
         std::string("ERROR: Invalid argument specified. Unknown option '-all'\n") + kModeFailed,
         1,
         nullptr},
        {{"-i", "1", "erase"},
         "",
         std::string("ERROR: Invalid command syntax or unknown argument(s) specified.\n") +
             kModeFailed,
         1,
         nullptr},
        {{"-i", "1", "erase", "-s", "-boot", "-tv"},
         "",
         std::string("ERROR: Invalid command syntax or unknown argument(s) specified.\n") +
             kModeFailed,
         1,
         nullptr},
        {{"-i", "5", "erase", "-s", "-tv"},
         "",
         std::string("ERROR: XolLib2 Error: '0x00000034'. XOL Passthrough failed. *** \n") +
             kModeFailed,
         1,
         nullptr},
        {{"-i", "6", "erase", "-s", "-tv"},
         "",
         std::string("ERROR:  *** XolLib2 Error: '0x00000004'. Invalid IOCTL status. *** \n") +
             kModeFailed,
         1,
         nullptr},
        {{"-i", "1", "help", "erase"},
         "",
         "Erase Operations:\n"
         "Erase command erases the specified region\n"
         "      erase -<region> [-s]\n"
         "            -boot       : Erase boot services\n"
         "            -persistent : Erase persistent manufacturing pages\n"
         "            -other      : Erase other persistent manfacturing pages\n"
         "            -s          : Silent erase flag and does not query\n"
         "Example       : erase -persistent\n",
         0,
         nullptr},
    };
    for (const auto& c : cases) {
        std::string label;
        for (const std::string& w : c.args)
            label += w + " ";
        const CliRun r = run(c.args, c.input);
        EXPECT_EQ(r.out, c.out) << label;
        EXPECT_EQ(r.status, c.status) << label;
        const std::vector<std::string> sent = logLines("clean flags");
        if (c.flags == nullptr) {
            EXPECT_TRUE(sent.empty()) << label;
        } else {
            ASSERT_EQ(sent.size(), 1u) << label;
            EXPECT_NE(sent[0].find(c.flags), std::string::npos) << label;
        }
    }
    // A later process sees the erased regions blank.
    const std::string blank =
        "Uploading image...\n"
        "ERROR: Image size is less than 1, Region requested for upload might be blank\n" +
        std::string(kModeFailed);
    EXPECT_EQ(run({"-i", "1", "ul", "-img", "8", "boot.bin"}).out, blank);
    EXPECT_EQ(run({"-i", "1", "ul", "-img", "b", "tv.bin"}).out, blank);
}

}  // namespace
