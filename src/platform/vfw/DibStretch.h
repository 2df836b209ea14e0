// Area-averaging stretch of a DIB rectangle: shrinking averages the source
// pixels each target pixel covers, enlarging replicates them.
#pragma once

#include <vector>

#include "DibSource.h"

namespace platform::vfw {

// Stretches the source to w x h pixels (blue, green, red, 0; rows top
// first) into out.
void StretchDib(const DibSource &src, int w, int h, std::vector<unsigned char> &out);

} // namespace platform::vfw
