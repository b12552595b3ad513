// HBA db under the emulator (topologies/hba-db.json): every parse message,
// the size rules, a whole buffer lifecycle in separate processes on one state
// directory with the file compared to the emulated contents, output file
// failures, the firmware-busy flag, a driver refusal for each action, the
// driver request counts, and an interactive run whose commands share nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "expander_e2e_util.h"
#include "harness.h"
#include "hba_e2e_util.h"
#include "images/host_buffers.h"

namespace {

const std::string kFailed = "ERROR: ERROR CODE 02020000\n";
const std::string kRegistered =
    "Buffer was registered by an application\n"
    "Buffer successfully queried \n"
    "Buffer successfully registered \n";
const std::string kQueryRefused = "ERROR: Unable to query the buffer 501.\n" + kFailed;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Driver requests of the diagnostic buffer kind in an emulator log.
int bufferRequests(const std::string& log) {
    static const char* const kNumbers[] = {"0xc0784c1a", "0xc0104c1b", "0xc0104c1c", "0xc07c4c1d",
                                           "0xc0204c1e"};
    int count = 0;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        for (const char* number : kNumbers)
            count +=
                line.find(std::string("ioctl ") + number + " ioc") != std::string::npos ? 1 : 0;
    }
    return count;
}

struct DbCase {
    std::vector<std::string> args;  // after "-i N db"
    std::string out;
    int status;
    int requests;  // diagnostic buffer requests sent, -1 unchecked
};

class HbaDb : public HbaRuns {
  protected:
    // One run on the shared state, with a fresh log; output after the banner.
    CliRun run(std::vector<std::string> args, const std::string& input = "") {
        return HbaRuns::run("hba-db.json", std::move(args), input);
    }

    // Runs `-i target db ARGS` per case on the shared state.
    void check(const char* target, const std::vector<DbCase>& cases) {
        for (const DbCase& c : cases) {
            std::vector<std::string> args = {"-i", target, "db"};
            args.insert(args.end(), c.args.begin(), c.args.end());
            const CliRun r = run(args);
            std::string line = "db";
            for (const std::string& a : c.args)
                line += " " + a;
            EXPECT_EQ(r.out, c.out) << line;
            EXPECT_EQ(r.status, c.status) << line;
            if (c.requests >= 0) {
                EXPECT_EQ(bufferRequests(log_), c.requests) << line;
            }
        }
    }
};

TEST_F(HbaDb, ParseMessagesSizeRulesAndRefusals) {
    auto error = [](const std::string& text) { return "ERROR: " + text + "\n" + kFailed; };
    const std::string hexFormat = "' flag is not in xxxxxxxx hex format.";
    const std::vector<DbCase> cases = {
        {{}, error("Invalid number of arguments."), 1, 0},
        {{"-trace", "-x"}, error("Invalid Argument '-x' specified"), 1, 0},
        {{"-release", "-trace", "-size", "128"},
         error("Invalid argument(s) sepcified for -release command"),
         1,
         0},
        {{"-unregister", "-trace", "-snapshot"},
         error("Invalid argument(s) sepcified for -unregister command"),
         1,
         0},
        {{"-query", "-trace", "-size", "128", "-file"},
         error("Invalid argument(s) sepcified for -query command"),
         1,
         0},
        {{"-query", "-trace", "-size"}, error("Value for size argument is empty"), 1, 0},
        {{"-query", "-trace", "-size", "12k"}, error("Invalid integer for -size argument"), 1, 0},
        {{"-query", "-trace", "-size", "8193"}, error("Buffer size unsupported"), 1, 0},
        {{"-query", "-trace", "-size", "4194305"}, error("Buffer size unsupported"), 1, 0},
        {{"-query", "-trace", "-size", "99999999999"}, error("Buffer size unsupported"), 1, 0},
        {{"-register", "-trace", "-popt"}, error("Value for POPT argument is empty"), 1, 0},
        {{"-register", "-trace", "-popt", "1234"}, error("Value for '-popt" + hexFormat), 1, 0},
        {{"-register", "-trace", "-popt", "1234567g"},
         error("Invalid hex value specified for POPT Mask."),
         1,
         0},
        {{"-register", "-trace", "-iopmask", "00000001"},
         error("Value for IOP Mask argument is empty"),
         1,
         0},
        {{"-register", "-trace", "-plmask"}, error("Value for PL Mask argument is empty"), 1, 0},
        {{"-register", "-trace", "-irmask", "1"},
         error("Value for IR Mask argument is empty"),
         1,
         0},
        {{"-register", "-trace", "-iopmask", "00000001", "0002"},
         error("Value for '-iopmask" + hexFormat),
         1,
         0},
        {{"-register", "-trace", "-plmask", "0001", "00000002"},
         error("Value for '-plmask" + hexFormat),
         1,
         0},
        {{"-register", "-trace", "-irmask", "00000001", "000000002"},
         error("Value for '-irmask" + hexFormat),
         1,
         0},
        {{"-register", "-trace", "-iopmask", "00000001", "0000000x"},
         error("Invalid hex value specified for IOP Mask."),
         1,
         0},
        {{"-register", "-trace", "-plmask", "zzzzzzzz", "00000002"},
         error("Invalid hex value specified for PL Mask."),
         1,
         0},
        {{"-register", "-trace", "-irmask", "00000001", "-0000001"},
         error("Invalid hex value specified for IR Mask."),
         1,
         0},
        {{"-query", "-trace", "-snapshot"}, error("Mutiple buffer type arguments specified"), 1, 0},
        {{"-query", "-size", "128"}, error("Buffer Type not specified"), 1, 0},
        // Size rules: a given size must be above 128 KB / 2 MB; 0 is given.
        {{"-query", "-trace", "-size", "127"},
         error("Invalid size specified for Trace Buffer. Size should be greater than 128KB"),
         1,
         0},
        {{"-register", "-trace", "-size", "0"},
         error("Invalid size specified for Trace Buffer. Size should be greater than 128KB"),
         1,
         0},
        {{"-read", "-snapshot", "-size", "2047", "-file", "s.bin"},
         error("Invalid size specified for Snapshot Buffer"),
         1,
         0},
        {{"-query", "-trace", "-size", "128"}, kQueryRefused, 1, 1},
        {{"-query", "-snapshot", "-size", "2048"}, kQueryRefused, 1, 1},
        {{"-read", "-snapshot"}, error("File name is mandatory"), 1, 0},
        {{"-read", "-trace", "-file"}, error("File name is mandatory"), 1, 0},
        {{"-trace"}, "", 0, 0},
        // The snapshot default (2 MB) read: one query and 32 chunks.
        {{"-register", "-snapshot", "-popt", "00000001", "-iopmask", "0000000a", "0000000B",
          "-plmask", "00000003", "00000004", "-irmask", "ffffffff", "00000006"},
         kRegistered,
         0,
         2},
        {{"-register", "-snapshot"}, error("Unable to register with IO Unit 501."), 1, 1},
        {{"-read", "-snapshot", "-file", "snap.bin"}, "Buffer read sucessfully\n", 0, 33},
        {{"-read", "-snapshot", "-size", "8192", "-file", "big.bin"},
         error("Unable to read the buffer 501."),
         1,
         34},
        {{"-unregister", "-snapshot"}, "Buffer unregistered sucessfully\n", 0, 1},
        // The largest size: one query and 128 chunks.
        {{"-register", "-snapshot", "-size", "8192"}, kRegistered, 0, 2},
        {{"-read", "-snapshot", "-size", "8192", "-file", "big.bin"},
         "Buffer read sucessfully\n",
         0,
         129},
        {{"-unregister", "-snapshot"}, "Buffer unregistered sucessfully\n", 0, 1},
    };
    check("1", cases);
    EXPECT_EQ(readFile(dir_ + "/snap.bin").size(), 0x200000u);
    EXPECT_EQ(readFile(dir_ + "/big.bin").size(), 8192u * 1024);

    // The firmware holds the buffer: register keeps it but fails.
    check("2", {{{"-register", "-trace"},
                 "Buffer was registered by an application\n"
                 "ERROR: Buffer being accessed by firmware\n" +
                     kFailed,
                 1,
                 2}});
    // A driver refusal for each action.
    check("3", {{{"-register", "-trace"}, error("Unable to register with IO Unit 501."), 1, 1}});
    check("4",
          {{{"-register", "-trace"}, kRegistered, 0, 2},
           {{"-read", "-trace", "-file", "t.bin"}, error("Unable to read the buffer 501."), 1, 2},
           {{"-release", "-trace"}, error("Unable to release the buffer 501."), 1, 1},
           {{"-unregister", "-trace"}, error("Unable to un-register the buffer 501."), 1, 1}});
}

TEST_F(HbaDb, LifecycleAcrossProcessesAndFileFailures) {
    const std::vector<DbCase> cases = {
        {{"-register", "-trace"}, kRegistered, 0, 2},
        {{"-query", "-trace"},
         "Buffer was registered by an application\nBuffer successfully queried \n",
         0,
         1},
        {{"-read", "-trace", "-file", "trace.bin"}, "Buffer read sucessfully\n", 0, 3},
        {{"-read", "-trace", "-file", "."}, "ERROR: Unable to open the file.\n" + kFailed, 1, 3},
        {{"-read", "-trace", "-file", "/dev/full"},
         "ERROR: Unable to write the contents\n" + kFailed,
         1,
         3},
        {{"-read", "-trace", "-size", "8192", "-file", "x.bin"},
         "ERROR: Unable to read the buffer 501.\n" + kFailed,
         1,
         4},
        {{"-release", "-trace"}, "Buffer released sucessfully\n", 0, 1},
        {{"-query", "-trace"},
         "Buffer was registered by an application\nBuffer contains valid data\n"
         "Buffer successfully queried \n",
         0,
         1},
        {{"-unregister", "-trace"}, "Buffer unregistered sucessfully\n", 0, 1},
        {{"-query", "-trace"}, kQueryRefused, 1, 1},
        {{"-release", "-trace"}, "ERROR: Unable to release the buffer 501.\n" + kFailed, 1, 1},
    };
    check("1", cases);
    const std::vector<uint8_t> expected =
        qemu::images::hostBufferContents(0xABCDEF00, 0x20000 + 64, 0x20000);
    EXPECT_EQ(readFile(dir_ + "/trace.bin"), std::string(expected.begin(), expected.end()));
}

TEST_F(HbaDb, Usage) {
    const CliRun r = run({"-i", "1", "help", "db"});
    EXPECT_EQ(r.out,
              "Diag Buffer operation:\n"
              "This command will collect diagnostic buffer manually\n"
              "     db [-register | -query | -read | -release | -unregister] [-trace | -snapshot]\n"
              "        [-size <size> ] [-file <file_name>][-popt <data> -iopmask <data> -plmask "
              "<data> -irmask <data>\n"
              "         -register  - To register the input buffer with IOC\n"
              "         -query     - To query the status of the registered buffer\n"
              "         -read      - For reading the buffer contents\n"
              "         -release   - To request IO unit to release the buffer\n"
              "         -unregister- For un-registering the selected buffer \n"
              "         -trace/snapshot - Buffer Types\n"
              "         -size      - Size of the buffer which has to be read\n"
              "         -popt/iopmask/irmask/plmask - Various mask values \n"
              "         -file      - For specifying File name\n"
              "Example : db -query -trace -size 128\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(HbaDb, InteractiveCommandsShareNoOptions) {
    // A leaked type would make -snapshot a second type, a leaked 200 KB size
    // would fail the snapshot size check, a leaked file would be read into.
    const CliRun r = run({},
                         "1\ndb -read -trace -size 200 -file kept.bin\n"
                         "db -query -snapshot\ndb -read -trace\nquit\n");
    EXPECT_NE(r.out.find("ERROR: Unable to query the buffer 501.\n"
                         "QS-9400-8i> ERROR: Unable to query the buffer 501.\n"
                         "QS-9400-8i> ERROR: File name is mandatory\n"),
              std::string::npos)
        << r.out;
}

}  // namespace
