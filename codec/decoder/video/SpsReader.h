#pragma once

#include "video/PictureSize.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace vidora {

// The sequence parameter set among the leading NAL units of an H.264 access unit (Annex B):
// from its NAL header byte to the next start code. Empty when the access unit has none before
// its first slice. Cameras put it right after the first start code of every key frame, but
// an access unit delimiter or a 3-byte start code in front of it is tolerated.
std::span<const uint8_t> findSequenceParameterSet(const uint8_t* data, size_t length);

// The picture size a sequence parameter set announces, in whole macroblocks with the cameras'
// usual cropping folded in (368 rows are 360, 192 are 180, 1088 are 1080). Unknown when the set
// is damaged or too short. `nal` starts at the NAL header byte.
PictureSize readSequenceParameterSetSize(std::span<const uint8_t> nal);

} // namespace vidora
