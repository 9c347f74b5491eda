// The desktop program's sound output: Qt's audio sink on the default output device.
#pragma once

#include "video/AudioTrack.h"

#include <memory>

namespace kelvara {

// Throws SoundError when there is no output device, or none that takes a format the sound
// converts to.
std::unique_ptr<AudioOutput> makeSystemAudioOutput();

} // namespace kelvara
