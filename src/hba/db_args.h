// HBA `db`: the command line and the query answer as plain data. Nothing
// here touches a device or the console, so tests and fuzzers call it directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint32_t kDbBufferTrace = 0;
inline constexpr uint32_t kDbBufferSnapshot = 1;

enum DbOption : uint32_t {
    kDbOptionNone = 0,
    kDbOptionRegister = 1,
    kDbOptionQuery = 2,
    kDbOptionRead = 3,
    kDbOptionRelease = 4,
    kDbOptionUnregister = 5,
    kDbOptionSize = 6,
    kDbOptionPopt = 7,
    kDbOptionIopMask = 8,
    kDbOptionPlMask = 9,
    kDbOptionIrMask = 10,
    kDbOptionTrace = 11,
    kDbOptionSnapshot = 12,
    kDbOptionFile = 13,
};

// One command's request, built afresh for every `db`: nothing carries over
// to the next command in interactive or batch mode.
struct DbRequest {
    uint32_t action = kDbOptionNone;  // the first action word on the line
    bool typeGiven = false;
    uint32_t bufferType = kDbBufferTrace;
    uint32_t typeWord = 0;
    bool sizeGiven = false;
    uint32_t size = 0;  // bytes
    uint32_t productOption = 0;
    uint32_t iopMask[2] = {};
    uint32_t plMask[2] = {};
    uint32_t irMask[2] = {};
    std::string file;
};

// 0 with *request filled; 1 with *error holding the message to report.
uint32_t parseDbArguments(uint32_t count, const char* const* words, DbRequest* request,
                          std::string* error);

// The size rule of register, query and read: a given size must be above
// 128 KB for trace and 2 MB for snapshot buffers; no size means exactly
// those. 0, or 1 with *error.
uint32_t checkDbSize(DbRequest* request, std::string* error);

// The 23 product-specific register words: option, then the IOP, PL and IR
// masks, first word first; the rest zero.
void dbProductWords(const DbRequest& request, uint32_t* words);

// What a query's application flags say, one text per set bit in the order
// 1, 2, 4; failed is set when the firmware holds the buffer (bit 4).
struct DbQueryLines {
    std::vector<const char*> info;
    const char* error = nullptr;
};
DbQueryLines dbQueryLines(uint16_t appFlags);
