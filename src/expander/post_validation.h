// Post validation of a firmware download: the region the image went to is
// read back through a private scratch file and compared with the image.
#pragma once

#include <cstdint>

// Compares the first length bytes of image with the downloaded region of the
// current expander (stamp bytes 28..36 excepted). The scratch file lives in
// a new private directory under $TMPDIR (default /tmp); both are removed on
// every path. 0 "Image post validated successfully."; 1 after reporting why.
uint32_t postValidateFirmware(const uint8_t* image, uint32_t length);
