#include "expander/phy.h"

#include <cstring>

#include "expander/expander_access.h"
#include "expander/link_rate.h"
#include "expander/phy_info.h"
#include "expander/phy_layout.h"
#include "expander/phy_tables.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "shell/parse.h"
#include "shell/prompt.h"
#include "targets/expander_device.h"
#include "targets/target_list.h"

namespace {

constexpr uint32_t kLinkConfigLength = 296;
constexpr uint32_t kRateWordOffset = 4;
constexpr uint32_t kRateEnableOffset = 8;
constexpr uint32_t kRateSettleMs = 500;
constexpr uint32_t kSpeedDisplayWords = 2;
constexpr uint32_t kSpeedSetWords = 7;

enum PhyOptionId : uint32_t {
    kOptionNone = 0,
    kOptionAttached = 1,
    kOptionEdfb = 2,
    kOptionOn = 3,
    kOptionOff = 4,
    kOptionErrors = 5,
    kOptionSpeed = 6,
};

struct PhyRequest {
    uint32_t option = kOptionNone;
    int32_t first = 0;
    int32_t last = 0;
    uint8_t minRate = 0;  // 1..3 as typed
    uint8_t maxRate = 0;
};

// Parameters an option takes: none, one phy list, or the -speed forms.
enum class PhyParameters { None, PhyList, Speed };

using PhyAction = uint32_t (*)(const PhyRequest& request);

struct PhyOption {
    const char* name;
    uint32_t id;
    PhyParameters parameters;
    PhyAction run;
};

uint32_t showAttached(const PhyRequest&) {
    PhyReadContext context;
    return printAttachedDeviceTable(&context);
}

uint32_t showEdfb(const PhyRequest&) {
    PhyReadContext context;
    return printEdfbTable(&context);
}

uint32_t showErrors(const PhyRequest&) {
    PhyReadContext context;
    return printErrorCounterTable(&context);
}

// The phy -on and -off act on: the first of the list, never a virtual one.
bool switchablePhy(const PhyRequest& request, uint32_t* phy) {
    uint32_t count = 0;
    if (getPhyCount(&count) != 0) {
        logError("Unable to get the total Phy number.");
        return false;
    }
    *phy = static_cast<uint32_t>(request.first);
    if (isVirtualPhy(*phy, count)) {
        logError("Phy On/Off operation can't be performed for this Phy");
        return false;
    }
    return true;
}

// Prints the state after a change; true when it is the one wanted.
bool reportChangedState(uint32_t phy, bool wantEnabled) {
    const bool enabled = isPhyEnabled(phy);
    logPrintLine("Changed State : %s", enabled ? "Enabled" : "Disabled");
    return enabled == wantEnabled;
}

uint32_t switchOn(const PhyRequest& request) {
    uint32_t phy = 0;
    if (!switchablePhy(request, &phy))
        return 1;
    if (isPhyEnabled(phy)) {
        logPrintLine("Phy already enabled");
        return 0;
    }
    logPrintLine("Current State : Disabled");
    if (linkResetPhy(phy) != 0) {
        logPrintLine("Failed to enable Phy %u.", phy);
        return 1;
    }
    return reportChangedState(phy, true) ? 0 : 1;
}

uint32_t switchOff(const PhyRequest& request) {
    uint32_t phy = 0;
    if (!switchablePhy(request, &phy))
        return 1;
    if (!isPhyEnabled(phy)) {
        logPrintLine("Phy already disabled");
        return 0;
    }
    logPrintLine("Current State : Enabled");
    uint32_t readBack = 0;
    if (disablePhy(phy, &readBack) != 0 || readBack != kPhyControlDisable) {
        logPrintLine("Failed to disable Phy %u.", phy);
        return 1;
    }
    return reportChangedState(phy, false) ? 0 : 1;
}

// Programs the phy's minimum and maximum rate codes; they take effect at the
// phy's next reset. 1 when the block cannot be read or a write fails.
uint32_t programLinkRates(Target* target, uint32_t phy, uint32_t minCode, uint32_t maxCode) {
    RateProgram program{};
    switch (rateProgram(minCode, maxCode, &program)) {
        case RateProgramStatus::Ok:
            break;
        case RateProgramStatus::BadMin:
            logError("Invalid Min Link rate value.");
            return 1;
        case RateProgramStatus::BadMax:
            logError("Invalid Max Link rate value.");
            return 1;
        case RateProgramStatus::MinAboveMax:
            logError("Invalid link rate. Min is greater than the Max link rate.");
            return 1;
    }
    const uint32_t base = phyLinkConfigBase(phy);
    uint8_t block[kLinkConfigLength] = {};
    if (readChipRegister(target, base, block, sizeof block) != 0)
        return 1;
    const uint32_t word = getLe32(block, kRateWordOffset);
    if (writeRegisterValue(target, base + kRateWordOffset, rateWordCleared(word, program)) != 0)
        return 1;
    sleepMilliseconds(kRateSettleMs);
    if (writeRegisterValue(target, base + kRateWordOffset, rateWordEnabled(word, program)) != 0 ||
        writeRegisterValue(target, base + kRateEnableOffset, rateEnableWord(program)) != 0) {
        return 1;
    }
    return 0;
}

uint32_t setSpeed(PhyReadContext* context, const PhyRequest& request) {
    const uint32_t first = static_cast<uint32_t>(request.first);
    const uint32_t end = static_cast<uint32_t>(request.last < 0 ? request.first : request.last) + 1;
    // Every phy of the list counts, a single one too.
    if (isVirtualPhy(end - 1, context->phyCount)) {
        logError("User cannot modify the link rate values for virtual phys.");
        return 1;
    }
    logPrintLine("Current link rate values, \n");
    if (printLinkRateTable(context, first, end) != 0)
        return 1;
    for (uint32_t phy = first; phy < end; ++phy) {
        if (programLinkRates(context->target, phy, request.minRate + kUserRateOffset,
                             request.maxRate + kUserRateOffset) != 0 ||
            hardResetPhy(phy) != 0) {
            logError("Unable to change the speed for Phy '%d'", static_cast<int>(phy));
            return 1;
        }
    }
    logPrintLine("\nProgramed link rate values, \n");
    return printLinkRateTable(context, first, end);
}

uint32_t showOrSetSpeed(const PhyRequest& request) {
    PhyReadContext context;
    if (loadPhyContext(&context) != 0) {
        logError("Unable to get the total Phy number.");
        return 1;
    }
    if (request.first < 0)
        return printLinkRateTable(&context, 0, context.phyCount);
    return setSpeed(&context, request);
}

constexpr PhyOption kPhyOptions[] = {
    {"-da", kOptionAttached, PhyParameters::None, showAttached},
    {"-edfb", kOptionEdfb, PhyParameters::None, showEdfb},
    {"-on", kOptionOn, PhyParameters::PhyList, switchOn},
    {"-off", kOptionOff, PhyParameters::PhyList, switchOff},
    {"-err", kOptionErrors, PhyParameters::None, showErrors},
    {"-speed", kOptionSpeed, PhyParameters::Speed, showOrSetSpeed},
};

const PhyOption* findPhyOption(const char* word) {
    for (const PhyOption& option : kPhyOptions) {
        if (std::strcmp(word, option.name) == 0)
            return &option;
    }
    return nullptr;
}

// One speed value as typed: a single digit 1..3.
bool parseSpeedValue(const char* text, uint8_t* value) {
    if (std::strlen(text) != 1 || !isDecimalString(text))
        return false;
    *value = static_cast<uint8_t>(text[0] - '0');
    return *value >= 1 && *value <= 3;
}

// -speed alone, or -speed -set <min> <max> -p <phy list>; `at` is -speed.
uint32_t parseSpeed(uint32_t count, char** words, uint32_t at, PhyRequest* request) {
    if (count == kSpeedDisplayWords) {
        request->first = -1;
        request->last = -1;
        return 0;
    }
    if (count != kSpeedSetWords || at + 5 >= count) {
        logError("Invalid argument(s) specified. Use valid argument(s) for setting up link speed");
        return 1;
    }
    if (std::strcmp(words[at + 1], "-set") != 0) {
        logError("Invalid argument '%s' specified instead of '-set'.", words[at + 1]);
        return 1;
    }
    if (std::strcmp(words[at + 4], "-p") != 0) {
        logError("Invalid argument '%s' specified instead of '-p'.", words[at + 4]);
        return 1;
    }
    if (!parseSpeedValue(words[at + 2], &request->minRate) ||
        !parseSpeedValue(words[at + 3], &request->maxRate)) {
        logError("Invalid min/max value specified. Use valid integer between 1 to 3");
        return 1;
    }
    if (request->minRate > request->maxRate) {
        logError("Invalid min/max value specified. Min value should be lesser than the Max value.");
        return 1;
    }
    return parsePhyList(words[at + 5], &request->first, &request->last);
}

// Walks the words after `phy` into one request, or reports why not.
uint32_t parsePhyRequest(uint32_t count, char** words, const PhyOption** chosen,
                         PhyRequest* request) {
    for (uint32_t i = 1; i < count; ++i) {
        const PhyOption* option = findPhyOption(words[i]);
        if (option == nullptr) {
            logError("Invalid/Unknown argument '%s' specified.", words[i]);
            return 1;
        }
        if (*chosen != nullptr) {
            logError("Argument '%s' cannot be used with other arguments.", words[i]);
            return 1;
        }
        *chosen = option;
        request->option = option->id;
        switch (option->parameters) {
            case PhyParameters::None:
                break;
            case PhyParameters::PhyList:
                if (i + 1 >= count) {
                    logError("Argument '%s' requires mandatory Phy number.", words[i]);
                    return 1;
                }
                ++i;
                if (parsePhyList(words[i], &request->first, &request->last) != 0)
                    return 1;
                break;
            case PhyParameters::Speed:
                if (parseSpeed(count, words, i, request) != 0)
                    return 1;
                // The -set form consumes the rest of the line.
                i = count;
                break;
        }
    }
    return 0;
}

}  // namespace

uint32_t expanderPhyCommand(uint32_t count, char** words) {
    if (currentExpander() == nullptr) {
        logError("Select valid device. Device is not selected.");
        return 1;
    }
    if (count < 2) {
        logError("Invalid command syntax or unknown argument(s) specified.");
        return 1;
    }
    const PhyOption* option = nullptr;
    PhyRequest request;
    if (parsePhyRequest(count, words, &option, &request) != 0)
        return 1;
    return option->run(request);
}

uint32_t expanderPhyUsage() {
    logPrintLine("PHY Operations");
    logPrintLine("The command is to display PHY information and perform PHY operations");
    logPrintLine("%4s %s", " ", "phy -da");
    logPrintLine("%8s %s", " ", "-da : Displays direct attached devices");
    logPrintLine("%4s %s", " ", "phy -edfb");
    logPrintLine("%8s %s", " ", "-edfb : Displays the EDFB Details");
    logPrintLine("%4s %s", " ", "phy -on <PHY ID>");
    logPrintLine("%8s %s", " ", "-on : Sets the PHY in online mode");
    logPrintLine("%4s %s", " ", "phy -off <PHY ID>");
    logPrintLine("%8s %s", " ", "-off : Sets the PHY in offline mode");
    logPrintLine("%4s %s", " ", "phy -err");
    logPrintLine("%8s %s", " ", "-err : Displays PHY error counters");
    logPrintLine("%4s %s", " ", "phy -speed [-set <min value> <max value> -p <PHY ID>]");
    logPrintLine("%8s %s", " ", "-speed : Displays current PHY speed for each PHY");
    logPrintLine("%8s %s", " ", "-set : Sets the Minimum and Maximum PHY speed");
    logPrintLine("%15s %s", " ", "Speed values are 1: 3G, 2: 6G, 3: 12G");
    logPrintLine("%15s %s", " ", "PHY ID can be a range or single phy");
    logPrintLine("Example : phy -edfb");
    logPrintLine("Example : phy -speed -set 1 3 -p 0-3");
    logPrintLine("Example : phy -speed -set 2 3 -p 0");
    return 0;
}
