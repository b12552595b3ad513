#include "expander/trace_decoder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "expander/terminal_text.h"
#include "expander/trace_format.h"
#include "shell/bytes.h"

namespace {

constexpr uint32_t kStringRecordHeader = 16;
constexpr uint32_t kStringDataSkip = 2;  // two bytes before the first string
constexpr uint32_t kMaxArguments = 4;
constexpr size_t kModules = 256;

// calloc'd array of plain values: allocation failure is an answer, not a throw.
template <typename T>
class PlainArray final {
  public:
    bool allocate(size_t count) {
        data_.reset(static_cast<T*>(std::calloc(count == 0 ? 1 : count, sizeof(T))));
        return data_ != nullptr;
    }
    T& operator[](size_t i) { return data_.get()[i]; }
    const T& operator[](size_t i) const { return data_.get()[i]; }

  private:
    struct FreeDeleter {
        void operator()(T* p) const { std::free(p); }
    };
    std::unique_ptr<T, FreeDeleter> data_;
};

struct StringRecord {
    uint8_t module;
    uint32_t count;
    uint32_t dataOffset;  // of the strings' data, past the record header
    uint32_t dataLength;
};

struct StringRef {
    uint32_t offset;  // in the index's text
    uint32_t length;
};

// Calls visit(offset, length) for each zero-terminated string of a record,
// at most its count; an unterminated tail is no string.
template <typename Visit>
void forEachString(const uint8_t* data, const StringRecord& record, Visit visit) {
    if (record.dataLength <= kStringDataSkip)
        return;
    uint32_t pos = record.dataOffset + kStringDataSkip;
    const uint32_t end = record.dataOffset + record.dataLength;
    for (uint32_t n = 0; n < record.count && pos < end; ++n) {
        const void* zero = std::memchr(data + pos, 0, end - pos);
        if (zero == nullptr)
            return;
        const uint32_t length =
            static_cast<uint32_t>(static_cast<const uint8_t*>(zero) - data) - pos;
        visit(pos, length);
        pos += length + 1;
    }
}

// The string table, loaded once per buffer: every module's strings numbered
// on across its records in buffer order, so a lookup is two array reads.
class TraceIndex final {
  public:
    // false when memory ran out (reported by the caller).
    bool build(const uint8_t* data, size_t size, uint32_t tableEnd, TextSink& sink);
    // The format of string k of module m; false when there is none.
    bool lookup(uint8_t module, uint32_t k, std::string_view* format) const {
        if (k >= count_[module])
            return false;
        const StringRef& ref = refs_[first_[module] + k];
        *format = std::string_view(&text_[ref.offset], ref.length);
        return true;
    }

  private:
    uint32_t first_[kModules] = {};
    uint32_t count_[kModules] = {};
    PlainArray<StringRef> refs_;
    // Every format, cut to its longest and made safe for the terminal once.
    PlainArray<char> text_;
};

bool TraceIndex::build(const uint8_t* data, size_t size, uint32_t tableEnd, TextSink& sink) {
    // First the records: each takes at least its 16-byte header.
    PlainArray<StringRecord> records;
    if (!records.allocate(tableEnd / kStringRecordHeader + 1))
        return false;
    size_t recordCount = 0;
    uint64_t offset = kTraceHeaderSize;
    while (offset < tableEnd) {
        const uint32_t length = offset + kStringRecordHeader <= size
                                    ? getLe32(data, static_cast<size_t>(offset) + 4)
                                    : 0;
        if (offset + kStringRecordHeader <= size && length == 0)
            break;  // a zero length ends the table
        if (offset + kStringRecordHeader + length > size) {
            char text[96];
            std::snprintf(text, sizeof text,
                          "Trace string record at offset %u does not fit in the buffer.",
                          static_cast<unsigned>(offset));
            sink.warn(text);
            break;
        }
        const uint16_t count = getLe16(data, static_cast<size_t>(offset) + 2);
        // A record without strings is passed over: its length still leads
        // to the next one.
        if (count != 0) {
            records[recordCount++] = {data[offset], count,
                                      static_cast<uint32_t>(offset + kStringRecordHeader), length};
        }
        offset += kStringRecordHeader + length;
    }

    uint64_t total = 0;
    uint64_t textBytes = 0;
    for (size_t i = 0; i < recordCount; ++i) {
        uint32_t n = 0;
        forEachString(data, records[i], [&](uint32_t, uint32_t length) {
            ++n;
            textBytes += length < kTraceFormatMax ? length : kTraceFormatMax;
        });
        count_[records[i].module] += n;
        total += n;
    }
    if (!refs_.allocate(static_cast<size_t>(total)) ||
        !text_.allocate(static_cast<size_t>(textBytes))) {
        return false;
    }
    uint32_t next = 0;
    for (size_t m = 0; m < kModules; ++m) {
        first_[m] = next;
        next += count_[m];
    }
    uint32_t filled[kModules] = {};
    uint32_t textUsed = 0;
    for (size_t i = 0; i < recordCount; ++i) {
        const uint8_t module = records[i].module;
        forEachString(data, records[i], [&](uint32_t at, uint32_t length) {
            const uint32_t kept = length < kTraceFormatMax ? length : kTraceFormatMax;
            for (uint32_t c = 0; c < kept; ++c)
                text_[textUsed + c] = terminalChar(data[at + c]);
            refs_[first_[module] + filled[module]++] = {textUsed, kept};
            textUsed += kept;
        });
    }
    return true;
}

void appendHexWord(uint32_t value, std::string* out) {
    char text[16];
    const int n = std::snprintf(text, sizeof text, "0x%X", value);
    out->append(text, static_cast<size_t>(n));
}

void appendDigits(uint32_t value, int width, std::string* out) {
    char text[12];
    int n = 0;
    do {
        text[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = n; i < width; ++i)
        out->push_back('0');
    while (n > 0)
        out->push_back(text[--n]);
}

// "<dd:hh:mm:ss.mmm> " from a day count in milliseconds and the time of day.
void appendTimeStamp(uint32_t first, uint32_t second, std::string* out) {
    out->push_back('<');
    appendDigits(first / 86400000u, 2, out);
    out->push_back(':');
    appendDigits((second / 3600000u) % 24, 2, out);
    out->push_back(':');
    appendDigits((second / 60000u) % 60, 2, out);
    out->push_back(':');
    appendDigits((second / 1000u) % 60, 2, out);
    out->push_back('.');
    appendDigits(second % 1000, 3, out);
    out->append("> ");
}

bool isTimeStamp(std::string_view format) {
    return format.substr(0, 6) == "TSTAMP";
}

}  // namespace

uint32_t decodeTraceBuffer(const uint8_t* data, size_t size, TextSink& sink) {
    // Offsets are 32-bit on the device; a device buffer is at most 16 MiB.
    if (data == nullptr || size < kTraceHeaderSize || size > UINT32_MAX) {
        sink.printLine(kTraceEmptyMessage);
        return 1;
    }
    char text[96];
    const uint32_t version = getLe32(data, 0);
    if (version != kTraceVersion) {
        sink.error("Invalid Trace header version. Only version '1' is supported.");
        std::snprintf(text, sizeof text, "  Found version '%d'", static_cast<int32_t>(version));
        sink.error(text);
        return 1;
    }
    const uint32_t tableSize = getLe32(data, 12);
    if (size - kTraceHeaderSize < tableSize) {
        sink.error("Invalid Trace header data. String length is greater than the data size.");
        return 1;
    }
    // The header check bounds the size by the table: both fit in 32 bits.
    std::snprintf(text, sizeof text, "Total trace buffer size '%zu'\n", size);
    sink.printLine(text);

    const uint32_t tableEnd = tableSize + kTraceHeaderSize;
    std::unique_ptr<TraceIndex> index(new (std::nothrow) TraceIndex);
    if (index == nullptr || !index->build(data, size, tableEnd, sink)) {
        sink.error("Error in allocating memory.");
        sink.debug("Freeing the memory.");
        return 1;
    }

    std::string line;
    line.reserve(4096);
    uint32_t args[kMaxArguments];
    // Words sit at multiples of 4; a table of odd size leaves the records
    // at the word the firmware would read.
    size_t offset = tableEnd & ~size_t{3};
    while (offset + 4 <= size) {
        const uint32_t descriptor = getLe32(data, offset);
        const size_t recordOffset = offset;
        offset += 4;
        const uint32_t n = descriptor >> 24;
        if (n > kMaxArguments)
            continue;
        if (offset + 4 * n > size) {
            std::snprintf(text, sizeof text,
                          "Trace record at offset %zu does not fit in the buffer.", recordOffset);
            sink.warn(text);
            break;
        }
        for (uint32_t i = 0; i < n; ++i)
            args[i] = getLe32(data, offset + 4 * i);
        offset += 4 * n;

        const uint8_t module = static_cast<uint8_t>(descriptor >> 16);
        const uint32_t stringField = descriptor & 0xFFFF;
        std::string_view format;
        const bool found = stringField != 0 && index->lookup(module, stringField - 1, &format);
        line.clear();
        if (!found) {
            if (n == 0)
                continue;
            for (uint32_t i = 0; i < n; ++i) {
                if (i != 0)
                    line.push_back(' ');
                appendHexWord(args[i], &line);
            }
            sink.printLine(line);
            continue;
        }
        if (n == 2 && isTimeStamp(format)) {
            appendTimeStamp(args[0], args[1], &line);
            sink.print(line);
            continue;
        }
        expandSafeTraceFormat(format, args, n, &line);
        if (n == 0)
            sink.printLine(line);
        else
            sink.print(line);
    }
    return 0;
}
