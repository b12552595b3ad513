// The expander's SCSI command set: INQUIRY, READ BUFFER, WRITE BUFFER and a
// few housekeeping commands, the reset lifecycle and the scripted faults.
#include <cerrno>
#include <cstdio>
#include <limits>
#include <string>

#include "expander/expander_node.h"
#include "expander/scsi_reply.h"
#include "images/le_bytes.h"

namespace qemu::expander {

using bytes::getBe16;
using bytes::getBe24;
using bytes::getBe32;
using bytes::putBe16;
using bytes::putBe24;

namespace {

constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpRequestSense = 0x03;
constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpWriteBuffer = 0x3B;
constexpr uint8_t kOpReadBuffer = 0x3C;

constexpr uint8_t kModeVendor = 1;
constexpr uint8_t kModeData = 2;
constexpr uint8_t kModeDescriptor = 3;

constexpr uint8_t kBufferIdentify = 0x00;
constexpr uint8_t kBufferMemory = 0xC2;
constexpr uint8_t kBufferPages = 0xE6;
constexpr uint8_t kBufferReset = 0xE9;

constexpr size_t kIdentifySize = 256;

bool isDataIn(uint8_t opcode) {
    return opcode == kOpInquiry || opcode == kOpReadBuffer || opcode == kOpRequestSense;
}

void padText(uint8_t* out, size_t width, const std::string& text) {
    for (size_t i = 0; i < width; ++i) {
        out[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
    }
}

}  // namespace

int ExpanderNode::peripheralType() const {
    const FaultConfig& f = config_.faults;
    if (f.typeChangeAfterCloses > 0 && closes_ >= f.typeChangeAfterCloses) {
        return f.typeChangeTo;
    }
    return 13;  // enclosure services device
}

bool ExpanderNode::present() {
    settle();
    return !away_;
}

int ExpanderNode::onOpen() {
    if (config_.faults.openDenied)
        return -EACCES;
    settle();
    return away_ ? -ENODEV : 0;
}

void ExpanderNode::onClose() {
    ++closes_;
}

void ExpanderNode::startReset() {
    away_ = true;
    ++resetCount_;
    if (config_.faults.resetNeverReturns) {
        awayUntilNs_ = std::numeric_limits<uint64_t>::max();
    } else {
        awayUntilNs_ = services_.nowNs() + static_cast<uint64_t>(config_.resetMs) * 1000000u;
    }
    saveRuntime();
    services_.logLine("sg" + std::to_string(currentSg_) + ": expander reset, away for " +
                      (config_.faults.resetNeverReturns ? std::string("ever")
                                                        : std::to_string(config_.resetMs) + " ms"));
}

void ExpanderNode::noteFault(const char* name) {
    services_.logLine("sg" + std::to_string(currentSg_) + " expander: fault " + name);
}

void ExpanderNode::logRegisterWrite(uint32_t address, const uint8_t* data, size_t length) {
    // The words written, so that tests can check values, not only commands.
    constexpr size_t kLoggedWords = 8;
    char text[32];
    std::snprintf(text, sizeof text, "0x%08x <-", address);
    std::string line = "sg" + std::to_string(currentSg_) + " registers " + text;
    for (size_t off = 0; off < length && off < kLoggedWords * 4; off += 4) {
        std::snprintf(text, sizeof text, " %08x", bytes::getLe32(data + off));
        line += text;
    }
    if (length > kLoggedWords * 4) {
        line += " ...";
    }
    services_.logLine(line);
}

void ExpanderNode::settle() {
    if (!away_ || services_.nowNs() < awayUntilNs_) {
        return;
    }
    away_ = false;
    pendingUnitAttention_ = true;
    if (!config_.sgAfterReset.empty()) {
        size_t i = std::min(resetCount_, config_.sgAfterReset.size()) - 1;
        currentSg_ = config_.sgAfterReset[i];
    }
    bootFromFlash();
    resetVolatile(false);
    saveRuntime();
    services_.logLine("sg" + std::to_string(currentSg_) + ": expander back after reset");
}

void ExpanderNode::execute(const ScsiRequest& req, ScsiResult* r) {
    *r = ScsiResult{};
    r->residual = req.dataLength;
    settle();
    FaultConfig& f = config_.faults;
    if (away_) {
        r->hostStatus = kHostNoConnect;
    } else if (req.cdb == nullptr || req.cdbLength == 0) {
        checkCondition(r, kKeyIllegalRequest, kAscInvalidOpcode, 0);
    } else if (f.hostStatus.due()) {
        f.hostStatus.consume();
        r->hostStatus = f.hostStatusValue;
        noteFault("hostStatus");
    } else if (f.busy.due()) {
        f.busy.consume();
        r->status = kStatusBusy;
        noteFault("busy");
    } else if (f.unitAttention.due()) {
        f.unitAttention.consume();
        checkCondition(r, kKeyUnitAttention, kAscPowerOnReset, 0);
        noteFault("unitAttention");
    } else if (pendingUnitAttention_ && req.cdb[0] != kOpInquiry && req.cdb[0] != kOpRequestSense) {
        pendingUnitAttention_ = false;
        checkCondition(r, kKeyUnitAttention, kAscPowerOnReset, 0);
    } else if (isDataIn(req.cdb[0]) && f.shortRead.due() && req.data != nullptr &&
               shortReadHits(req)) {
        // The device stops R bytes early: the tail of the caller's buffer is
        // left as it was and the residual says so.
        const size_t want = std::min<size_t>(f.shortReadResidual, req.dataLength);
        const std::vector<uint8_t> tail(req.data + req.dataLength - want,
                                        req.data + req.dataLength);
        dispatch(req, r);
        if (r->status == kStatusGood) {
            f.shortRead.consume();
            noteFault("shortRead");
            std::copy(tail.begin(), tail.end(), req.data + req.dataLength - want);
            r->residual = std::max(r->residual, want);
        }
    } else {
        dispatch(req, r);
    }
    if (f.descriptorSense && r->status == kStatusCheckCondition && r->senseLength >= 14 &&
        r->sense[0] == 0x70) {
        // The same key, code and qualifier in descriptor format, no descriptors.
        const uint8_t key = r->sense[2] & 0x0F;
        const uint8_t asc = r->sense[12];
        const uint8_t ascq = r->sense[13];
        std::memset(r->sense, 0, sizeof r->sense);
        r->sense[0] = 0x72;
        r->sense[1] = key;
        r->sense[2] = asc;
        r->sense[3] = ascq;
        r->senseLength = 8;
    }
}

void ExpanderNode::dispatch(const ScsiRequest& req, ScsiResult* r) {
    const uint8_t opcode = req.cdb[0];
    const size_t needed = opcode < 0x20 ? 6 : 10;
    if (req.cdbLength < needed) {
        invalidField(r, 0);
        return;
    }
    switch (opcode) {
        case kOpTestUnitReady:
            r->status = kStatusGood;
            return;
        case kOpRequestSense: {
            std::vector<uint8_t> sense(18, 0);
            sense[0] = 0x70;
            sense[7] = 10;
            sendData(req, r, sense, req.cdb[4]);
            return;
        }
        case kOpInquiry:
            inquiry(req, r);
            return;
        case kOpReadBuffer:
            readBuffer(req, r);
            return;
        case kOpWriteBuffer:
            writeBuffer(req, r);
            return;
        default:
            checkCondition(r, kKeyIllegalRequest, kAscInvalidOpcode, 0, 0);
    }
}

void ExpanderNode::inquiry(const ScsiRequest& req, ScsiResult* r) {
    const bool evpd = (req.cdb[1] & 1) != 0;
    const uint8_t page = req.cdb[2];
    const size_t allocation = getBe16(req.cdb + 3);
    if ((req.cdb[1] & 0xFE) != 0) {
        invalidField(r, 1);
        return;
    }
    const uint8_t type = static_cast<uint8_t>(peripheralType());
    std::vector<uint8_t> reply;
    if (!evpd) {
        if (page != 0) {
            invalidField(r, 2);
            return;
        }
        reply.assign(96, 0);
        reply[0] = type;
        reply[2] = 0x06;  // SPC-4
        reply[3] = 0x02;  // response data format
        reply[4] = static_cast<uint8_t>(reply.size() - 5);
        reply[6] = 0x40;  // EncServ
        reply[7] = 0x02;  // CmdQue
        padText(&reply[8], 8, config_.vendor);
        padText(&reply[16], 16, config_.model);
        char rev[8];
        std::snprintf(rev, sizeof rev, "%02X%02X", runningFirmware_[39], runningFirmware_[38]);
        padText(&reply[32], 4, rev);
        padText(&reply[36], 20, config_.serial);
    } else {
        reply.assign(4, 0);
        reply[0] = type;
        reply[1] = page;
        switch (page) {
            case 0x00:
                for (uint8_t p : {0x00, 0x80, 0x83, 0x85}) {
                    reply.push_back(p);
                }
                break;
            case 0x80:
                reply.insert(reply.end(), config_.serial.begin(), config_.serial.end());
                break;
            case 0x83: {
                // NAA 5 designator of the target port's SAS address (binary).
                const uint8_t head[4] = {0x61, 0x93, 0x00, 0x08};
                reply.insert(reply.end(), head, head + 4);
                for (int i = 7; i >= 0; --i) {
                    reply.push_back(static_cast<uint8_t>(runningSas_ >> (8 * i)));
                }
                break;
            }
            case 0x85: {
                // One descriptor: association 0, service type 1 (storage
                // configuration), address text zero terminated and padded.
                const std::string& text = config_.managementAddress;
                if (!text.empty()) {
                    size_t length = (text.size() + 1 + 3) & ~static_cast<size_t>(3);
                    std::vector<uint8_t> d(4 + length, 0);
                    d[0] = 0x01;
                    putBe16(&d[2], static_cast<uint16_t>(length));
                    std::copy(text.begin(), text.end(), d.begin() + 4);
                    reply.insert(reply.end(), d.begin(), d.end());
                }
                break;
            }
            default:
                invalidField(r, 2);
                return;
        }
        putBe16(&reply[2], static_cast<uint16_t>(reply.size() - 4));
    }
    r->status = kStatusGood;
    sendData(req, r, reply, allocation);
}

bool ExpanderNode::bufferFault(uint8_t buffer, int mode, bool write, ScsiResult* r) {
    for (BufferFault& f : config_.faults.bufferFaults) {
        const bool directionMatches = f.direction == 0 || f.direction == (write ? 2 : 1);
        if (f.buffer == buffer && (f.mode < 0 || f.mode == mode) && directionMatches &&
            f.hits.due()) {
            if (f.skip > 0) {
                --f.skip;
                continue;
            }
            f.hits.consume();
            checkCondition(r, f.senseKey, f.asc, f.ascq);
            noteFault("failBuffer");
            return true;
        }
    }
    return false;
}

bool ExpanderNode::shortReadHits(const ScsiRequest& req) {
    FaultConfig& f = config_.faults;
    if (f.shortReadBuffer >= 0 || f.shortReadMode >= 0) {
        if (req.cdb[0] != kOpReadBuffer || req.cdbLength < 10) {
            return false;
        }
        if (f.shortReadBuffer >= 0 && req.cdb[2] != f.shortReadBuffer) {
            return false;
        }
        if (f.shortReadMode >= 0 && (req.cdb[1] & 0x1F) != f.shortReadMode) {
            return false;
        }
    }
    if (f.shortReadSkip > 0) {
        --f.shortReadSkip;
        return false;
    }
    return true;
}

void ExpanderNode::readBuffer(const ScsiRequest& req, ScsiResult* r) {
    const uint8_t mode = req.cdb[1] & 0x1F;
    const uint8_t buffer = req.cdb[2];
    if (bufferFault(buffer, mode, false, r)) {
        return;
    }
    if (mode == kModeVendor) {
        if (buffer == kBufferMemory) {
            const uint32_t address = getBe32(req.cdb + 3);
            const size_t length = getBe16(req.cdb + 7);
            if (address % 4 != 0) {
                invalidField(r, 3);
                return;
            }
            if (length % 4 != 0) {
                invalidField(r, 7);
                return;
            }
            if (registerFault(address, length, false, r)) {
                return;
            }
            std::vector<uint8_t> reply(length);
            if (!readMemory(address, reply.data(), length)) {
                checkCondition(r, kKeyIllegalRequest, kAscLbaOutOfRange, 0, 3);
                return;
            }
            r->status = kStatusGood;
            sendData(req, r, reply, length);
            return;
        }
        if (buffer == kBufferIdentify) {
            const size_t offset = getBe24(req.cdb + 3);
            const size_t allocation = getBe24(req.cdb + 6);
            if (offset > kIdentifySize) {
                invalidField(r, 3);
                return;
            }
            r->status = kStatusGood;
            sendData(req, r, runningFirmware_.data() + offset, kIdentifySize - offset, allocation);
            return;
        }
        if (buffer == kBufferPages) {
            const uint16_t number = getBe16(req.cdb + 3);
            const size_t allocation = getBe16(req.cdb + 5);
            const uint8_t region = req.cdb[7];
            if (region > 2) {
                invalidField(r, 7);
                return;
            }
            std::vector<uint8_t> page;
            if (!findPage(number, region, &page)) {
                invalidField(r, 3);
                return;
            }
            applyPageLength(number, region, &page);
            r->status = kStatusGood;
            sendData(req, r, page, allocation);
            return;
        }
        invalidField(r, 2);
        return;
    }
    if (mode == kModeData || mode == kModeDescriptor) {
        bool writable = false;
        bool empty = false;
        std::vector<uint8_t>* data = dataBuffer(buffer, &writable, &empty);
        if (data == nullptr) {
            invalidField(r, 2);
            return;
        }
        if (mode == kModeDescriptor) {
            uint8_t descriptor[4] = {0xFF, 0xFF, 0xFF, 0xFF};
            if (!empty) {
                const int region = regionIndex(buffer);
                descriptor[0] =
                    region >= 0 ? config_.regions[static_cast<size_t>(region)].offsetBoundary : 0;
                putBe24(descriptor + 1, static_cast<uint32_t>(data->size()));
            }
            r->status = kStatusGood;
            sendData(req, r, descriptor, 4, getBe24(req.cdb + 6));
            return;
        }
        const size_t offset = getBe24(req.cdb + 3);
        const size_t length = getBe24(req.cdb + 6);
        if (empty || offset > data->size() || length > data->size() - offset) {
            invalidField(r, empty ? 2 : 6);
            return;
        }
        if (!offsetAligned(buffer, offset)) {
            invalidField(r, 3);
            return;
        }
        r->status = kStatusGood;
        sendData(req, r, data->data() + offset, length, length);
        return;
    }
    invalidField(r, 1);
}

void ExpanderNode::writeBuffer(const ScsiRequest& req, ScsiResult* r) {
    const uint8_t mode = req.cdb[1] & 0x1F;
    const uint8_t buffer = req.cdb[2];
    FaultConfig& f = config_.faults;
    if (bufferFault(buffer, mode, true, r)) {
        return;
    }
    if (f.writeIllegalRequest.due()) {
        f.writeIllegalRequest.consume();
        noteFault("writeIllegalRequest");
        checkCondition(r, kKeyIllegalRequest, kAscCommandSequenceError, f.writeIllegalQualifier);
        return;
    }
    const size_t supplied = req.data != nullptr ? req.dataLength : 0;
    r->residual = 0;
    if (mode == kModeVendor && buffer == kBufferMemory) {
        const uint32_t address = getBe32(req.cdb + 3);
        const size_t length = getBe16(req.cdb + 7);
        if (address % 4 != 0) {
            invalidField(r, 3);
        } else if (length % 4 != 0 || length > supplied) {
            invalidField(r, 7);
        } else if (registerFault(address, length, true, r)) {
            return;
        } else if (!writeMemory(address, req.data, length)) {
            checkCondition(r, kKeyIllegalRequest, kAscLbaOutOfRange, 0, 3);
        } else {
            r->status = kStatusGood;
            logRegisterWrite(address, req.data, length);
        }
        return;
    }
    if (mode == kModeVendor && buffer == kBufferReset) {
        const size_t length = getBe24(req.cdb + 6);
        if (length < 2 || length > supplied) {
            invalidField(r, 6);
            return;
        }
        if (req.data[0] != 0x00 || req.data[1] != 0x01) {
            checkCondition(r, kKeyIllegalRequest, kAscInvalidFieldInParameters, 0);
            return;
        }
        r->status = kStatusGood;
        startReset();
        return;
    }
    if (mode == kModeVendor) {
        invalidField(r, 2);
        return;
    }
    if (mode != kModeData) {
        invalidField(r, 1);
        return;
    }
    bool writable = false;
    bool empty = false;
    std::vector<uint8_t>* data = dataBuffer(buffer, &writable, &empty);
    if (data == nullptr || !writable || empty) {
        invalidField(r, 2);
        return;
    }
    const size_t offset = getBe24(req.cdb + 3);
    const size_t length = getBe24(req.cdb + 6);
    if (offset > data->size() || length > data->size() - offset) {
        invalidField(r, 6);
        return;
    }
    if (length > supplied) {
        invalidField(r, 6);
        return;
    }
    if (!offsetAligned(buffer, offset)) {
        invalidField(r, 3);
        return;
    }
    std::copy(req.data, req.data + length, data->begin() + static_cast<std::ptrdiff_t>(offset));
    afterDataWrite(buffer, offset, length);
    regionWritten(buffer);
    r->status = kStatusGood;
}

}  // namespace qemu::expander
