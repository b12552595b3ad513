// Decoders of Log page 0 (the controller's event log) and of the firmware
// command line's answer, free of I/O. Counts and lengths the controller
// states are bounded by the bytes it returned.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kLogEntryCount = 16;  // u16
inline constexpr size_t kLogEntries = 20;
inline constexpr size_t kLogEntrySize = 48;
inline constexpr uint32_t kLogDataWords = 7;

struct LogRow {
    uint16_t sequence = 0;
    uint16_t qualifier = 0;
    uint32_t timeHigh = 0;
    uint32_t timeLow = 0;
    uint32_t data[kLogDataWords] = {};
    uint32_t shownWords = 1;  // data words to print
};

// The stated entry count cut to the whole entries the page holds.
uint32_t logEntryCount(const uint8_t* page, size_t size);
// False when the page holds no entry `index`.
bool decodeLogRow(const uint8_t* page, size_t size, uint32_t index, LogRow* row);
// Words 0 up to the last non-zero one among words 1 to 6; only word 0 when
// words 1 to 6 are all zero.
uint32_t logWordsShown(const uint32_t* data);

// The length of the command line's answer to show: at most the returned
// length and bufferSize - 1 bytes, ending at the first NUL.
size_t cliAnswerLength(const uint8_t* buffer, size_t bufferSize, uint32_t returned);
// Makes a piece of the answer safe for a terminal in place: bytes other than
// printable ASCII, line feed and tab become '.'.
void makeAnswerPrintable(char* text, size_t length);
