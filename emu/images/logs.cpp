// Trace buffers and health logs.
#include <algorithm>
#include <cstdio>

#include "images/images.h"
#include "images/le_bytes.h"

namespace qemu::images {

using bytes::putLe16;
using bytes::putLe32;

std::vector<uint8_t> buildTraceBuffer(const TraceBufferOptions& options) {
    std::vector<uint8_t> table;
    for (const TraceModule& module : options.modules) {
        std::vector<uint8_t> data = {0x5A, 0xA5};  // two leading bytes readers skip
        for (const std::string& s : module.strings) {
            data.insert(data.end(), s.begin(), s.end());
            data.push_back(0);
        }
        while (data.size() % 4 != 0) {
            data.push_back(0);
        }
        uint8_t head[16] = {};
        head[0] = module.id;
        putLe16(head + 2,
                module.stringCountOverride.value_or(static_cast<uint16_t>(module.strings.size())));
        putLe32(head + 4, static_cast<uint32_t>(data.size()));
        putLe32(head + 8, 0x00010000u | module.id);
        table.insert(table.end(), head, head + 16);
        table.insert(table.end(), data.begin(), data.end());
    }
    // Header and string table in one allocation: g++ 12 at -O3 warns (falsely)
    // about growing a 16-byte vector by insert.
    std::vector<uint8_t> buffer(16 + table.size(), 0);
    std::copy(table.begin(), table.end(), buffer.begin() + 16);
    putLe32(buffer.data(), options.version);
    putLe32(buffer.data() + 4, options.headerWord);
    putLe32(buffer.data() + 8, options.flags);
    putLe32(buffer.data() + 12,
            options.stringTableSizeOverride.value_or(static_cast<uint32_t>(table.size())));
    for (const TraceRecord& record : options.records) {
        uint8_t count = record.argCountOverride.value_or(static_cast<uint8_t>(record.args.size()));
        uint32_t descriptor = (static_cast<uint32_t>(count) << 24) |
                              (static_cast<uint32_t>(record.module) << 16) |
                              static_cast<uint16_t>(record.string + 1);
        uint8_t word[4];
        putLe32(word, descriptor);
        buffer.insert(buffer.end(), word, word + 4);
        for (uint32_t arg : record.args) {
            putLe32(word, arg);
            buffer.insert(buffer.end(), word, word + 4);
        }
    }
    return buffer;
}

TraceBufferOptions sampleTrace() {
    TraceBufferOptions options;
    options.modules = {
        {1,
         {"Expander firmware started\n", "Phy %d link up at rate code %d\n",
          "Phy %d link down, reason 0x%x\n", "Discovery pass %d found %d devices in %d ms\n",
          "TSTAMP", "SES page 0x%x read by initiator %s\n"},
         {}},
        {2, {"Temperature sample %d raw 0x%x\n", "Fan zone %d set to %d%%\n"}, {}},
        {7, {"Flash region 0x%x written, %d bytes at 0x%x, status %d\n"}, {}},
    };
    options.records = {
        {1, 4, {0, 1500}, {}},
        {1, 0, {}, {}},
        {1, 4, {0, 2310}, {}},
        {1, 1, {0, 11}, {}},
        {1, 1, {4, 10}, {}},
        {1, 2, {9, 0x12}, {}},
        {1, 3, {1, 12, 48}, {}},
        {2, 0, {1, 400}, {}},
        {2, 1, {0, 45}, {}},
        {1, 5, {0x12, 0xC0000000}, {}},
        {7, 0, {0x84, 4096, 0, 0}, {}},
        {9, 0, {0xDEAD, 0xBEEF}, {}},  // module without strings: raw words
        {1, 4, {1, 3723004}, {}},
    };
    return options;
}

std::vector<uint8_t> buildHealthLog(const std::vector<HealthLogEntry>& entries, size_t capacity) {
    if (capacity == 0) {
        capacity = (entries.size() + 1) * kHealthEntrySize;
    }
    std::vector<uint8_t> buffer(capacity, 0);
    size_t offset = 0;
    for (const HealthLogEntry& e : entries) {
        if (offset + kHealthEntrySize > capacity) {
            break;
        }
        uint8_t* p = buffer.data() + offset;
        putLe32(p, static_cast<uint32_t>(e.timestamp));
        putLe32(p + 4, static_cast<uint32_t>(e.timestamp >> 32));
        putLe32(p + 8, e.reserved);
        putLe16(p + 12, e.sequence);
        putLe16(p + 14, e.qualifier);
        putLe32(p + 16, e.code);
        putLe16(p + 20, e.locale);
        p[22] = e.argumentType;
        p[23] = e.logClass;
        for (size_t i = 0; i < e.data.size(); ++i) {
            putLe32(p + 24 + 4 * i, e.data[i]);
        }
        offset += kHealthEntrySize;
    }
    return buffer;
}

std::string renderHealthLogText(const std::vector<HealthLogEntry>& entries) {
    std::string text;
    char line[160];
    for (const HealthLogEntry& e : entries) {
        if (e.timestamp == 0) {
            break;
        }
        std::snprintf(line, sizeof line,
                      "[%010llu.%03llu] seq %5u class %u code 0x%08X locale 0x%04X qual 0x%04X "
                      "args %08X %08X\n",
                      static_cast<unsigned long long>(e.timestamp / 1000),
                      static_cast<unsigned long long>(e.timestamp % 1000), e.sequence, e.logClass,
                      e.code, e.locale, e.qualifier, e.data[0], e.data[1]);
        text += line;
    }
    return text;
}

std::vector<HealthLogEntry> sampleHealthLog() {
    std::vector<HealthLogEntry> entries(4);
    entries[0].timestamp = 0x0000000100000010ull;
    entries[0].sequence = 1;
    entries[0].code = 0x00010001;  // power on
    entries[0].locale = 0x0001;
    entries[0].logClass = 1;
    entries[0].data = {0x03000200, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    entries[1].timestamp = 0x0000000100002710ull;
    entries[1].sequence = 2;
    entries[1].qualifier = 0x0004;
    entries[1].code = 0x00020005;  // phy link change
    entries[1].locale = 0x0002;
    entries[1].argumentType = 1;
    entries[1].logClass = 2;
    entries[1].data = {4, 11, 0x4B4E494C /* "LINK" */, 0, 0, 0, 0, 0, 0, 0};
    entries[2].timestamp = 0x0000000200000000ull;
    entries[2].sequence = 3;
    entries[2].code = 0x00030002;  // temperature warning
    entries[2].locale = 0x0004;
    entries[2].argumentType = 2;
    entries[2].logClass = 3;
    entries[2].data = {
        0x43204220 /* " B C" */, 0xC3422041 /* "A B\xC3" */, 58, 0, 0, 0, 0, 0, 0, 0x0000FFFF};
    entries[3].timestamp = 0x0000000200001000ull;
    entries[3].sequence = 4;
    entries[3].qualifier = 0x0001;
    entries[3].code = 0x00070010;  // flash update
    entries[3].locale = 0x0008;
    entries[3].logClass = 1;
    entries[3].data = {0x81, 0x10000, 0x46415348, 0, 0, 0, 0, 0, 0, 0};
    return entries;
}

}  // namespace qemu::images
