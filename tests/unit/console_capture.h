// Redirects the logger and the prompts to memory for one test: scripted
// input in, everything printed out.
#pragma once

#include <cstdio>
#include <string>

#include "shell/logger.h"

class ConsoleCapture final {
  public:
    explicit ConsoleCapture(const std::string& input = "") : input_(input) {
        out_ = open_memstream(&buffer_, &size_);
        in_ = fmemopen(input_.empty() ? nullptr : input_.data(), input_.empty() ? 1 : input_.size(),
                       "r");
        if (input_.empty() && in_ != nullptr)
            std::fgetc(in_);  // at end from the start
        setConsoleStreams(out_, in_);
    }
    ~ConsoleCapture() {
        setConsoleStreams(nullptr, nullptr);
        if (in_ != nullptr)
            std::fclose(in_);
        std::fclose(out_);
        std::free(buffer_);
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    std::string text() {
        std::fflush(out_);
        return std::string(buffer_, size_);
    }

  private:
    std::string input_;
    char* buffer_ = nullptr;
    size_t size_ = 0;
    FILE* out_ = nullptr;
    FILE* in_ = nullptr;
};
