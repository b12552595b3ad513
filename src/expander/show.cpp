#include "expander/show.h"

#include <cstring>

#include "expander/expander_access.h"
#include "expander/show_values.h"
#include "shell/byte_buffer.h"
#include "shell/bytes.h"
#include "shell/device_text.h"
#include "shell/logger.h"
#include "shell/parse.h"
#include "targets/expander_device.h"
#include "targets/scsi_status.h"
#include "targets/target_list.h"

namespace {

constexpr uint16_t kPagePlatformSerial = 0xFE02;
constexpr uint16_t kPageMacAddress = 0xFE05;
constexpr uint16_t kPageManufacturing = 0xFF0F;
constexpr uint16_t kPageNetwork = 0xFF27;

// Family without a management port: no MAC and no IP address.
constexpr uint32_t kFamilyWithoutNetwork = 5;

constexpr uint32_t kSensorControl = 0x43400000;
constexpr uint32_t kSensorEnable = 0x43400004;
constexpr uint32_t kSensorSample = 0x4340000C;
constexpr uint32_t kSensorReady = 0x43400010;
constexpr uint32_t kSensorEnable2 = 0x43400014;
constexpr uint32_t kSensorControlClearMask = 0x114;

constexpr const char* kNotAvailable = "Not Available";
constexpr uint32_t kVpdHeaderLength = 4;

uint32_t showMacAddress(Target* target) {
    ByteBuffer page;
    uint32_t length = 0;
    if (readExpanderPage(target, kPageMacAddress, kPageRegionNone, &page, &length) != 0 ||
        length <= 9) {
        logPrintLine("%-25s :    %s", "MAC Address", kNotAvailable);
        return 1;
    }
    logPrint("%-25s :    %02X", "MAC Address", page[4]);
    for (size_t i = 5; i <= 9; ++i)
        logPrint("-%02X", page[i]);
    logPrintLine("");
    return 0;
}

// The address the network assigned, from VPD page 0x85.
uint32_t showManagementAddress(Target* target) {
    ByteBuffer reply;
    if (!reply.allocate(256)) {
        logError("Unable to allocate memory.");
        return 1;
    }
    static constexpr uint8_t kInquiryCdb[6] = {kOpInquiry, 0x01, 0x85, 0x00, 0xFF, 0x00};
    ExpanderDevice* device = expanderOf(target);
    // The page is usually shorter than the allocation: what did not arrive
    // stays zero, and a reply without even the page header holds nothing.
    uint32_t received = 0;
    if (device->read(target, kInquiryCdb, sizeof kInquiryCdb, reply.data(),
                     static_cast<uint32_t>(reply.size()), &received) != 0 ||
        received < kVpdHeaderLength) {
        logPrint("%s \n", kNotAvailable);
        return 0;
    }
    char text[kManagementAddressLength + 1] = {};
    if (!managementAddressText(reply.data(), text, sizeof text)) {
        logPrint("%s \n", kNotAvailable);
        return 0;
    }
    logPrint("%s \n", text);
    return 0;
}

uint32_t showIpAddress(Target* target) {
    logPrint("%-25s :    ", "IP Address");
    ByteBuffer page;
    uint32_t length = 0;
    if (readExpanderPage(target, kPageNetwork, kPageRegionNone, &page, &length) != 0) {
        logPrint("%s\n", kNotAvailable);
        return 1;
    }
    // The address mode sits at byte 28: a shorter page holds no usable address.
    if (length <= 28) {
        logPrint("%s\n", kNotAvailable);
        return 0;
    }
    if (page[28] == 0) {
        logPrint("%d", page[4]);
        for (size_t i = 5; i <= 7; ++i)
            logPrint(".%d", page[i]);
        logPrintLine("");
        return 0;
    }
    if (showManagementAddress(target) != 0) {
        logPrint("%s\n", kNotAvailable);
        return 1;
    }
    return 0;
}

// Device text of the page between two offsets, never beyond its end.
void printCharacters(const ByteBuffer& page, size_t from, size_t to) {
    if (to > page.size())
        to = page.size();
    if (from < to)
        printDeviceText(page.data() + from, to - from);
}

uint32_t showManufacturingPage(Target* target) {
    ByteBuffer page;
    uint32_t length = 0;
    if (readExpanderPage(target, kPageManufacturing, kPageRegionNone, &page, &length) != 0 ||
        length <= 47) {
        return 1;
    }
    logPrintLine("%-25s :    %02d:%02d:%02d:%02d", "Mfg. Associated FW Rev", page[8], page[9],
                 page[10], page[11]);
    logPrintLine("%-25s :    %02d:%02d:%02d:%02d", "Mfg. Revision", page[12], page[13], page[14],
                 page[15]);
    logPrint("%-25s :    ", "Product Name");
    printCharacters(page, 20, 34);
    logPrintLine("");
    logPrint("%-25s :", "Platform Name");
    printCharacters(page, 34, length);
    logPrintLine("");
    const MfgTimeStamp stamp = decodeTimeStamp(getLe32(page.data(), 16));
    logPrintLine("%-25s :    %02d/%02d/%02d  %02d:%02d", "TimeStamp", static_cast<int>(stamp.month),
                 static_cast<int>(stamp.day), static_cast<int>(stamp.year),
                 static_cast<int>(stamp.hour), static_cast<int>(stamp.minute));
    return 0;
}

uint32_t showPlatformSerial(Target* target) {
    ByteBuffer page;
    uint32_t length = 0;
    if (readExpanderPage(target, kPagePlatformSerial, kPageRegionNone, &page, &length) != 0) {
        return 1;
    }
    logPrint("%-25s :    ", "Platform Serial");
    if (length > 25)
        printCharacters(page, 8, 18);
    logPrintLine("");
    return 0;
}

uint32_t showRevision(Target* target) {
    const ExpanderDevice* device = expanderOf(target);
    const uint32_t v = device->firmwareVersion;
    logPrintLine("%-25s :    %02d.%02d.%02d.%02d", "Firmware Version", static_cast<int>(v >> 24),
                 static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                 static_cast<int>(v & 0xFF));
    logPrintLine("%-25s :    %s", "SAS Address", formatSasAddress(device->sasAddress));
    logPrintLine("%-25s :    %s", "Product Id", target->name);
    return 0;
}

uint32_t showManufacturing(Target* target) {
    if (target->family != kFamilyWithoutNetwork) {
        showMacAddress(target);
        showIpAddress(target);
    }
    showManufacturingPage(target);
    showPlatformSerial(target);
    return 0;
}

uint32_t setRegisterBits(Target* target, uint32_t address, uint32_t set, uint32_t clear) {
    uint32_t value = 0;
    if (readRegisterValue(target, address, &value) != 0)
        return 1;
    return writeRegisterValue(target, address, (value & ~clear) | set);
}

// Switches the sensor on and takes one sample; 0 in *raw when none is ready.
uint32_t sampleTemperature(Target* target, uint32_t* raw) {
    if (setRegisterBits(target, kSensorControl, 0, kSensorControlClearMask) != 0)
        return 1;
    for (const uint32_t address : {kSensorReady, kSensorEnable2, kSensorEnable}) {
        if (setRegisterBits(target, address, 1, 0) != 0)
            return 1;
    }
    uint32_t ready = 0;
    if (readRegisterValue(target, kSensorReady, &ready) != 0)
        return 1;
    *raw = 0;
    if ((ready & 1) == 0)
        return 0;
    uint32_t sample = 0;
    if (readRegisterValue(target, kSensorSample, &sample) != 0)
        return 1;
    // Re-arm the sensor for the next sample.
    if (setRegisterBits(target, kSensorReady, 1, 0) != 0)
        return 1;
    *raw = sample % 1024;
    return 0;
}

uint32_t showTemperature(Target* target) {
    logPrint("%-25s :    ", "Temperature *C/*F");
    uint32_t raw = 0;
    if (sampleTemperature(target, &raw) != 0) {
        // The label stays without a value, on a line of its own; an error
        // message of the sensor transfer has already ended that line.
        if (consoleLineOpen())
            logPrintLine("");
        return 1;
    }
    char text[64];
    if (formatTemperature(raw, text, sizeof text)) {
        logPrint("%s", text);
    } else {
        logPrint("Not available \n");
    }
    logPrintLine("");
    return 0;
}

uint32_t showAll(Target* target) {
    showRevision(target);
    showManufacturing(target);
    showTemperature(target);
    return 0;
}

struct ShowOption {
    const char* name;
    uint32_t (*run)(Target* target);
};
constexpr ShowOption kShowOptions[] = {
    {"-mfg", showManufacturing},
    {"-temp", showTemperature},
    {"-rev", showRevision},
    {"-all", showAll},
};

}  // namespace

uint32_t expanderShowCommand(uint32_t count, char** words) {
    Target* target = currentExpander();
    if (target == nullptr) {
        logError("Please select valid device. Device is not selected.");
        return 1;
    }
    if (count <= 1)
        return showAll(target);
    if (count == 2) {
        for (const ShowOption& option : kShowOptions) {
            if (std::strcmp(words[1], option.name) == 0)
                return option.run(target);
        }
    }
    logError("Invalid argument(s) specified.");
    return 1;
}

uint32_t expanderShowUsage() {
    logPrintLine("Show Operations :");
    logPrintLine("This command will display all the basic details of Expander");
    logPrintLine("%4s %s", " ", " show -all / show ");
    logPrintLine("%9s %s", " ", " -all   :  Will display all the details");
    logPrintLine("%4s %s", " ", " show -rev");
    logPrintLine("%9s %s", " ", " -rev   :  Will display all the firmware related information");
    logPrintLine("%4s %s", " ", " show -temp");
    logPrintLine("%9s %s", " ", " -temp  :  Will display Expander temperature");
    logPrintLine("%4s %s", " ", " show -mfg");
    logPrintLine("%9s %s", " ", " -mfg   :  Will display Expander manfacturing details");
    logPrintLine(" Example : show -rev");
    return 0;
}
