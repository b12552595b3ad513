#include <gtest/gtest.h>

#include <string>

#include "console_capture.h"
#include "shell/device_text.h"
#include "shell/logger.h"

TEST(Logger, PrefixesAndLineEnds) {
    ConsoleCapture console;
    logPrint("a%d", 1);
    logPrintLine(" b");
    logWarn("w");
    logError("Invalid argument '%s'", "-x");
    logDebug("d");
    logVerbose("v");
    logInfo("i");
    EXPECT_EQ(console.text(),
              "a1 b\nWARN!! w\nERROR: Invalid argument '-x'\nDEBUG: d\nVERBOSE: v\ni\n");
}

TEST(Logger, LongMessagesAreCutNotOverrun) {
    ConsoleCapture console;
    const std::string huge(5000, 'x');
    logError("%s", huge.c_str());
    const std::string expected = "ERROR: " + std::string(kLogMessageSize - 1, 'x') + "\n";
    EXPECT_EQ(console.text(), expected);
}

TEST(Logger, ErrorsNeverLandBehindALabel) {
    ConsoleCapture console;
    logPrint("%-8s:    ", "Label");
    EXPECT_TRUE(consoleLineOpen());
    logError("failed");
    EXPECT_FALSE(consoleLineOpen());
    logPrint("value \n");
    logPrint("Name:    ");
    logWarn("odd");
    logPrint("prompt> ");
    consoleLineEnded();  // the user's answer ended the line
    logError("unknown");
    EXPECT_EQ(console.text(),
              "Label   :    \nERROR: failed\nvalue \nName:    \nWARN!! odd\nprompt> ERROR: "
              "unknown\n");
}

TEST(DeviceText, OnlyPrintableAsciiReachesTheConsole) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"QX-S24-PRODUCT", "QX-S24-PRODUCT"},
        {std::string("AB\0\0\0", 5), "AB"},  // padding of a fixed field
        {"\x1b[2J\x1b]0;title\x07", ".[2J.]0;title."},
        {"line\r\nERROR: forged", "line..ERROR: forged"},
        {"\x7f\x80\xff~ ", "...~ "},
    };
    for (const auto& c : cases) {
        char out[64];
        const size_t n = deviceTextToPrintable(reinterpret_cast<const uint8_t*>(c.in.data()),
                                               c.in.size(), out, sizeof out);
        EXPECT_EQ(std::string(out), c.out);
        EXPECT_EQ(n, c.out.size());
    }
    // Cut to the capacity, always terminated.
    char small[4];
    EXPECT_EQ(deviceTextToPrintable(reinterpret_cast<const uint8_t*>("ABCDEF"), 6, small, 4), 3u);
    EXPECT_STREQ(small, "ABC");
    ConsoleCapture console;
    const std::string big(600, 'z');
    printDeviceText(reinterpret_cast<const uint8_t*>(big.data()), big.size());
    EXPECT_EQ(console.text(), big);
}
