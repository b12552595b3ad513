// Log page 0 and the firmware command line's answer come from the controller.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "hba/log_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint32_t count = logEntryCount(data, size);
    for (uint32_t i = 0; i <= count; ++i) {
        LogRow row;
        if (decodeLogRow(data, size, i, &row) != (i < count))
            std::abort();
        if (i < count && (row.shownWords < 1 || row.shownWords > kLogDataWords))
            std::abort();
    }
    const uint32_t returned = size >= 4 ? static_cast<uint32_t>(data[0]) << 8 | data[1] : 0;
    const size_t length = cliAnswerLength(data, size, returned);
    if (size > 0 && (length >= size || length > returned))
        std::abort();
    std::vector<char> text(data, data + length);
    makeAnswerPrintable(text.data(), text.size());
    return 0;
}
