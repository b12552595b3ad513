#include "expander/health_log.h"

#include <cstdio>
#include <string>

#include "expander/terminal_text.h"
#include "shell/bytes.h"

namespace {

constexpr size_t kDataOffset = 24;
constexpr size_t kDataWords = 10;
// Printed in pieces that the logger takes whole.
constexpr size_t kTextPiece = 1024;

void printEntry(const uint8_t* e, TextSink& sink) {
    char line[128];
    std::snprintf(line, sizeof line, "Timestamp           : 0x%08x : 0x%08x ", getLe32(e, 4),
                  getLe32(e, 0));
    sink.printLine(line);
    std::snprintf(line, sizeof line, "Log Sequence        : 0x%04x", getLe16(e, 12));
    sink.printLine(line);
    std::snprintf(line, sizeof line, "Log Entry Qualifier : 0x%04x", getLe16(e, 14));
    sink.printLine(line);
    std::snprintf(line, sizeof line, "Log Code            : 0x%08x", getLe32(e, 16));
    sink.printLine(line);
    std::snprintf(line, sizeof line, "Locale              : 0x%04x", getLe16(e, 20));
    sink.printLine(line);
    std::snprintf(line, sizeof line, "Argument Type       : 0x%02x", e[22]);
    sink.printLine(line);
    std::snprintf(line, sizeof line, "Log Class           : 0x%02x", e[23]);
    sink.printLine(line);
    sink.print("Log Specific Data   : ");
    for (size_t w = 0; w < kDataWords; ++w) {
        const uint8_t* word = e + kDataOffset + 4 * w;
        int n = w == 0 ? std::snprintf(line, sizeof line, "0x%08x ", getLe32(word, 0))
                       : std::snprintf(line, sizeof line, "%20s: 0x%08x ", "", getLe32(word, 0));
        // Only visible characters: no blanks, controls, DEL or high bytes.
        for (size_t i = 0; i < 4; ++i) {
            if (word[i] >= 33 && word[i] <= 126)
                line[n++] = static_cast<char>(word[i]);
        }
        sink.printLine(std::string_view(line, static_cast<size_t>(n)));
    }
    sink.printLine("----------------------------------------------");
}

}  // namespace

void printHealthLogEntries(const uint8_t* data, size_t size, TextSink& sink) {
    if (data == nullptr)
        return;
    for (size_t offset = 0; size - offset >= kHealthEntrySize; offset += kHealthEntrySize) {
        const uint8_t* entry = data + offset;
        if (getLe32(entry, 0) == 0 && getLe32(entry, 4) == 0)
            return;
        printEntry(entry, sink);
    }
}

void printHealthLogText(const uint8_t* data, size_t size, TextSink& sink) {
    std::string piece;
    piece.reserve(kTextPiece);
    for (size_t i = 0; data != nullptr && i < size; ++i) {
        if (data[i] == 0)
            continue;
        piece.push_back(terminalChar(data[i]));
        if (piece.size() == kTextPiece) {
            sink.print(piece);
            piece.clear();
        }
    }
    if (!piece.empty())
        sink.print(piece);
    sink.printLine("\n");
}
