#include "hba/log_page.h"

#include "shell/bytes.h"

uint32_t logEntryCount(const uint8_t* page, size_t size) {
    if (page == nullptr || size < kLogEntryCount + 2)
        return 0;
    const uint32_t stated = getLe16(page, kLogEntryCount);
    const uint32_t room =
        size > kLogEntries ? static_cast<uint32_t>((size - kLogEntries) / kLogEntrySize) : 0;
    return stated < room ? stated : room;
}

bool decodeLogRow(const uint8_t* page, size_t size, uint32_t index, LogRow* row) {
    if (index >= logEntryCount(page, size))
        return false;
    const size_t at = kLogEntries + kLogEntrySize * index;
    row->timeLow = getLe32(page, at);
    row->timeHigh = getLe32(page, at + 4);
    row->sequence = getLe16(page, at + 12);
    row->qualifier = getLe16(page, at + 14);
    for (uint32_t w = 0; w < kLogDataWords; ++w)
        row->data[w] = getLe32(page, at + 20 + 4 * w);
    row->shownWords = logWordsShown(row->data);
    return true;
}

uint32_t logWordsShown(const uint32_t* data) {
    for (uint32_t w = 6; w >= 1; --w) {
        if (data[w] != 0)
            return w + 1;
    }
    return 1;
}

size_t cliAnswerLength(const uint8_t* buffer, size_t bufferSize, uint32_t returned) {
    if (buffer == nullptr || bufferSize == 0)
        return 0;
    size_t limit = bufferSize - 1;
    if (returned < limit)
        limit = returned;
    size_t n = 0;
    while (n < limit && buffer[n] != 0)
        ++n;
    return n;
}

void makeAnswerPrintable(char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c != '\n' && c != '\t' && (c < 0x20 || c > 0x7E))
            text[i] = '.';
    }
}
