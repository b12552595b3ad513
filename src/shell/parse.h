// Stateless text and number helpers shared by the shell and the commands:
// character-class checks, number parsing, splitting, hex dumps and the
// SAS address / code-name formatters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// True when every character is 0-9; an empty text is true.
bool isDecimalString(const char* text);
// True when, after an optional "0x" (lower-case x only), every character is a hex digit.
bool isHexString(const char* text);
// Base-10 value of the text after leading spaces; wraps modulo 2^32. 0 for
// null, empty or invalid text (any non-digit after the first digit).
uint32_t parseDecimal(const char* text);
// Like parseDecimal but refuses values that do not fit in 32 bits: false for
// invalid text or overflow. Used where a wrapped value would be dangerous
// (target indexes).
bool parseDecimalChecked(const char* text, uint64_t* out);
// 0: *out holds the value (optional 0x/0X, at most 8 digits, none means 0);
// 1: invalid text.
uint32_t parseHex32(const char* text, uint32_t* out);
// Consumes exactly n+1 characters most significant first; a non-hex
// character counts as 0. 1 for empty text, else 0.
uint32_t parseHexDigits(const char* text, uint32_t* out, uint32_t n);
// Cuts text at `width` into two zero-filled outputs (see the callers that
// split 16-digit addresses into halves).
void splitAtWidth(const char* text, char* first, char* second, size_t width);
// Splits text in place at every delimiter; empty pieces remain. On failure
// reports and returns false with *count = 0xFFFFFFFF.
bool splitByDelimiter(char* text, char delimiter, uint32_t* count, std::vector<char*>* pieces);
// True when path names an existing regular file.
bool isRegularFile(const char* path);
// Prints data in 32-bit, 16-bit or byte layout chosen by the length.
// 0 ok; 1 null data or zero length ("Invalid memory.").
uint32_t hexDump(const uint8_t* data, uint32_t length);

// Both return a pointer into one shared 1024-byte buffer, valid until the
// next call of either.
const char* formatSasAddress(uint64_t value);

struct CodeName {
    uint32_t code;
    const char* name;  // nullptr ends the table
};
const char* nameForCode(const CodeName* table, uint32_t code, const char* fallbackPrefix);
