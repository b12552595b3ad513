// XolLib2, the controller library: finds the controllers (IOCs) behind the SAS
// driver's control nodes, names each by a handle word, and carries XIF request
// frames to them. This header is the library's only interface to the rest of
// the program; driver structures stay inside the library. Every operation
// returns a status from the table below (0 success) and none throws.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shell/byte_buffer.h"

// ------------------------------------------------------------------ statuses

inline constexpr uint32_t kXolStatusSuccess = 0;
// List ended before the index, unmapped configuration IOCStatus, nothing found.
inline constexpr uint32_t kXolStatusFailure = 1;
inline constexpr uint32_t kXolStatusNoMemory = 16;
// Passthrough block size below 112; configuration buffer absent or too small.
inline constexpr uint32_t kXolStatusBufferTooSmall = 17;
inline constexpr uint32_t kXolStatusInvalidArgument = 18;
inline constexpr uint32_t kXolStatusWrongRecordSize = 21;
// The request does not apply to this adapter (family or region flag).
inline constexpr uint32_t kXolStatusNotApplicable = 23;
inline constexpr uint32_t kXolStatusNodeOpenFailed = 32;
// Malformed adapter handle, null or unknown device handle, device index range.
inline constexpr uint32_t kXolStatusBadHandle = 48;
inline constexpr uint32_t kXolStatusNoSuchDevice = 49;
inline constexpr uint32_t kXolStatusIndexOutOfRange = 50;
inline constexpr uint32_t kXolStatusIoctlFailed = 52;
// Null adapter handle pointer or no adapter with that handle.
inline constexpr uint32_t kXolStatusNoAdapter = 54;
// The adapter's XIF message version is below 0x0200.
inline constexpr uint32_t kXolStatusOldXifVersion = 96;
inline constexpr uint32_t kXolStatusBadTaskType = 112;
inline constexpr uint32_t kXolStatusConfigInvalidAction = 256;  // IOCStatus 0x0020
inline constexpr uint32_t kXolStatusConfigInvalidType = 257;    // IOCStatus 0x0021
inline constexpr uint32_t kXolStatusConfigNoPage = 258;         // IOCStatus 0x0022 / 0x0001
inline constexpr uint32_t kXolStatusBadPageForm = 259;
inline constexpr uint32_t kXolStatusDiagArgument = 0x500;
inline constexpr uint32_t kXolStatusDiagIoctlFailed = 0x501;
// A size the controller reported (a flash region) is above kXolMaxRegionSize:
// refused before anything is allocated or transferred.
inline constexpr uint32_t kXolStatusSizeTooLarge = 0x600;
inline constexpr uint32_t kXolStatusResetRefused = 0xFFFFFFFF;

// ------------------------------------------------------------- handle words

inline constexpr uint32_t kXolAdapterHandleKind = 0x01000000;  // top byte of adapter handles
inline constexpr uint32_t kXolDeviceHandleKind = 0x02000000;   // top byte of device handles
inline constexpr uint32_t kXolHandleKindMask = 0xFF000000;

// ---------------------------------------------------------- discovery options

inline constexpr uint32_t kXolOptionNoDeviceScan = 0x00000001;
inline constexpr uint32_t kXolOptionRestrict = 0x80000000;
inline constexpr uint32_t kXolOptionFirstGeneration = 0x02000000;
inline constexpr uint32_t kXolOptionFlashAccelerator = 0x20000000;
inline constexpr uint32_t kXolOptionSecondGeneration = 0x04000000;
inline constexpr uint32_t kXolOptionNewestGeneration = 0x08000000;
inline constexpr uint32_t kXolOptionOtherVendor = 0x10000000;
// What the command shell passes: restricted to the second and newest families.
inline constexpr uint32_t kXolShellDiscoveryOptions = 0x8C000000;

// ------------------------------------------------------------ status record

// Filled from every passthrough reply: IOCStatus (low 15 bits) and IOCLogInfo.
struct XolStatusInfo {
    uint32_t size;  // always 16
    uint32_t flags;
    uint32_t iocStatus;
    uint32_t iocLogInfo;
};
inline constexpr uint32_t kXolStatusFlagIocStatus = 0x1;
inline constexpr uint32_t kXolStatusFlagLogInfo = 0x2;

// One XIF request as the caller hands it to XolLib2Passthrough. The fields sit
// at the documented byte offsets (size 0, handle 4, signature 8, status 12,
// request 28/32, data-out 40/48, reply 56/64, data-in 72/80, sense 88/96,
// timeout 104, spare 108); lengths are in bytes.
struct XolPassthroughBlock {
    uint32_t size;  // at least kXolPassthroughBlockSize
    uint32_t adapterHandle;
    uint32_t signature;  // kXolPassthroughSignature
    XolStatusInfo status;
    uint32_t requestLength;  // a multiple of 4
    const uint8_t* request;
    uint32_t dataOutLength;
    const uint8_t* dataOut;
    uint32_t replyLength;
    uint8_t* reply;
    uint32_t dataInLength;
    uint8_t* dataIn;
    uint32_t senseLength;
    uint8_t* sense;
    uint32_t timeoutSeconds;  // 0 means kXolDefaultTimeoutSeconds
    uint32_t spare;
};
inline constexpr uint32_t kXolPassthroughBlockSize = 112;
inline constexpr uint32_t kXolPassthroughSignature = 0x392A8C9F;
inline constexpr uint32_t kXolDefaultTimeoutSeconds = 10;

// Library version record: the caller sets size (at least 8).
struct XolLib2VersionRecord {
    uint32_t size;
    uint8_t major;
    uint8_t minor;
    uint8_t build;
};

// ------------------------------------------------- adapter information block

inline constexpr uint32_t kXolAdapterInfoSize = 624;
inline constexpr size_t kAdapterInfoHandle = 0;
inline constexpr size_t kAdapterInfoAdapterType = 8;  // controller generation code
inline constexpr size_t kAdapterInfoPortNumber = 12;
inline constexpr size_t kAdapterInfoDeviceId = 16;
inline constexpr size_t kAdapterInfoRevision = 20;
inline constexpr size_t kAdapterInfoSubsystemDeviceId = 24;
inline constexpr size_t kAdapterInfoSubsystemVendorId = 28;
inline constexpr size_t kAdapterInfoReserved = 32;
inline constexpr size_t kAdapterInfoFirmwareVersion = 36;
inline constexpr size_t kAdapterInfoBiosVersion = 40;
inline constexpr size_t kAdapterInfoDriverVersion = 44;  // 32 characters
inline constexpr size_t kAdapterInfoDriverVersionSize = 32;
inline constexpr size_t kAdapterInfoScsiId = 76;
inline constexpr size_t kAdapterInfoPciLocation = 80;  // bus << 8 | function << 5 | device
inline constexpr size_t kAdapterInfoPciSegment = 84;
inline constexpr size_t kAdapterInfoPcieWidth = 88;
inline constexpr size_t kAdapterInfoPcieSpeed = 89;
inline constexpr size_t kAdapterInfoProcessorState = 92;
inline constexpr size_t kAdapterInfoIocTemperature = 96;
inline constexpr size_t kAdapterInfoTemperatureUnits = 98;
inline constexpr size_t kAdapterInfoIocSpeed = 99;
inline constexpr size_t kAdapterInfoChipName = 108;  // 260 characters
inline constexpr size_t kAdapterInfoChipNameSize = 260;
inline constexpr size_t kAdapterInfoAdapterName = 368;  // 76 characters, "SAS Host %d"
inline constexpr size_t kAdapterInfoAdapterNameSize = 76;

// --------------------------------------------------------- IOC and Port Facts

inline constexpr uint32_t kXolIocFactsReplySize = 68;
inline constexpr size_t kIocFactsMessageVersion = 0;    // u16
inline constexpr size_t kIocFactsProductWord = 26;      // u16
inline constexpr size_t kIocFactsFirmwareVersion = 32;  // u32; byte 35 is the major number
inline constexpr uint32_t kXolPortFactsReplySize = 28;
inline constexpr uint16_t kXolMinimumTransferXifVersion = 0x0200;

// -------------------------------------------------------- configuration pages

inline constexpr uint8_t kPageTypeIoUnit = 0;
inline constexpr uint8_t kPageTypeIoc = 1;
inline constexpr uint8_t kPageTypeBios = 2;
inline constexpr uint8_t kPageTypeManufacturing = 9;
inline constexpr uint8_t kPageTypeExtended = 15;

inline constexpr uint8_t kExtPageTypeSasIoUnit = 16;
inline constexpr uint8_t kExtPageTypeSasExpander = 17;
inline constexpr uint8_t kExtPageTypeSasDevice = 18;
inline constexpr uint8_t kExtPageTypeSasPhy = 19;
inline constexpr uint8_t kExtPageTypeLog = 20;
inline constexpr uint8_t kExtPageTypeEnclosure = 21;
inline constexpr uint8_t kExtPageTypeSecondDeviceList = 29;

// Selectors: reads 0 (size only), 1 current, 2 default, 3 NVRAM; writes 1 current,
// 2 default, 3 NVRAM.
inline constexpr uint32_t kPageSelectorSize = 0;
inline constexpr uint32_t kPageSelectorCurrent = 1;
inline constexpr uint32_t kPageSelectorDefault = 2;
inline constexpr uint32_t kPageSelectorNvram = 3;

// Page address forms of the fixed readers (the value of address bits 28..31).
inline constexpr uint32_t kPageFormNext = 0;       // the previous handle, 0xFFFF to start
inline constexpr uint32_t kPageFormSecondary = 1;  // phy table index / enclosure by handle
inline constexpr uint32_t kPageFormByHandle = 2;   // expander and device pages by handle
inline constexpr uint16_t kPageWalkStartHandle = 0xFFFF;

// ------------------------------------------------------------ firmware images

inline constexpr uint8_t kImageTypeBoot = 2;  // the BIOS / boot image region
inline constexpr uint32_t kXolRegionChunkSize = 16384;
// The largest flash region or image the library and the commands accept from
// a controller's or a file's size field (erased flash reads 0xFFFFFFFF).
inline constexpr uint32_t kXolMaxRegionSize = 64u * 1024 * 1024;
inline constexpr uint32_t kXolDownloadReplySize = 20;
inline constexpr uint32_t kXolUploadReplySize = 24;
inline constexpr size_t kUploadReplyImageSize = 20;  // u32 size of the whole region
inline constexpr uint32_t kXolEraseReplySize = 20;
inline constexpr uint32_t kXolEraseRegionA = 0x20000000;
inline constexpr uint32_t kXolEraseRegionB = 0x04000000;
inline constexpr int32_t kXolLastChunk = 1;

// ====================================================================
// Context, discovery and adapter information

// Creates the one context, releasing an existing one. 0; 16 out of memory.
uint32_t XolLib2Create();
// Always 0; releases nothing.
uint32_t XolLib2Shutdown();
// 1 for a null record; 0 (unfilled) when size is below 8; 0 with version 3.255.1.
uint32_t XolLib2GetVersion(XolLib2VersionRecord* record);
// Finds the adapters once per context with the option word (kXolOption*).
// 0 with at least one adapter; 1 without any (16 when a record could not be
// allocated); 0 at once when the context already holds adapters.
uint32_t XolLib2DiscoverAdapters(uint32_t* adapterCount, uint32_t options);
// Copies the 624-byte information block of the index-th adapter (handle null)
// or of the adapter of *handle, with the BIOS version refreshed.
// 50: index not below the count; 1: list ended early; 48/54: bad handle;
// 18: info null.
uint32_t XolLib2GetAdapterInfo(uint32_t index, const uint32_t* handle, uint8_t* info,
                               uint32_t* size);
// Copies the status record of the last passthrough; always 0.
uint32_t XolLib2GetLastStatus(XolStatusInfo* status);

// ====================================================================
// Transport

// Sends one caller-built block and fills its status record. 48/54: bad handle;
// 17: block size below 112 (nothing is sent); 16: out of memory; 32: control
// node cannot be opened; 52: the driver refused the request; 18: a length
// without its buffer. A non-zero IOCStatus is not a failure: test block.status.
uint32_t XolLib2Passthrough(XolPassthroughBlock* block);
// 0; 48/54 bad handle; 32 node not opened; 0xFFFFFFFF (or the driver's
// non-zero answer) when the driver refuses the reset.
uint32_t XolLib2HardReset(const uint32_t* handle);
// *length in: capacity, out: bytes copied (at most 68; 0 on failure). The
// status record (optional) receives the reply's IOCStatus and IOCLogInfo.
uint32_t XolLib2GetIocFacts(const uint32_t* handle, uint8_t* reply, uint32_t* length,
                            XolStatusInfo* status);
// As IOC Facts, for one port; at most 28 bytes.
uint32_t XolLib2GetPortFacts(const uint32_t* handle, uint8_t port, uint8_t* reply, uint32_t* length,
                             XolStatusInfo* status);

// ====================================================================
// Configuration pages

// Reads a page. *size in: buffer capacity; out: the full page size in bytes.
// Selector 0 only reports the size. 17: buffer null or size 0 (size set);
// 18: unknown selector or extended type missing for type 15; 16: no memory;
// 256/257/258/1: the controller's IOCStatus; transport statuses as they come.
uint32_t XolLib2ReadConfigPage(const uint32_t* handle, uint32_t pageAddress, uint8_t pageType,
                               uint8_t pageNumber, uint8_t extPageType, uint32_t selector,
                               uint8_t* buffer, uint32_t* size);
// Writes *size bytes of a whole page. 17: buffer null; 18 as for reads.
uint32_t XolLib2WriteConfigPage(const uint32_t* handle, uint32_t pageAddress, uint8_t pageType,
                                uint8_t pageNumber, uint8_t extPageType, uint32_t selector,
                                uint8_t* buffer, uint32_t* size);
uint32_t XolLib2WriteSasIoUnitPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                    uint32_t selector);

// Fixed readers: (handle, buffer or null, in/out size, selector) as above.
uint32_t XolLib2ReadManufacturingPage(const uint32_t* handle, uint8_t pageNumber, uint8_t* buffer,
                                      uint32_t* size, uint32_t selector);
uint32_t XolLib2ReadManufacturingPage0(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector);
uint32_t XolLib2ReadManufacturingPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector);
uint32_t XolLib2ReadManufacturingPage2(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector);
uint32_t XolLib2ReadManufacturingPage3(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector);
uint32_t XolLib2ReadManufacturingPage4(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector);
uint32_t XolLib2ReadManufacturingPage5(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector);
uint32_t XolLib2ReadManufacturingPage6(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector);
uint32_t XolLib2ReadManufacturingPage7(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector);
uint32_t XolLib2ReadIoUnitPage0(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                uint32_t selector);
uint32_t XolLib2ReadIoUnitPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                uint32_t selector);
uint32_t XolLib2ReadIoUnitPage3(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                uint32_t selector);
uint32_t XolLib2ReadIoUnitPage7(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                uint32_t selector);
// 23 unless the adapter is of the new family.
uint32_t XolLib2ReadIoUnitPage11(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                 uint32_t selector);
uint32_t XolLib2ReadIocPage0(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector);
uint32_t XolLib2ReadIocPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector);
uint32_t XolLib2ReadIocPage6(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector);
uint32_t XolLib2ReadIocPage7(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector);
uint32_t XolLib2ReadIocPage8(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector);
uint32_t XolLib2ReadBiosPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                              uint32_t selector);
uint32_t XolLib2ReadBiosPage2(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                              uint32_t selector);
uint32_t XolLib2ReadBiosPage3(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                              uint32_t selector);
uint32_t XolLib2ReadBiosPage4(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                              uint32_t selector);
uint32_t XolLib2ReadSasIoUnitPage0(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                   uint32_t selector);
uint32_t XolLib2ReadSasIoUnitPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                   uint32_t selector);
// 23 for adapters of the new family.
uint32_t XolLib2ReadSasIoUnitPage4(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                   uint32_t selector);
uint32_t XolLib2ReadSasIoUnitPage5(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                   uint32_t selector);
uint32_t XolLib2ReadLogPage0(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector);

// Addressed readers; a form a page does not know gives 259 before anything is
// sent. SAS expander page 0: kPageFormNext (previous handle) or
// kPageFormByHandle. SAS device pages: kPageFormNext or kPageFormByHandle.
// SAS phy pages: kPageFormNext (phy number) or kPageFormSecondary (table
// index). Enclosure page 0: kPageFormNext or kPageFormSecondary (by handle).
uint32_t XolLib2ReadSasExpanderPage0(const uint32_t* handle, uint32_t form, uint16_t devHandle,
                                     uint8_t* buffer, uint32_t* size, uint32_t selector);
// By expander handle and phy number.
uint32_t XolLib2ReadSasExpanderPage1(const uint32_t* handle, uint8_t phy, uint16_t devHandle,
                                     uint8_t* buffer, uint32_t* size, uint32_t selector);
uint32_t XolLib2ReadSasDevicePage0(const uint32_t* handle, uint32_t form, uint16_t devHandle,
                                   uint8_t* buffer, uint32_t* size, uint32_t selector);
uint32_t XolLib2ReadSasDevicePage1(const uint32_t* handle, uint32_t form, uint16_t devHandle,
                                   uint8_t* buffer, uint32_t* size, uint32_t selector);
uint32_t XolLib2ReadSasPhyPage0(const uint32_t* handle, uint32_t form, uint16_t number,
                                uint8_t* buffer, uint32_t* size, uint32_t selector);
uint32_t XolLib2ReadSasPhyPage1(const uint32_t* handle, uint32_t form, uint16_t number,
                                uint8_t* buffer, uint32_t* size, uint32_t selector);
uint32_t XolLib2ReadEnclosurePage0(const uint32_t* handle, uint32_t form, uint16_t devHandle,
                                   uint8_t* buffer, uint32_t* size, uint32_t selector);

// Walks page 0 of a list of objects (next form from 0xFFFF), reading each page
// into a zeroed buffer of bufferSize bytes and taking the object's own 16-bit
// handle at handleOffset as the next start. visit returns 0 to go on; any
// other value ends the walk with that status. 0 when the controller answers
// 258 (end of list) or hands out a handle already visited (a list that loops);
// any other read failure ends the walk with its status. 18: visit null or
// handleOffset outside the buffer.
using XolPageVisitor = uint32_t (*)(void* context, const uint8_t* page, uint32_t size);
uint32_t XolLib2WalkPages(const uint32_t* handle, uint8_t pageType, uint8_t extPageType,
                          uint32_t bufferSize, uint32_t handleOffset, XolPageVisitor visit,
                          void* context);

// ====================================================================
// Firmware transfer

// Downloads one chunk (data-out). last == 1 marks the last chunk; any other
// value does not. *replyLength in: capacity, out: bytes copied (at most 20, 0
// on failure). 96: XIF version below 0x0200; 48/54 bad handle; transport
// statuses. A rejected chunk shows in the status record, not the status.
uint32_t XolLib2FwDownload(const uint32_t* handle, const uint8_t* chunk, uint32_t chunkSize,
                           uint32_t imageOffset, uint8_t imageType, int32_t last, uint8_t* reply,
                           uint32_t* replyLength, XolStatusInfo* status);
// Uploads one chunk into buffer (data-in; none when chunkSize is 0). The reply
// (at most 24 bytes) holds the whole region's size at offset 20.
uint32_t XolLib2FwUpload(const uint32_t* handle, uint8_t* buffer, uint32_t chunkSize,
                         uint32_t imageOffset, uint8_t imageType, uint8_t* reply,
                         uint32_t* replyLength, XolStatusInfo* status);
// The size of a region (an upload of 0 bytes at offset 0). 1 when the
// controller rejects it with an IOCStatus; transport statuses.
uint32_t XolLib2GetRegionSize(const uint32_t* handle, uint8_t imageType, uint32_t* size);
// Reads a whole region into *image in 16384-byte chunks. 1: size 0 or a chunk
// rejected; 0x600: size above kXolMaxRegionSize (nothing allocated); 16: no
// memory; transport statuses. *image is empty on failure.
uint32_t XolLib2ReadRegion(const uint32_t* handle, uint8_t imageType, ByteBuffer* image);
// Erases a flash region: only kXolEraseRegionA and kXolEraseRegionB (else 23).
// The 20-byte reply and the status record are copied when given, also after
// a transport failure (zeros then). 96: XIF version below 0x0200.
uint32_t XolLib2FlashErase(const uint32_t* handle, uint32_t regionFlags, uint8_t* reply,
                           XolStatusInfo* status);

// The BIOS version word of a boot image (a PCI expansion ROM): 0 with *version
// set (0 when the image has no 0xAA55 signature or is not of code type 0);
// 1 when the image is too short for the structures it points at.
uint32_t XolLib2BiosVersionFromImage(const uint8_t* image, size_t size, uint32_t* version);

// ====================================================================
// Devices and device requests

// Device information block (1080 bytes) filled by XolLib2GetDeviceInfo.
inline constexpr uint32_t kXolDeviceInfoSize = 1080;
inline constexpr size_t kDeviceInfoHandle = 0;
inline constexpr size_t kDeviceInfoFormat = 8;  // 536
inline constexpr size_t kDeviceInfoBus = 12;
inline constexpr size_t kDeviceInfoTargetId = 16;
inline constexpr size_t kDeviceInfoLun = 24;
inline constexpr size_t kDeviceInfoSasAddress = 40;  // u64
inline constexpr size_t kDeviceInfoEnclosureHandle = 48;
inline constexpr size_t kDeviceInfoSlot = 50;
inline constexpr size_t kDeviceInfoDevHandle = 52;  // the controller's u16 handle
inline constexpr size_t kDeviceInfoInquiry = 54;    // 255 bytes of standard INQUIRY
inline constexpr size_t kDeviceInfoInquirySize = 255;
inline constexpr size_t kDeviceInfoSerial = 309;  // 128 characters, trimmed
inline constexpr size_t kDeviceInfoSerialSize = 128;
inline constexpr size_t kDeviceInfoSerialLength = 440;
inline constexpr size_t kDeviceInfoBlocks = 448;     // u64, last LBA + 1
inline constexpr size_t kDeviceInfoBlockSize = 456;  // u32
inline constexpr size_t kDeviceInfoCapacity = 464;   // u64 bytes
inline constexpr size_t kDeviceInfoNonRotating = 472;
inline constexpr size_t kDeviceInfoPort = 476;
inline constexpr size_t kDeviceInfoRotationRate = 478;  // u16
inline constexpr size_t kDeviceInfoFormFactor = 480;
inline constexpr size_t kDeviceInfoPowerValid = 484;
inline constexpr size_t kDeviceInfoFlag1000 = 488;
inline constexpr size_t kDeviceInfoFlag0800 = 492;
inline constexpr size_t kDeviceInfoPhyState = 496;
inline constexpr size_t kDeviceInfoFormat2 = 544;  // 532
inline constexpr size_t kDeviceInfoUnknownType = 548;
inline constexpr size_t kDeviceInfoAttachment = 552;
inline constexpr size_t kDeviceInfoInterface = 556;  // 1 SAS, 2 SATA, 3 NVMe, 15 other
inline constexpr size_t kDeviceInfoDeviceType = 560;
inline constexpr size_t kDeviceInfoText = 820;  // 256 characters
inline constexpr size_t kDeviceInfoTextSize = 256;

inline constexpr uint32_t kXolInterfaceSas = 1;
inline constexpr uint32_t kXolInterfaceSata = 2;
inline constexpr uint32_t kXolInterfaceNvme = 3;
inline constexpr uint32_t kXolInterfaceOther = 15;
inline constexpr uint8_t kXolUnknownDeviceType = 31;

// 48/54: bad adapter handle; 18: count null.
uint32_t XolLib2GetDeviceCount(const uint32_t* adapter, uint32_t* count);
// The device of *device (when given) or the index-th device of the adapter;
// the block is filled on first access; copies min(*size, 1080) bytes.
// 48: index not below the count or unknown device; 1: list ended early, or
// the device text source (/proc/scsi/scsi) is a link or unreadable; 18: info
// or size null.
uint32_t XolLib2GetDeviceInfo(uint32_t index, const uint32_t* adapter, const uint32_t* device,
                              uint8_t* info, uint32_t* size);
// Releases the adapter's devices and enumerates them again: 0, or the
// status of the first page walk that failed.
uint32_t XolLib2RediscoverDevices(const uint32_t* adapter);

// IO unit control operations 2, 6, 7, 8, 0x0B, 0x0D, 0x10, 0x11, 0x12, 0x13
// and 0x80..0xFF (18 otherwise). 6, 7, 8 carry the phy; 0x0D, 0x10, 0x11 act
// on *device (48 without). 23: wrong family (the plain call is for adapters
// without the new-family flag, the NewFamily call for those with it). The
// status record (optional) is copied on success.
uint32_t XolLib2IoUnitControl(const uint32_t* adapter, const uint32_t* device, uint8_t operation,
                              uint8_t phy, XolStatusInfo* status);
uint32_t XolLib2IoUnitControlNewFamily(const uint32_t* adapter, const uint32_t* device,
                                       uint8_t operation, uint8_t phy, XolStatusInfo* status);

// Task types 1, 2, 3, 5..10 (112 otherwise) on *device, or when device is
// null on the device with that target id, bus and LUN (49 when none). The
// outputs are optional.
uint32_t XolLib2TaskManagement(const uint32_t* adapter, const uint32_t* device, uint32_t targetId,
                               uint32_t bus, uint8_t lun, uint8_t taskType, uint8_t messageFlags,
                               XolStatusInfo* status, uint8_t* responseCode,
                               uint32_t* terminationCount);

// SMP passthrough record (2096 bytes, caller-side).
inline constexpr uint32_t kXolSmpRecordSize = 2096;
inline constexpr size_t kSmpRecordRequestLength = 4;    // u16, frame length + 4
inline constexpr size_t kSmpRecordSasAddress = 8;       // u64
inline constexpr size_t kSmpRecordStatus = 16;          // XolStatusInfo, out
inline constexpr size_t kSmpRecordSasStatus = 32;       // u8, out
inline constexpr size_t kSmpRecordResponseLength = 34;  // u16, in: capacity, out: received
inline constexpr size_t kSmpRecordRequest = 36;         // up to 1028 bytes
inline constexpr size_t kSmpRecordResponse = 1064;      // up to 1032 bytes
inline constexpr uint32_t kXolSmpMaxResponse = 1032;
// 21: size field not 2096; 18: request length below 4 or above 1032, or
// response length above 1032 (nothing sent); transport statuses.
uint32_t XolLib2SmpPassthrough(const uint32_t* adapter, uint8_t* record);

// SATA passthrough record (416 bytes, caller-side).
inline constexpr uint32_t kXolSataRecordSize = 416;
inline constexpr size_t kSataRecordDeviceHandle = 4;  // u32 device handle word
inline constexpr size_t kSataRecordOptions = 8;       // six u32 options at 8..31
inline constexpr size_t kSataRecordDataOutLength = 32;
inline constexpr size_t kSataRecordDataOut = 40;  // u64 pointer
inline constexpr size_t kSataRecordDataInLength = 48;
inline constexpr size_t kSataRecordDataIn = 56;          // u64 pointer
inline constexpr size_t kSataRecordFis = 64;             // five u32 words of the command FIS
inline constexpr size_t kSataRecordTimeout = 84;         // u32 seconds
inline constexpr size_t kSataRecordStatus = 88;          // XolStatusInfo, out
inline constexpr size_t kSataRecordSasStatus = 104;      // u8, out
inline constexpr size_t kSataRecordStatusFis = 108;      // 20 bytes, out
inline constexpr size_t kSataRecordStatusControl = 128;  // u32, out
inline constexpr size_t kSataRecordTransferCount = 132;  // u32, out
// 21: size field not 416; 48: unknown device; transport statuses.
uint32_t XolLib2SataPassthrough(const uint32_t* adapter, uint8_t* record);

// SCSI IO record (344 bytes, caller-side).
inline constexpr uint32_t kXolScsiIoRecordSize = 344;
inline constexpr size_t kScsiIoRecordTransferCount = 4;  // u32, out: bytes moved
inline constexpr size_t kScsiIoRecordCdbLength = 20;
inline constexpr size_t kScsiIoRecordCdb = 21;  // up to 32 bytes
inline constexpr size_t kScsiIoRecordSense = 53;
inline constexpr size_t kScsiIoRecordSenseSize = 252;
inline constexpr size_t kScsiIoRecordDirection = 308;  // non-zero: to the device
inline constexpr size_t kScsiIoRecordDataLength = 312;
inline constexpr size_t kScsiIoRecordData = 320;  // u64 pointer
inline constexpr size_t kScsiIoRecordScsiStatus = 328;
inline constexpr size_t kScsiIoRecordTimeout = 332;
inline constexpr size_t kScsiIoRecordIocStatus = 336;   // u16
inline constexpr size_t kScsiIoRecordIocLogInfo = 340;  // u32
inline constexpr uint32_t kXolMaxCdbLength = 32;
// Up to three tries while the status is CHECK CONDITION or the sense key is
// UNIT ATTENTION. 0 only when the last try ended GOOD or CONDITION MET; 1
// otherwise (status, IOCStatus and sense kept in the record). 21: size field
// not 344; 18: CDB above 32 bytes or data without a pointer; 48: not a
// device handle of this adapter; 16: no memory; transport statuses.
uint32_t XolLib2ScsiIoPassthrough(const uint32_t* adapter, const uint32_t* device, uint8_t* record);

// Switches the locate LED of an adapter's device (slot status bit 0x20000).
// 48: not a device handle; 1: the slot status could not be read (nothing is
// written then) or the enclosure refused the write.
uint32_t XolLib2Locate(const uint32_t* device, bool on);

// The driver's mapping of a controller device handle to target id and bus,
// and back. 18: handle 0xFFFF, or target and bus both 0xFFFFFFFF; 52: the
// driver knows no such device; 32: node not opened.
uint32_t XolLib2MapHandleToTarget(const uint32_t* adapter, uint16_t devHandle, uint32_t* targetId,
                                  uint32_t* bus);
uint32_t XolLib2MapTargetToHandle(const uint32_t* adapter, uint32_t targetId, uint32_t bus,
                                  uint16_t* devHandle);
