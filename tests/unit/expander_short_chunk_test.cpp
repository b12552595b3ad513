// A device whose data-mode reads stop short: trace, healthlogs and the
// SAS address change must fail on the short chunk, never use its zero tail
// as data, and never write a region back after such a read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console_capture.h"
#include "expander/healthlogs.h"
#include "expander/sasaddr.h"
#include "expander/trace.h"
#include "shell/bytes.h"
#include "targets/expander_device.h"
#include "targets/target_list.h"

namespace {

// Answers descriptors with a 64-byte capacity and the 0xFE00 page; every
// mode-2 read moves 8 bytes less than asked.
class ShortChunkExpander final {
  public:
    ShortChunkExpander() {
        device_.open = [](Target*) -> uint32_t { return 0; };
        device_.close = [](Target*) -> uint32_t { return 0; };
        device_.destroy = [](Target*) -> uint32_t { return 0; };
        device_.read = &readOp;
        device_.write = &writeOp;
        target_.transport = TransportKind::ScsiGeneric;
        target_.kind = TargetKind::Expander;
        target_.family = 2;
        target_.device = &device_;
        writes_ = 0;
        setCurrentTarget(&target_);
    }
    ~ShortChunkExpander() { setCurrentTarget(nullptr); }
    ShortChunkExpander(const ShortChunkExpander&) = delete;
    ShortChunkExpander& operator=(const ShortChunkExpander&) = delete;

    static int writes() { return writes_; }

  private:
    static uint32_t readOp(Target*, const uint8_t* cdb, uint32_t, uint8_t* data, uint32_t length,
                           uint32_t* transferred) {
        uint32_t moved = length;
        if (cdb[2] == 0xE6) {
            uint8_t page[12] = {};
            putLe16(page, 0, sizeof page);
            putLe32(page, 4, 0x53C2A1F0);
            putLe32(page, 8, 0x00000100);
            for (uint32_t i = 0; i < length && i < sizeof page; ++i)
                data[i] = page[i];
        } else if ((cdb[1] & 0x1F) == 3) {
            putBe32(data, 0, 64);
        } else {
            for (uint32_t i = 0; i < length; ++i)
                data[i] = 0x41;
            moved = length - 8;
        }
        if (transferred != nullptr)
            *transferred = moved;
        return 0;
    }
    static uint32_t writeOp(Target*, const uint8_t*, uint32_t, const uint8_t*, uint32_t,
                            uint32_t* transferred) {
        ++writes_;
        if (transferred != nullptr)
            *transferred = 0;
        return 0;
    }

    static inline int writes_ = 0;
    ExpanderDevice device_;
    Target target_{};
};

std::string run(uint32_t (*command)(uint32_t, char**), std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    ConsoleCapture console;
    EXPECT_EQ(command(static_cast<uint32_t>(argv.size()), argv.data()), 1u) << words[0];
    return console.text();
}

TEST(ExpanderShortChunk, ReadsFailWithoutUsingTheTail) {
    ShortChunkExpander expander;
    EXPECT_EQ(run(expanderTraceCommand, {"trace"}),
              "ERROR: Unable to read the log values.\n"
              "Trace buffer is empty or not valid trace entries are available.\n");
    EXPECT_EQ(run(expanderHealthLogsCommand, {"healthlogs"}),
              "ERROR: Unable to read the health log values.\n");
    EXPECT_EQ(run(expanderHealthLogsCommand, {"healthlogs", "-decode"}),
              "ERROR: Unable to read the health log values.\n");
    EXPECT_EQ(run(expanderSasAddressCommand, {"sasaddr", "-set", "53C2A1F00000107F", "-nr"}),
              "Current SAS Address      : 53c2a1f-0-0000-0100\n"
              "ERROR: Unable to read the manufacturing region values.\n"
              "ERROR: Unable to set the Enclosure SAS address.\n");
    // Nothing was written back from the short read.
    EXPECT_EQ(ShortChunkExpander::writes(), 0);
}

}  // namespace
