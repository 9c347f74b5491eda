// Test support for the GIF jobs: the options a video gives, as opening it prepares them.
#pragma once

#include "convert/AviToGif.h"

#include <string>

namespace kelvara::test {

// The whole video at its own size: its frame count, length and picture as the probe gives them.
AviToGifOptions optionsFor(const std::string& path);

} // namespace kelvara::test
