// SMP passthrough: the controller forwards an SMP request frame to an
// expander of one of its links and returns that expander's answer. REPORT
// GENERAL and DISCOVER are answered from the expander's own description (the
// one its sg node is built from); other functions are refused by the
// expander as an unknown SMP function.
#include <algorithm>

#include "ctl_controller.h"
#include "expander/expander_config.h"

namespace qemu::ctl {
namespace {

constexpr size_t kSmpRequestSize = 32;
constexpr size_t kSmpReplySize = 28;
constexpr uint16_t kIocStatusDeviceNotThere = 0x0043;

constexpr uint8_t kSmpRequestFrame = 0x40;
constexpr uint8_t kSmpResponseFrame = 0x41;
constexpr uint8_t kSmpReportGeneral = 0x00;
constexpr uint8_t kSmpDiscover = 0x10;
constexpr uint8_t kSmpAccepted = 0x00;
constexpr uint8_t kSmpUnknownFunction = 0x01;
constexpr uint8_t kSmpInvalidRequestLength = 0x13;
constexpr uint8_t kSmpNoSuchPhy = 0x10;
constexpr size_t kSmpCrcSize = 4;
// Response bodies past the 4-byte header, CRC excluded.
constexpr size_t kReportGeneralBody = 24;
constexpr size_t kDiscoverBody = 56;

// The request frames without their CRC, as the controller receives them.
constexpr size_t kReportGeneralRequest = 4;
constexpr size_t kDiscoverRequest = 12;

Bytes smpResponse(uint8_t function, uint8_t result, size_t body) {
    Bytes r(4 + body + kSmpCrcSize, 0);
    r[0] = kSmpResponseFrame;
    r[1] = function;
    r[2] = result;
    r[3] = static_cast<uint8_t>(body / 4);
    return r;
}

void putBe64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
}

Bytes reportGeneral(const expander::ExpanderConfig& e) {
    Bytes r = smpResponse(kSmpReportGeneral, kSmpAccepted, kReportGeneralBody);
    r[6] = static_cast<uint8_t>(e.routes.size() >> 8);  // route indexes
    r[7] = static_cast<uint8_t>(e.routes.size());
    r[9] = static_cast<uint8_t>(e.phys.size());
    r[10] = 0x02;  // configurable route table
    putBe64(&r[12], e.enclosureId);
    return r;
}

Bytes discover(const expander::ExpanderConfig& e, uint8_t phy) {
    if (phy >= e.phys.size())
        return smpResponse(kSmpDiscover, kSmpNoSuchPhy, 0);
    const expander::PhyConfig& p = e.phys[phy];
    Bytes r = smpResponse(kSmpDiscover, kSmpAccepted, kDiscoverBody);
    r[9] = phy;
    putBe64(&r[16], e.sasAddress);
    if (p.disabled) {
        r[13] = 0x01;  // phy disabled
    } else if (p.attached) {
        const expander::AttachedDevice& a = *p.attached;
        r[12] = static_cast<uint8_t>((a.deviceType & 0x07) << 4);
        r[13] = a.maxRate & 0x0F;
        r[14] = static_cast<uint8_t>((a.protocols >> 8) & 0x0E);  // SMP, STP, SSP initiator
        r[15] = static_cast<uint8_t>(a.protocols & 0x8F);         // SATA, targets, selector
        putBe64(&r[24], a.sasAddress);
        r[32] = a.phyId;
    }
    r[40] = static_cast<uint8_t>(p.minRate.value_or(expander::kRate1G5) << 4);
    r[41] = static_cast<uint8_t>(p.maxRate.value_or(expander::kRate12G) << 4);
    r[44] = p.routing & 0x0F;
    return r;
}

}  // namespace

void Controller::smpPassthrough(const uint8_t* frame, size_t length, const FrameIo& io,
                                Bytes* reply) {
    reply->assign(kSmpReplySize, 0);
    Bytes& r = *reply;
    r[2] = static_cast<uint8_t>(kSmpReplySize / 4);
    r[3] = kFunctionSmpPassthrough;
    if (length != kSmpRequestSize || frame[0] != 0 || frame[1] != 0xFF ||
        io.dataOutLength < kReportGeneralRequest || io.dataOut == nullptr ||
        io.dataOut[0] != kSmpRequestFrame) {
        set16(r, 14, kIocStatusInvalidField);
        return;
    }
    const uint64_t sas = le64(frame, 16);
    const auto link = std::find_if(setup_.links.begin(), setup_.links.end(),
                                   [&](const LinkSetup& l) { return l.expanderSas == sas; });
    if (link == setup_.links.end() || link->model == nullptr) {
        set16(r, 14, kIocStatusDeviceNotThere);
        return;
    }
    const uint8_t function = io.dataOut[1];
    Bytes answer;
    if (function == kSmpReportGeneral) {
        answer = io.dataOutLength == kReportGeneralRequest
                     ? reportGeneral(*link->model)
                     : smpResponse(function, kSmpInvalidRequestLength, 0);
    } else if (function == kSmpDiscover) {
        answer = io.dataOutLength == kDiscoverRequest
                     ? discover(*link->model, io.dataOut[9])
                     : smpResponse(function, kSmpInvalidRequestLength, 0);
    } else {
        answer = smpResponse(function, kSmpUnknownFunction, 0);
    }
    // The expander sends what the buffer holds; the reply says how much came.
    const size_t moved = io.dataIn != nullptr ? std::min(answer.size(), io.dataInLength) : 0;
    std::copy(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(moved), io.dataIn);
    set16(r, 4, static_cast<uint16_t>(moved));
    r[13] = 0;  // SAS status: success
}

}  // namespace qemu::ctl
