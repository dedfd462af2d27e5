// The packed broadcast time as a recording stores it; turned into text by catalogue/broadcast_time.h.
#pragma once

#include <cstdint>

// Modified Julian Date in bits 31..16, hour in bits 15..8, minute in bits 7..0; plain numbers, not BCD.
using BroadcastTime = std::uint32_t;
