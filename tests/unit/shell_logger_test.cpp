#include <gtest/gtest.h>

#include <string>

#include "console_capture.h"
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
