// Broadcast start and end times as the recorder packs them, and their text for the catalogue.
#pragma once

#include <cstdint>

// Modified Julian Date in bits 31..16, hour in bits 15..8, minute in bits 7..0; plain numbers, not BCD.
using BroadcastTime = std::uint32_t;
