#include "engine/operation_state.h"

namespace lw {

CarryOverSettings CarryOverSettings::From(const ProgramSettings& settings) {
  CarryOverSettings s;
  s.modelFields = settings.esnDataWrite;
  s.serialFields = settings.macAddressWrite;
  // One character; an empty "Head Area Byte" keeps the default region byte.
  if (!settings.headAreaByte.empty()) s.areaByte = settings.headAreaByte[0];
  s.headText = settings.headText;
  s.headDate = settings.headDate;
  s.clearOldDataBit = settings.clearOldDataBit;
  s.regionOverride = settings.headRegionOverride;
  s.modeOverride = settings.headModeOverride;
  s.airInterface = settings.setModeStandard;
  return s;
}

}  // namespace lw
