// conversion.so: the one entry point the program calls to move the radio's configuration data
// into a new firmware's RCDB image. Everything else in this library stays hidden.
#include <span>

#include "conversion/rcdb_conversion.h"

extern "C" __attribute__((visibility("default"))) int UpgradeSrcDataToDestData(unsigned char* dest, int destLen,
                                                                                 const unsigned char* src, int srcLen) {
  if (!dest || !src || destLen <= 0 || srcLen <= 0) return 0;
  try {
    return lw::conversion::ConvertRcdbData(std::span<uint8_t>(dest, size_t(destLen)),
                                           std::span<const uint8_t>(src, size_t(srcLen)))
               ? 1
               : 0;
  } catch (...) {
    // Nothing may cross the C boundary; an allocation failure is a failed conversion.
    return 0;
  }
}
