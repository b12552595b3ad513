// A scripted SAS driver behind the library's driver seam: control nodes with
// IOCs, each answering adapter information and XIF frames (IOC and Port
// Facts, configuration pages, firmware upload/download, toolbox clean) from
// memory. It records every open, ioctl and close so that tests can check what
// reached the driver. The layouts are read at the driver's byte offsets.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "shell/bytes.h"
#include "xollib/xol_internal.h"

struct FakeIoc {
    uint32_t iocNumber = 0;
    uint32_t deviceId = 0x0630;
    uint32_t revision = 1;
    uint32_t adapterType = 8;
    uint32_t firmwareVersion = 0x10020304;
    uint16_t messageVersion = 0x0206;
    bool factsFail = false;       // passthrough of IOC Facts refused by the driver
    uint16_t factsIocStatus = 0;  // IOCStatus in the IOC Facts reply
    int resetAnswer = 0;          // what the hard reset ioctl returns
    // Configuration pages by (type, number, extType, address).
    std::map<std::tuple<uint8_t, uint8_t, uint8_t, uint32_t>, std::vector<uint8_t>> pages;
    // Flash regions by image type.
    std::map<uint8_t, std::vector<uint8_t>> regions;
    // Sizes the upload reply claims instead of the region's real one.
    std::map<uint8_t, uint32_t> reportedSizes;
    std::vector<uint8_t> downloaded;
};

struct FakeRequest {
    std::string path;
    unsigned long request = 0;
    std::vector<uint8_t> header;  // the 72-byte passthrough header, or the whole payload
    std::vector<uint8_t> frame;   // the XIF request frame (passthrough only)
    std::vector<uint8_t> dataOut;
};

class FakeDriver final {
  public:
    FakeDriver() {
        instance_ = this;
        static const XolDriverOps kOps = {&FakeDriver::openOp, &FakeDriver::ioctlOp,
                                          &FakeDriver::closeOp};
        xolSetDriverOps(&kOps);
    }
    ~FakeDriver() {
        xolSetDriverOps(nullptr);
        instance_ = nullptr;
    }
    FakeDriver(const FakeDriver&) = delete;
    FakeDriver& operator=(const FakeDriver&) = delete;

    FakeIoc& addIoc(const std::string& path, uint32_t iocNumber, uint32_t deviceId,
                    uint32_t revision = 1) {
        FakeIoc& ioc = nodes[path][iocNumber];
        ioc.iocNumber = iocNumber;
        ioc.deviceId = deviceId;
        ioc.revision = revision;
        return ioc;
    }
    static void setPage(FakeIoc& ioc, uint8_t type, uint8_t number, uint8_t extType,
                        uint32_t address, std::vector<uint8_t> bytes) {
        ioc.pages[{type, number, extType, address}] = std::move(bytes);
    }

    // Passthrough requests only (the XIF traffic).
    std::vector<FakeRequest> passthroughs() const {
        std::vector<FakeRequest> out;
        for (const auto& r : requests) {
            if (r.request == kXolIoctlPassthrough)
                out.push_back(r);
        }
        return out;
    }
    void clearLog() {
        requests.clear();
        opened.clear();
    }

    std::map<std::string, std::map<uint32_t, FakeIoc>> nodes;
    std::vector<std::string> opened;  // every successful open, in order
    std::vector<FakeRequest> requests;
    int openCount = 0;
    int ioctlResult = 0;         // forced negative answer for every passthrough
    uint16_t nextIocStatus = 0;  // injected into the next passthrough reply
    uint32_t nextLogInfo = 0;

  private:
    static int openOp(const char* path, int) {
        auto it = instance_->nodes.find(path);
        if (it == instance_->nodes.end())
            return -1;
        instance_->opened.push_back(path);
        instance_->fds_[instance_->nextFd_] = path;
        ++instance_->openCount;
        return instance_->nextFd_++;
    }
    static int closeOp(int fd) {
        instance_->fds_.erase(fd);
        --instance_->openCount;
        return 0;
    }
    static int ioctlOp(int fd, unsigned long request, void* argument) {
        auto path = instance_->fds_.find(fd);
        if (path == instance_->fds_.end())
            return -EBADF;
        return instance_->handle(path->second, request, static_cast<uint8_t*>(argument));
    }

    static uint8_t* pointerAt(const uint8_t* b, size_t off) {
        return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(getLe64(b, off)));
    }

    int handle(const std::string& path, unsigned long request, uint8_t* arg) {
        FakeRequest record;
        record.path = path;
        record.request = request;
        const uint32_t iocNumber = getLe32(arg, 0);
        auto& iocs = nodes[path];
        auto ioc = iocs.find(iocNumber);
        if (request == kXolIoctlAdapterInfo) {
            record.header.assign(arg, arg + kIocInfoSize);
            requests.push_back(record);
            if (ioc == iocs.end())
                return -ENODEV;
            putLe32(arg, kIocInfoAdapterType, ioc->second.adapterType);
            putLe32(arg, kIocInfoDeviceId, ioc->second.deviceId);
            putLe32(arg, kIocInfoRevision, ioc->second.revision);
            putLe32(arg, kIocInfoFirmwareVersion, ioc->second.firmwareVersion);
            putLe32(arg, kIocInfoPciLocation, (3u << 8) | iocNumber);
            std::memcpy(arg + kIocInfoDriverVersion, "fake-driver-1.0", 15);
            return 0;
        }
        if (request == kXolIoctlHardReset) {
            record.header.assign(arg, arg + kIoctlHeaderSize);
            requests.push_back(record);
            return ioc == iocs.end() ? -ENODEV : ioc->second.resetAnswer;
        }
        if (request != kXolIoctlPassthrough)
            return -ENOTTY;
        const uint32_t frameLength = getLe32(arg, kIoctlCmdFrameWords) * 4;
        record.header.assign(arg, arg + kIoctlCmdHeaderSize);
        record.frame.assign(arg + kIoctlCmdFrame, arg + kIoctlCmdFrame + frameLength);
        const uint32_t outLength = getLe32(arg, kIoctlCmdDataOutLength);
        if (outLength != 0) {
            const uint8_t* out = pointerAt(arg, kIoctlCmdDataOutPtr);
            record.dataOut.assign(out, out + outLength);
        }
        requests.push_back(record);
        if (ioctlResult < 0)
            return ioctlResult;
        if (ioc == iocs.end())
            return -ENODEV;
        if (record.frame.size() > 3 && record.frame[3] == 0x03 && ioc->second.factsFail)
            return -EIO;
        uint8_t* reply = pointerAt(arg, kIoctlCmdReplyPtr);
        const uint32_t replyLength = getLe32(arg, kIoctlCmdReplyLength);
        std::vector<uint8_t> answer(replyLength < 68 ? 68 : replyLength, 0);
        answerFrame(ioc->second, record.frame, arg, answer.data());
        if (nextIocStatus != 0) {
            putLe16(answer.data(), 14, nextIocStatus);
            putLe32(answer.data(), 16, nextLogInfo);
            nextIocStatus = 0;
        }
        std::memcpy(reply, answer.data(), replyLength);
        return 0;
    }

    void answerFrame(FakeIoc& ioc, const std::vector<uint8_t>& frame, const uint8_t* cmd,
                     uint8_t* reply) {
        uint8_t* dataIn = pointerAt(cmd, kIoctlCmdDataInPtr);
        const uint32_t dataInLength = getLe32(cmd, kIoctlCmdDataInLength);
        switch (frame[3]) {
            case 0x03:
                putLe16(reply, 0, ioc.messageVersion);
                putLe16(reply, 14, ioc.factsIocStatus);
                putLe32(reply, 32, ioc.firmwareVersion);
                return;
            case 0x05:
                reply[6] = frame[6];
                return;
            case 0x04:
                answerConfig(ioc, frame, dataIn, dataInLength, reply);
                return;
            case 0x12: {
                const bool xif25 = frame.size() == 32;
                const uint32_t offset = getLe32(frame.data(), xif25 ? 24 : 28);
                const uint32_t size = getLe32(frame.data(), xif25 ? 28 : 32);
                const auto& region = ioc.regions[frame[0]];
                const auto claimed = ioc.reportedSizes.find(frame[0]);
                putLe32(reply, 20,
                        claimed != ioc.reportedSizes.end() ? claimed->second
                                                           : static_cast<uint32_t>(region.size()));
                for (uint32_t i = 0; i < size && i < dataInLength && offset + i < region.size();
                     ++i) {
                    dataIn[i] = region[offset + i];
                }
                return;
            }
            case 0x09:
                ioc.downloaded.insert(ioc.downloaded.end(), requests.back().dataOut.begin(),
                                      requests.back().dataOut.end());
                return;
            default:
                return;
        }
    }

    static void answerConfig(FakeIoc& ioc, const std::vector<uint8_t>& frame, uint8_t* dataIn,
                             uint32_t dataInLength, uint8_t* reply) {
        const uint8_t action = frame[0];
        const uint8_t type = frame[23];
        const uint8_t number = frame[22];
        const uint8_t extType = frame[6];
        const uint32_t address = getLe32(frame.data(), 24);
        auto page = ioc.pages.find({type, number, extType, address});
        if (page == ioc.pages.end()) {
            putLe16(reply, 14, 0x0022);
            return;
        }
        std::vector<uint8_t>& bytes = page->second;
        std::memcpy(reply + 20, frame.data() + 20, 4);
        if (type == kPageTypeExtended) {
            putLe16(reply, 4, static_cast<uint16_t>(bytes.size() / 4));
        } else {
            reply[21] = static_cast<uint8_t>(bytes.size() / 4);
        }
        if (action == 1 || action == 5 || action == 6) {
            for (uint32_t i = 0; i < dataInLength && i < bytes.size(); ++i)
                dataIn[i] = bytes[i];
        } else if (action == 2 || action == 4) {
            // The driver copied the data-out already; the model keeps it.
        }
    }

    static inline FakeDriver* instance_ = nullptr;
    std::map<int, std::string> fds_;
    int nextFd_ = 100;
};

// A fresh library context that has discovered the scripted controllers.
inline uint32_t discoverWith(uint32_t options, uint32_t* count) {
    XolLib2Create();
    return XolLib2DiscoverAdapters(count, options);
}
