// Device text on its way to the terminal: printable ASCII, line feeds and
// tabs pass; every other byte (escape sequences, carriage returns, bytes of
// 0x7F and above) becomes '.', so a device cannot drive the terminal.
#pragma once

#include <string>
#include <string_view>

inline bool isTerminalSafe(unsigned char c) {
    return (c >= 0x20 && c <= 0x7E) || c == '\n' || c == '\t';
}

inline char terminalChar(unsigned char c) {
    return isTerminalSafe(c) ? static_cast<char>(c) : '.';
}

// Appends runs of safe characters whole: trace text is mostly safe.
inline void appendTerminalText(std::string_view text, std::string* out) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!isTerminalSafe(static_cast<unsigned char>(text[i]))) {
            out->append(text.data() + start, i - start);
            out->push_back('.');
            start = i + 1;
        }
    }
    out->append(text.data() + start, text.size() - start);
}
