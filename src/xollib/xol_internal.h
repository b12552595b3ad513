// Inside the controller library: the context and its adapter records, the
// driver seam (open/ioctl/close of a control node) and the request frame
// builders shared by the library's sources. Not part of the program's
// interface: only the library and its tests include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "xollib/xollib2.h"

// ---------------------------------------------------------- driver interface

// Driver request numbers (read/write, group 'L').
inline constexpr unsigned long kXolIoctlAdapterInfo = 0xC05C4C11;
inline constexpr unsigned long kXolIoctlPassthrough = 0xC0484C14;
inline constexpr unsigned long kXolIoctlHardReset = 0xC00C4C18;
inline constexpr unsigned long kXolIoctlMapHandle = 0xC0184C1F;

// Handle mapping request (24 bytes): target id, bus, controller handle.
inline constexpr size_t kMapHandleSize = 24;
inline constexpr size_t kMapHandleTargetId = 12;
inline constexpr size_t kMapHandleBus = 16;
inline constexpr size_t kMapHandleDevHandle = 20;

// Common 12-byte header of every driver request.
inline constexpr size_t kIoctlHeaderIocNumber = 0;
inline constexpr size_t kIoctlHeaderPortNumber = 4;
inline constexpr size_t kIoctlHeaderMaxDataSize = 8;
inline constexpr size_t kIoctlHeaderSize = 12;

// Adapter information answer (92 bytes).
inline constexpr size_t kIocInfoSize = 92;
inline constexpr size_t kIocInfoAdapterType = 12;
inline constexpr size_t kIocInfoPortNumber = 16;
inline constexpr size_t kIocInfoDeviceId = 20;
inline constexpr size_t kIocInfoRevision = 24;
inline constexpr size_t kIocInfoSubsystemDeviceId = 28;
inline constexpr size_t kIocInfoSubsystemVendorId = 32;
inline constexpr size_t kIocInfoReserved = 36;
inline constexpr size_t kIocInfoFirmwareVersion = 40;
inline constexpr size_t kIocInfoDriverVersion = 48;  // 32 characters
inline constexpr size_t kIocInfoScsiId = 81;
inline constexpr size_t kIocInfoPciLocation = 84;

// Passthrough command (72-byte header, then the request frame).
inline constexpr size_t kIoctlCmdTimeout = 12;
inline constexpr size_t kIoctlCmdReplyPtr = 16;
inline constexpr size_t kIoctlCmdDataInPtr = 24;
inline constexpr size_t kIoctlCmdDataOutPtr = 32;
inline constexpr size_t kIoctlCmdSensePtr = 40;
inline constexpr size_t kIoctlCmdReplyLength = 48;
inline constexpr size_t kIoctlCmdDataInLength = 52;
inline constexpr size_t kIoctlCmdDataOutLength = 56;
inline constexpr size_t kIoctlCmdSenseLength = 60;
inline constexpr size_t kIoctlCmdFrameWords = 64;
inline constexpr size_t kIoctlCmdFrame = 68;
inline constexpr uint32_t kIoctlCmdHeaderSize = 72;

// The system calls the library makes on control nodes. Tests replace them
// with a scripted driver; nullptr restores the real ones.
struct XolDriverOps {
    int (*open)(const char* path, int flags);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*close)(int fd);
};
void xolSetDriverOps(const XolDriverOps* ops);
const XolDriverOps& xolDriverOps();

// An open control node, closed when it goes out of scope.
class ControlNodeDescriptor final {
  public:
    explicit ControlNodeDescriptor(const char* path);
    ~ControlNodeDescriptor();
    ControlNodeDescriptor(const ControlNodeDescriptor&) = delete;
    ControlNodeDescriptor& operator=(const ControlNodeDescriptor&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // The driver's raw answer (negative on failure).
    int ioctl(unsigned long request, void* argument) const;

  private:
    const int fd_;
};

// ------------------------------------------------------------ chip table

struct XolChipRow {
    uint16_t deviceId;
    uint32_t optionBits;  // discovery option bits that accept the chip
    const char* name;
    bool xif25Frames;
    bool newFamily;
    bool flashAccelerator;
};
// nullptr when the device ID is in no family.
const XolChipRow* findChipRow(uint16_t deviceId);
inline constexpr uint16_t kXolVendorId = 0x1F3A;
inline constexpr uint16_t kXolOtherVendorId = 0x1590;
inline constexpr uint16_t kXolBoardFilterDeviceId = 0x0411;
inline constexpr char kXolBoardFilterModel[] = "QSBD";

// ------------------------------------------------------------ context

// One device behind an adapter, in enumeration order.
struct XolDeviceRecord {
    uint32_t handle = 0;  // top byte 0x02
    uint32_t kind = 0;
    uint32_t iocNumber = 0;
    uint32_t deviceType = kXolUnknownDeviceType;
    uint32_t bus = 0;
    uint32_t targetId = 0;
    uint8_t lun = 0;
    uint16_t devHandle = 0;  // the controller's handle
    bool detailsValid = false;
    bool secondList = false;  // found in the extended type 29 walk
    bool blockFilled = false;
    uint8_t info[kXolDeviceInfoSize] = {};
    bool locateOn = false;
    uint32_t savedSlotStatus = 0;
    std::unique_ptr<XolDeviceRecord> next;
};

struct XolAdapterRecord {
    uint32_t handle = 0;
    uint32_t handleCopy = 0;
    uint32_t kind = 0;
    uint32_t iocNumber = 0;
    uint16_t vendorId = 0;
    uint16_t deviceId = 0;
    uint16_t subsystemVendorId = 0;
    uint16_t subsystemDeviceId = 0;
    uint32_t pciLocation = 0;
    char nodePath[32] = {};
    uint8_t iocFacts[kXolIocFactsReplySize] = {};
    bool infoValid = false;
    uint8_t adapterInfo[kXolAdapterInfoSize] = {};
    bool xif25Frames = false;
    bool newFamily = false;
    bool flashAccelerator = false;
    std::unique_ptr<XolDeviceRecord> devices;
    XolDeviceRecord* deviceTail = nullptr;
    uint32_t deviceCount = 0;
    // The device an index lookup last reached, so that a walk over the list by
    // index goes on from there instead of from the head; reset by any change
    // to the list.
    XolDeviceRecord* cursorDevice = nullptr;
    uint32_t cursorIndex = 0;
    std::unique_ptr<XolAdapterRecord> next;
};

struct XolContext {
    uint32_t adapterCount = 0;
    std::unique_ptr<XolAdapterRecord> adapters;
    XolAdapterRecord* tail = nullptr;
    uint32_t options = 0;
    uint32_t nextHandle = 1;
    XolStatusInfo lastStatus = {};
    // The device a request last named: the requests of one device come in a
    // row, and a search of every list per request made listings quadratic.
    // Cleared whenever a device record goes away.
    XolDeviceRecord* lastDevice = nullptr;
    XolAdapterRecord* lastDeviceAdapter = nullptr;
};

// Makes device the one lookupDevice answers first; null forgets it.
void rememberDevice(XolDeviceRecord* device, XolAdapterRecord* adapter);

// The one context, or nullptr before XolLib2Create.
XolContext* xolContext();

// 54: null pointer or no adapter with that handle; 48: not an adapter handle.
uint32_t lookupAdapter(const uint32_t* handle, XolAdapterRecord** record);

// 48: null pointer, not a device handle or no device with it. The adapter is
// optional.
uint32_t lookupDevice(const uint32_t* handle, XolDeviceRecord** device, XolAdapterRecord** adapter);

// The device of a handle word, which must belong to this adapter; else 48.
uint32_t lookupAdapterDevice(const uint32_t* device, const XolAdapterRecord* adapter,
                             XolDeviceRecord** record);
// The driver's mapping request: the handle, or target id and bus, not given
// are sent as 0xFFFF / 0xFFFFFFFF and come back filled. 32/52 transport.
uint32_t mapDeviceRequest(const XolAdapterRecord& adapter, uint16_t* devHandle, uint32_t* targetId,
                          uint32_t* bus);
// SAS Device page 0 (or the extended type 29 page) of one device by handle;
// *received is what both the page and the buffer cover.
uint32_t readDevicePageByHandle(XolAdapterRecord* adapter, bool secondList, uint16_t devHandle,
                                uint8_t* page, uint32_t capacity, uint32_t* received);

// Enumerates the adapter's devices into its (empty) list: 0, or the status
// of the SAS device page walk that failed.
uint32_t enumerateDevices(XolAdapterRecord* adapter);
void releaseDevices(XolAdapterRecord* adapter);

// Opens the adapter's node, issues one request on it, closes it.
// 32: node not opened; 52: negative answer.
uint32_t issueAdapterIoctl(const XolAdapterRecord& adapter, unsigned long request, void* argument);

// Refills the information block from the driver's adapter information answer.
void fillAdapterInfo(XolAdapterRecord* adapter, const uint8_t* iocInfo);

// A zeroed passthrough block for a request of the given lengths.
XolPassthroughBlock makePassthroughBlock(uint32_t handle, const uint8_t* request,
                                         uint32_t requestLength, uint8_t* reply,
                                         uint32_t replyLength);

// ------------------------------------------------------------ frames

inline constexpr size_t kFrameFunction = 3;
inline constexpr uint8_t kFunctionIocFacts = 0x03;
inline constexpr uint8_t kFunctionConfig = 0x04;
inline constexpr uint8_t kFunctionPortFacts = 0x05;
inline constexpr uint8_t kFunctionFwDownload = 0x09;
inline constexpr uint8_t kFunctionFwUpload = 0x12;
inline constexpr uint8_t kFunctionToolbox = 0x17;

// Reply fields common to every XIF reply.
inline constexpr size_t kReplyIocStatus = 14;
inline constexpr size_t kReplyIocLogInfo = 16;
inline constexpr uint32_t kReplyMinimumLength = 20;

inline constexpr uint32_t kIocFactsRequestSize = 12;
inline constexpr uint32_t kPortFactsRequestSize = 12;
inline constexpr size_t kPortFactsPortNumber = 6;
void buildIocFactsFrame(uint8_t* frame);
void buildPortFactsFrame(uint8_t* frame, uint8_t port);

// Configuration request (28 bytes) and reply (24 bytes).
inline constexpr uint32_t kConfigRequestSize = 28;
inline constexpr uint32_t kConfigReplySize = 24;
inline constexpr size_t kConfigAction = 0;
inline constexpr size_t kConfigExtPageLength = 4;
inline constexpr size_t kConfigExtPageType = 6;
inline constexpr size_t kConfigHeader = 20;
inline constexpr size_t kConfigPageAddress = 24;
inline constexpr size_t kConfigReplyExtPageLength = 4;
inline constexpr size_t kConfigReplyHeader = 20;
// Page header bytes.
inline constexpr size_t kPageHeaderVersion = 0;
inline constexpr size_t kPageHeaderLength = 1;
inline constexpr size_t kPageHeaderNumber = 2;
inline constexpr size_t kPageHeaderType = 3;

enum ConfigAction : uint8_t {
    kConfigActionHeader = 0,
    kConfigActionReadCurrent = 1,
    kConfigActionWriteCurrent = 2,
    kConfigActionDefault = 3,
    kConfigActionWriteNvram = 4,
    kConfigActionReadDefault = 5,
    kConfigActionReadNvram = 6,
};
void buildConfigFrame(uint8_t* frame, uint8_t action, const uint8_t* pageHeader,
                      uint16_t extPageLength, uint8_t extPageType, uint32_t pageAddress);
// Library status for the low 15 bits of a configuration reply's IOCStatus.
uint32_t mapConfigIocStatus(uint16_t iocStatus);
// 0 with the action, or 18.
uint32_t readSelectorAction(uint32_t selector, uint8_t* action);
uint32_t writeSelectorAction(uint32_t selector, uint8_t* action);

// Firmware transfer frames: 44/48-byte zeroed frames of which 36/32 are sent.
inline constexpr uint32_t kTransferFrameCapacity = 48;
inline constexpr uint32_t kClassicTransferRequestSize = 36;
inline constexpr uint32_t kXif25TransferRequestSize = 32;
inline constexpr uint32_t kToolboxRequestSize = 16;
inline constexpr uint32_t kTransferTimeoutSeconds = 60;
inline constexpr uint32_t kEraseTimeoutSeconds = 512;
// Returns the number of bytes to send.
uint32_t buildDownloadFrame(uint8_t* frame, bool xif25, uint8_t imageType, uint32_t chunkSize,
                            uint32_t imageOffset, bool lastChunk);
uint32_t buildUploadFrame(uint8_t* frame, bool xif25, uint8_t imageType, uint32_t chunkSize,
                          uint32_t imageOffset);
void buildEraseFrame(uint8_t* frame, uint32_t regionFlags);

// ------------------------------------------------ diagnostic buffers, events

inline constexpr unsigned long kXolIoctlDiagRegister = 0xC0784C1A;
inline constexpr unsigned long kXolIoctlDiagRelease = 0xC0104C1B;
inline constexpr unsigned long kXolIoctlDiagUnregister = 0xC0104C1C;
inline constexpr unsigned long kXolIoctlDiagQuery = 0xC07C4C1D;
inline constexpr unsigned long kXolIoctlDiagRead = 0xC0204C1E;
inline constexpr unsigned long kXolIoctlEventQuery = 0xC0204C15;
inline constexpr unsigned long kXolIoctlEventEnable = 0xC01C4C16;
inline constexpr unsigned long kXolIoctlEventReport = 0xC0D44C17;

// The driver's header announces payload + 15 bytes for a diagnostic request.
inline constexpr uint32_t kDiagEnvelopeSlack = 15;

inline constexpr uint32_t kDiagRegisterPayload = 108;
inline constexpr size_t kDiagRegisterCallerByte = 0;
inline constexpr size_t kDiagRegisterType = 1;
inline constexpr size_t kDiagRegisterAppFlags = 2;
inline constexpr size_t kDiagRegisterFlags = 4;
inline constexpr size_t kDiagRegisterProductWords = 8;
inline constexpr size_t kDiagRegisterSize = 100;
inline constexpr size_t kDiagRegisterUniqueId = 104;

inline constexpr uint32_t kDiagQueryPayload = 112;
inline constexpr size_t kDiagQueryType = 1;
inline constexpr size_t kDiagQueryAppFlags = 2;
inline constexpr size_t kDiagQueryTotalSize = 100;
inline constexpr size_t kDiagQueryUniqueId = 108;

inline constexpr uint32_t kDiagIdPayload = 4;  // release and unregister

inline constexpr uint32_t kDiagReadHead = 16;
inline constexpr size_t kDiagReadOffset = 4;
inline constexpr size_t kDiagReadLength = 8;
inline constexpr size_t kDiagReadUniqueId = 12;

inline constexpr uint32_t kEventQuerySize = 32;
inline constexpr size_t kEventQueryEntries = 12;
inline constexpr size_t kEventQueryMask = 16;
inline constexpr uint32_t kEventEnableSize = 28;
inline constexpr size_t kEventEnableMask = 12;
inline constexpr size_t kEventReportRecords = 12;
