#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

/// The platform's display mode record in its 124-byte ANSI form. Field names
/// are the platform's own. Bytes 106-107 (the high half of the platform's
/// 32-bit depth field) are not part of the record: the depth is read as the
/// low 16 bits, and every image handed to the platform has zero there.
struct DEVMODEA {
  char dmDeviceName[32];
  uint16_t dmSpecVersion;
  uint16_t dmDriverVersion;
  uint16_t dmSize;
  uint16_t dmDriverExtra;
  uint32_t dmFields;
  // The printer/position union of the platform's record, as eight 16-bit
  // fields; the program never reads or writes them.
  int16_t dmOrientation;
  int16_t dmPaperSize;
  int16_t dmPaperLength;
  int16_t dmPaperWidth;
  int16_t dmScale;
  int16_t dmCopies;
  int16_t dmDefaultSource;
  int16_t dmPrintQuality;
  int16_t dmColor;
  int16_t dmDuplex;
  int16_t dmYResolution;
  int16_t dmTTOption;
  int16_t dmCollate;
  char dmFormName[32];
  uint16_t dmLogPixels;
  int16_t dmBitsPerPel;    // bits per pixel
  int32_t dmPelsWidth;     // pixels
  int32_t dmPelsHeight;    // pixels
  int32_t dmDisplayFlags;
  int32_t dmDisplayFrequency;  // Hz
};

static_assert(sizeof(DEVMODEA) == 124, "DEVMODEA is the platform's 124-byte record");
static_assert(std::is_standard_layout<DEVMODEA>::value && std::is_trivially_copyable<DEVMODEA>::value,
              "DEVMODEA is copied to and from the platform byte for byte");
static_assert(offsetof(DEVMODEA, dmDeviceName) == 0, "dmDeviceName");
static_assert(offsetof(DEVMODEA, dmSpecVersion) == 32, "dmSpecVersion");
static_assert(offsetof(DEVMODEA, dmDriverVersion) == 34, "dmDriverVersion");
static_assert(offsetof(DEVMODEA, dmSize) == 36, "dmSize");
static_assert(offsetof(DEVMODEA, dmDriverExtra) == 38, "dmDriverExtra");
static_assert(offsetof(DEVMODEA, dmFields) == 40, "dmFields");
static_assert(offsetof(DEVMODEA, dmOrientation) == 44, "first 16-bit field");
static_assert(offsetof(DEVMODEA, dmCollate) == 68, "thirteenth 16-bit field");
static_assert(offsetof(DEVMODEA, dmFormName) == 70, "dmFormName");
static_assert(offsetof(DEVMODEA, dmLogPixels) == 102, "dmLogPixels");
static_assert(offsetof(DEVMODEA, dmBitsPerPel) == 104, "dmBitsPerPel");
static_assert(offsetof(DEVMODEA, dmPelsWidth) == 108, "dmPelsWidth");
static_assert(offsetof(DEVMODEA, dmPelsHeight) == 112, "dmPelsHeight");
static_assert(offsetof(DEVMODEA, dmDisplayFlags) == 116, "dmDisplayFlags");
static_assert(offsetof(DEVMODEA, dmDisplayFrequency) == 120, "dmDisplayFrequency");

/// Field mask bits of dmFields.
constexpr uint32_t DM_LOGPIXELS = 0x00020000;
constexpr uint32_t DM_BITSPERPEL = 0x00040000;
constexpr uint32_t DM_PELSWIDTH = 0x00080000;
constexpr uint32_t DM_PELSHEIGHT = 0x00100000;
constexpr uint32_t DM_DISPLAYFLAGS = 0x00200000;
constexpr uint32_t DM_DISPLAYFREQUENCY = 0x00400000;

/// The record as the platform sees it: 124 bytes.
using DevModeImage = std::array<unsigned char, sizeof(DEVMODEA)>;

/// Returns the bytes of `record`, with zero in bytes 106-107.
DevModeImage ToImage(const DEVMODEA& record);

/// Takes the platform's 124 bytes back into `record`; bytes 106-107 are dropped.
void FromImage(const unsigned char* image, DEVMODEA& record);
