// A sink for the fuzz targets: every byte the decoders produce is checked
// to be safe for a terminal.
#pragma once

#include <cstdlib>
#include <string_view>

#include "expander/text_sink.h"

class CheckingSink final : public TextSink {
  public:
    void print(std::string_view text) override { check(text); }
    void printLine(std::string_view text) override { check(text); }
    void warn(std::string_view text) override { check(text); }
    void error(std::string_view text) override { check(text); }
    void debug(std::string_view text) override { check(text); }

  private:
    static void check(std::string_view text) {
        for (const char c : text) {
            const unsigned char u = static_cast<unsigned char>(c);
            if ((u < 0x20 && c != '\n' && c != '\t') || u > 0x7E)
                std::abort();
        }
    }
};
