#include "hba/db_args.h"

#include <cstdio>
#include <cstring>

#include "shell/parse.h"
#include "xollib/xollib2.h"

namespace {

struct DbWord {
    const char* word;
    uint32_t code;
};
constexpr DbWord kDbWords[] = {
    {"-register", kDbOptionRegister},
    {"-query", kDbOptionQuery},
    {"-read", kDbOptionRead},
    {"-release", kDbOptionRelease},
    {"-unregister", kDbOptionUnregister},
    {"-size", kDbOptionSize},
    {"-popt", kDbOptionPopt},
    {"-iopmask", kDbOptionIopMask},
    {"-plmask", kDbOptionPlMask},
    {"-irmask", kDbOptionIrMask},
    {"-trace", kDbOptionTrace},
    {"-snapshot", kDbOptionSnapshot},
    {"-file", kDbOptionFile},
};

// The longest valid commands: `db -release -trace`, `db -query -trace -size N`.
constexpr uint32_t kMaxReleaseWords = 3;
constexpr uint32_t kMaxQueryWords = 5;
constexpr uint64_t kMaxSizeKb = 8192;
constexpr uint32_t kKilobyte = 1024;
constexpr size_t kHexWordLength = 8;
constexpr uint32_t kTraceMinimum = 0x1FFFF;  // a given trace size must be above
constexpr uint32_t kSnapshotMinimum = 0x1FFFFF;
constexpr uint32_t kTraceDefault = 0x20000;
constexpr uint32_t kSnapshotDefault = 0x200000;

uint32_t codeOf(const char* word) {
    for (const DbWord& row : kDbWords) {
        if (std::strcmp(word, row.word) == 0)
            return row.code;
    }
    return kDbOptionNone;
}

uint32_t fail(std::string* error, std::string message) {
    *error = std::move(message);
    return 1;
}

// Exactly eight hexadecimal digits.
bool isHexWord(const char* text) {
    for (size_t i = 0; i < kHexWordLength; ++i) {
        const char c = text[i];
        const bool digit =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit)
            return false;
    }
    return true;
}

struct HexValueNames {
    const char* empty;
    const char* flag;
    const char* name;
};

// 0 with *value from an eight-digit word; 1 with the message.
uint32_t parseHexWord(const char* word, const HexValueNames& names, uint32_t* value,
                      std::string* error) {
    if (std::strlen(word) != kHexWordLength) {
        return fail(error, std::string("Value for '") + names.flag +
                               "' flag is not in xxxxxxxx hex format.");
    }
    if (!isHexWord(word) || parseHex32(word, value) != 0)
        return fail(error, std::string("Invalid hex value specified for ") + names.name + ".");
    return 0;
}

uint32_t parseSize(const char* word, DbRequest* request, std::string* error) {
    if (!isDecimalString(word) || word[0] == '\0')
        return fail(error, "Invalid integer for -size argument");
    // Compared in kilobytes before multiplying, so no value can wrap.
    uint64_t kb = 0;
    if (!parseDecimalChecked(word, &kb) || kb > kMaxSizeKb)
        return fail(error, "Buffer size unsupported");
    request->size = static_cast<uint32_t>(kb) * kKilobyte;
    request->sizeGiven = true;
    return 0;
}

}  // namespace

uint32_t parseDbArguments(uint32_t count, const char* const* words, DbRequest* request,
                          std::string* error) {
    *request = DbRequest();
    if (count < 2)
        return fail(error, "Invalid number of arguments.");
    for (uint32_t i = 1; i < count; ++i) {
        const char* word = words[i];
        const uint32_t code = codeOf(word);
        const bool hasValue = i + 1 < count;
        switch (code) {
            case kDbOptionNone:
                return fail(error, std::string("Invalid Argument '") + word + "' specified");
            case kDbOptionRegister:
            case kDbOptionQuery:
            case kDbOptionRead:
            case kDbOptionRelease:
            case kDbOptionUnregister: {
                const bool idOnly = code == kDbOptionRelease || code == kDbOptionUnregister;
                if ((idOnly && count > kMaxReleaseWords) ||
                    (code == kDbOptionQuery && count > kMaxQueryWords)) {
                    return fail(error, std::string("Invalid argument(s) sepcified for ") + word +
                                           " command");
                }
                if (request->action == kDbOptionNone)
                    request->action = code;
                break;
            }
            case kDbOptionSize:
                if (!hasValue)
                    return fail(error, "Value for size argument is empty");
                if (parseSize(words[++i], request, error) != 0)
                    return 1;
                break;
            case kDbOptionPopt:
                if (!hasValue)
                    return fail(error, "Value for POPT argument is empty");
                if (parseHexWord(words[++i], {nullptr, "-popt", "POPT Mask"},
                                 &request->productOption, error) != 0) {
                    return 1;
                }
                break;
            case kDbOptionIopMask:
            case kDbOptionPlMask:
            case kDbOptionIrMask: {
                static const HexValueNames kNames[] = {
                    {"Value for IOP Mask argument is empty", "-iopmask", "IOP Mask"},
                    {"Value for PL Mask argument is empty", "-plmask", "PL Mask"},
                    {"Value for IR Mask argument is empty", "-irmask", "IR Mask"},
                };
                const HexValueNames& names = kNames[code - kDbOptionIopMask];
                uint32_t* mask = code == kDbOptionIopMask  ? request->iopMask
                                 : code == kDbOptionPlMask ? request->plMask
                                                           : request->irMask;
                if (i + 2 >= count)
                    return fail(error, names.empty);
                for (int w = 0; w < 2; ++w) {
                    if (parseHexWord(words[++i], names, &mask[w], error) != 0)
                        return 1;
                }
                break;
            }
            case kDbOptionTrace:
            case kDbOptionSnapshot:
                if (request->typeGiven)
                    return fail(error, "Mutiple buffer type arguments specified");
                request->typeGiven = true;
                request->bufferType = code == kDbOptionTrace ? kDbBufferTrace : kDbBufferSnapshot;
                request->typeWord = request->bufferType;
                break;
            case kDbOptionFile:
                // Without a name the file stays empty and read asks for one.
                if (hasValue)
                    request->file = words[++i];
                break;
            default: {
                char text[32];
                std::snprintf(text, sizeof text, "Unknown option %x", code);
                return fail(error, text);
            }
        }
    }
    if (!request->typeGiven)
        return fail(error, "Buffer Type not specified");
    return 0;
}

uint32_t checkDbSize(DbRequest* request, std::string* error) {
    const bool trace = request->bufferType == kDbBufferTrace;
    if (!request->sizeGiven) {
        request->size = trace ? kTraceDefault : kSnapshotDefault;
        return 0;
    }
    if (trace && request->size <= kTraceMinimum) {
        return fail(error,
                    "Invalid size specified for Trace Buffer. Size should be greater than 128KB");
    }
    if (!trace && request->size <= kSnapshotMinimum)
        return fail(error, "Invalid size specified for Snapshot Buffer");
    return 0;
}

void dbProductWords(const DbRequest& request, uint32_t* words) {
    for (uint32_t i = 0; i < kXolDiagProductWords; ++i)
        words[i] = 0;
    words[0] = request.productOption;
    words[1] = request.iopMask[0];
    words[2] = request.iopMask[1];
    words[3] = request.plMask[0];
    words[4] = request.plMask[1];
    words[5] = request.irMask[0];
    words[6] = request.irMask[1];
}

DbQueryLines dbQueryLines(uint16_t appFlags) {
    DbQueryLines lines;
    if ((appFlags & kXolDiagFlagRegistered) != 0)
        lines.info.push_back("Buffer was registered by an application");
    if ((appFlags & kXolDiagFlagValidData) != 0)
        lines.info.push_back("Buffer contains valid data");
    if ((appFlags & kXolDiagFlagFirmwareAccess) != 0)
        lines.error = "Buffer being accessed by firmware";
    return lines;
}
