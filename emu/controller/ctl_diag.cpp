// The firmware's diagnostic command line (toolbox tool 6): a command text in
// the request, the answer as text in the data-in buffer and its length in
// the reply.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "ctl_controller.h"

namespace qemu::ctl {
namespace {

constexpr size_t kDiagReplySize = 24;
constexpr size_t kDiagTextOffset = 20;
constexpr size_t kDiagTextMax = 92;
constexpr uint32_t kDiagFlags = 0x400000;

std::string version4(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u.%02u.%02u.%02u", v >> 24, (v >> 16) & 0xFF,
                  (v >> 8) & 0xFF, v & 0xFF);
    return text;
}

// Words of the command, blanks collapsed.
std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

}  // namespace

std::string Controller::diagAnswer(const std::string& command) const {
    const std::vector<std::string> w = words(command);
    std::ostringstream out;
    if (w.empty() || w[0] == "help") {
        out << "Commands:\n"
               "  iop show ver   firmware, XIF and chip versions\n"
               "  pl dbg         phy link states\n"
               "  help           this list\n";
    } else if (w.size() == 3 && w[0] == "iop" && w[1] == "show" && w[2] == "ver") {
        char xif[8];
        std::snprintf(xif, sizeof xif, "%02X.%02X", chip_.msgVersion >> 8, chip_.msgVersion & 0xFF);
        out << "Firmware version : " << version4(runningFw_) << "\n"
            << "XIF version      : " << xif << "\n"
            << "Chip             : " << chip_.chipName << " " << setup_.chipRevisionText << "\n"
            << "Board            : " << setup_.boardName << "\n";
    } else if (w.size() == 2 && w[0] == "pl" && w[1] == "dbg") {
        for (int phy = 0; phy < setup_.phys; ++phy) {
            const int link = linkOfPhy(phy);
            char line[96];
            if (phyDisabled(phy)) {
                std::snprintf(line, sizeof line, "phy %02d: disabled\n", phy);
            } else if (link < 0) {
                std::snprintf(line, sizeof line, "phy %02d: no link\n", phy);
            } else {
                std::snprintf(line, sizeof line, "phy %02d: link up rate 0x%x attached %016llx\n",
                              phy, setup_.linkRate,
                              static_cast<unsigned long long>(
                                  setup_.links[static_cast<size_t>(link)].expanderSas));
            }
            out << line;
        }
    } else if (w.size() == 3 && w[0] == "dbg" && w[1] == "fill") {
        // N bytes of 64-character lines, to try the host's buffer handling.
        const unsigned long long n = std::strtoull(w[2].c_str(), nullptr, 10);
        const size_t size = static_cast<size_t>(std::min<unsigned long long>(n, 0x200000));
        std::string fill;
        fill.reserve(size);
        for (size_t i = 0; i < size; ++i)
            fill.push_back(i % 64 == 63 ? '\n' : static_cast<char>('a' + (i / 64) % 26));
        out << fill;
    } else {
        out << "Unknown command '" << command << "'. Type 'help'.\n";
    }
    return out.str();
}

void Controller::diagCommand(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply) {
    reply->assign(kDiagReplySize, 0);
    (*reply)[0] = 6;
    (*reply)[2] = static_cast<uint8_t>(kDiagReplySize / 4);
    (*reply)[3] = kFunctionToolbox;
    if (length < kDiagTextOffset || le32(frame, 16) != kDiagFlags) {
        set16(*reply, 14, kIocStatusInvalidField);
        return;
    }
    std::string command;
    for (size_t i = kDiagTextOffset; i < length && i < kDiagTextOffset + kDiagTextMax; ++i) {
        if (frame[i] == 0)
            break;
        command.push_back(static_cast<char>(frame[i]));
    }
    const std::string answer = diagAnswer(command);
    size_t n = 0;
    if (io.dataIn != nullptr && io.dataInLength > 0) {
        n = std::min(answer.size(), io.dataInLength - 1);  // room for the terminator
        std::copy(answer.begin(), answer.begin() + static_cast<long>(n), io.dataIn);
        io.dataIn[n] = 0;
    }
    set32(*reply, 20, static_cast<uint32_t>(n));
}

}  // namespace qemu::ctl
