#include "expander/text_sink.h"

#include "shell/logger.h"

namespace {

// Below the logger's message buffer, so nothing is cut.
constexpr size_t kPiece = 1024;

}  // namespace

void LoggerSink::print(std::string_view text) {
    while (!text.empty()) {
        const std::string_view piece = text.substr(0, kPiece);
        logPrint("%.*s", static_cast<int>(piece.size()), piece.data());
        text.remove_prefix(piece.size());
    }
}

void LoggerSink::printLine(std::string_view text) {
    if (text.size() > kPiece) {
        print(text.substr(0, text.size() - kPiece));
        text.remove_prefix(text.size() - kPiece);
    }
    logPrintLine("%.*s", static_cast<int>(text.size()), text.data());
}

void LoggerSink::warn(std::string_view text) {
    logWarn("%.*s", static_cast<int>(text.size()), text.data());
}

void LoggerSink::error(std::string_view text) {
    logError("%.*s", static_cast<int>(text.size()), text.data());
}

void LoggerSink::debug(std::string_view text) {
    logDebug("%.*s", static_cast<int>(text.size()), text.data());
}
