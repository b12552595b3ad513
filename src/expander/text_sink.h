// Where the I/O-free decoders of device bytes (trace buffers, health logs)
// send their text. The commands pass a sink that prints through the logger;
// tests and benchmarks collect or discard it. Text reaching a sink is already
// safe for a terminal: device bytes are filtered before they get here.
#pragma once

#include <string_view>

class TextSink {
  public:
    virtual ~TextSink() = default;
    virtual void print(std::string_view text) = 0;      // no line end added
    virtual void printLine(std::string_view text) = 0;  // line end added
    virtual void warn(std::string_view text) = 0;       // "WARN!! " line
    virtual void error(std::string_view text) = 0;      // "ERROR: " line
    virtual void debug(std::string_view text) = 0;      // "DEBUG: " line
};

// Prints through the installed logger, cutting nothing: long text goes out
// in pieces that fit the logger's message buffer.
class LoggerSink final : public TextSink {
  public:
    void print(std::string_view text) override;
    void printLine(std::string_view text) override;
    void warn(std::string_view text) override;
    void error(std::string_view text) override;
    void debug(std::string_view text) override;
};
