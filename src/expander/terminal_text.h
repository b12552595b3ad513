// Device text on its way to the terminal: printable ASCII, line feeds and
// tabs pass; every other byte (escape sequences, carriage returns, bytes of
// 0x7F and above) becomes '.', so a device cannot drive the terminal.
#pragma once

#include <string>
#include <string_view>

inline char terminalChar(unsigned char c) {
    return (c >= 0x20 && c <= 0x7E) || c == '\n' || c == '\t' ? static_cast<char>(c) : '.';
}

inline void appendTerminalText(std::string_view text, std::string* out) {
    for (const char c : text)
        out->push_back(terminalChar(static_cast<unsigned char>(c)));
}
