#include "shell/parse.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "shell/bytes.h"
#include "shell/logger.h"

namespace {

char g_sharedText[1024];

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

bool isDecimalString(const char* text) {
    if (text == nullptr)
        return false;
    for (; *text != '\0'; ++text) {
        if (!isDigit(*text))
            return false;
    }
    return true;
}

bool isHexString(const char* text) {
    if (text == nullptr)
        return false;
    if (text[0] == '0' && text[1] == 'x')
        text += 2;
    for (; *text != '\0'; ++text) {
        if (hexValue(*text) < 0)
            return false;
    }
    return true;
}

uint32_t parseDecimal(const char* text) {
    if (text == nullptr)
        return 0;
    while (*text == ' ')
        ++text;
    if (!isDigit(*text))
        return 0;
    uint32_t value = 0;
    for (; *text != '\0'; ++text) {
        if (!isDigit(*text))
            return 0;
        value = value * 10u + static_cast<uint32_t>(*text - '0');
    }
    return value;
}

bool parseDecimalChecked(const char* text, uint64_t* out) {
    if (text == nullptr)
        return false;
    while (*text == ' ')
        ++text;
    if (!isDigit(*text))
        return false;
    uint64_t value = 0;
    for (; *text != '\0'; ++text) {
        if (!isDigit(*text))
            return false;
        value = value * 10u + static_cast<uint64_t>(*text - '0');
        if (value > UINT32_MAX)
            return false;
    }
    *out = value;
    return true;
}

uint32_t parseHex32(const char* text, uint32_t* out) {
    if (text == nullptr)
        return 1;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text += 2;
    if (std::strlen(text) > 8)
        return 1;
    uint32_t value = 0;
    for (; *text != '\0'; ++text) {
        const int digit = hexValue(*text);
        if (digit < 0)
            return 1;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    *out = value;
    return 0;
}

uint32_t parseHexDigits(const char* text, uint32_t* out, uint32_t n) {
    if (text == nullptr || text[0] == '\0')
        return 1;
    uint32_t value = 0;
    const size_t length = std::strlen(text);
    for (uint32_t i = 0; i <= n; ++i) {
        // Past the end of the text a position counts as a non-digit (0), so
        // the read never leaves the string.
        const int digit = i < length ? hexValue(text[i]) : -1;
        value = (value << 4) | static_cast<uint32_t>(digit < 0 ? 0 : digit);
    }
    *out = value;
    return 0;
}

void splitAtWidth(const char* text, char* first, char* second, size_t width) {
    const size_t length = text == nullptr ? 0 : std::strlen(text);
    if (length == 0) {
        second[0] = '\n';
        return;
    }
    const size_t head = length < width ? length : width;
    std::memcpy(first, text, head);
    size_t pos = 0;
    if (length > width) {
        first[head] = '\n';
        std::memcpy(second, text + width, length - width);
        pos = length - width;
    }
    second[pos] = '\n';
}

bool splitByDelimiter(char* text, char delimiter, uint32_t* count, std::vector<char*>* pieces) {
    *count = 0xFFFFFFFFu;
    pieces->clear();
    if (text == nullptr || delimiter == '\0') {
        logError("Invalid string or delimiter");
        return false;
    }
    pieces->push_back(text);
    for (char* p = text; *p != '\0'; ++p) {
        if (*p == delimiter) {
            *p = '\0';
            pieces->push_back(p + 1);
        }
    }
    *count = static_cast<uint32_t>(pieces->size());
    return true;
}

bool isRegularFile(const char* path) {
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0)
        return false;
    return S_ISREG(st.st_mode);
}

namespace {

void dumpCharacters(const uint8_t* row, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t c = row[i];
        if (c >= 0x20 && c <= 0x7E) {
            logPrint("%c", c);
        } else {
            logPrint(".");
        }
        if ((i + 1) % 4 == 0 && i + 1 != count)
            logPrint(" ");
    }
}

void dumpWords32(const uint8_t* data, uint32_t length) {
    logPrintLine("%-8s  %-8s %-8s %-8s %-8s", " ", "0 ", "4 ", "8 ", "C ");
    // 64-bit offsets: a length near 4 GiB must not wrap the walk.
    for (uint64_t offset = 0; offset < length; offset += 16) {
        const uint32_t rowBytes =
            length - offset < 16 ? static_cast<uint32_t>(length - offset) : 16;
        logPrint("%08x: ", static_cast<unsigned>(offset));
        for (uint32_t w = 0; w < 4; ++w) {
            if (w * 4 < rowBytes) {
                logPrint("%08x ", getLe32(data, offset + w * 4));
            } else {
                logPrint("%8s ", " ");
            }
        }
        logPrint("  ");
        dumpCharacters(data + offset, rowBytes);
        logPrint("\n");
    }
}

void dumpWords16(const uint8_t* data, uint32_t length) {
    logPrintLine("%-8s  %-4s %-4s %-4s %-4s ", " ", "0 ", "2 ", "4 ", "6 ");
    for (uint64_t offset = 0; offset < length; offset += 8) {
        logPrint("%08x ", static_cast<unsigned>(offset));
        for (uint64_t i = offset; i < offset + 8 && i < length; i += 2) {
            logPrint("%08x ", getLe16(data, i));
        }
        logPrint("\n");
    }
}

void dumpBytes(const uint8_t* data, uint32_t length) {
    logPrintLine("%-8s  %-2s %-2s %-2s %-2s %-2s %-2s %-2s %-2s ", " ", "0 ", "1 ", "2 ", "3 ",
                 "4 ", "5 ", "6 ", "7 ");
    for (uint64_t offset = 0; offset < length; offset += 8) {
        logPrint("%08x ", static_cast<unsigned>(offset));
        for (uint64_t i = offset; i < offset + 8 && i < length; ++i)
            logPrint("%02x ", data[i]);
        logPrint("\n");
    }
}

}  // namespace

uint32_t hexDump(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0) {
        logError("Invalid memory.");
        return 1;
    }
    if (length % 4 == 0) {
        dumpWords32(data, length);
    } else if (length % 2 == 0) {
        dumpWords16(data, length);
    } else {
        dumpBytes(data, length);
    }
    return 0;
}

const char* formatSasAddress(uint64_t value) {
    std::snprintf(g_sharedText, sizeof g_sharedText, "%07x-%01x-%04x-%04x",
                  static_cast<unsigned>(value >> 36), static_cast<unsigned>((value >> 32) & 0xF),
                  static_cast<unsigned>((value >> 16) & 0xFFFF),
                  static_cast<unsigned>(value & 0xFFFF));
    return g_sharedText;
}

const char* nameForCode(const CodeName* table, uint32_t code, const char* fallbackPrefix) {
    for (const CodeName* row = table; row != nullptr && row->name != nullptr; ++row) {
        if (row->code == code)
            return row->name;
    }
    std::snprintf(g_sharedText, sizeof g_sharedText, "%s #%02x",
                  fallbackPrefix != nullptr ? fallbackPrefix : "", code);
    return g_sharedText;
}
