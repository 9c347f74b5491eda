// Test support for the GIF jobs.
#include "support/GifJobSupport.h"

#include "video/FrameSource.h"

namespace kelvara::test {

AviToGifOptions optionsFor(const std::string& path) {
    const VideoFacts facts = probeVideo(path);
    AviToGifOptions o;
    o.videoPath = path;
    o.frameCount = facts.frameCount;
    o.lengthMs = facts.lengthMs;
    o.baseWidth = facts.width;
    o.baseHeight = facts.height;
    o.crop = {0, 0, facts.width, facts.height};
    return o;
}

} // namespace kelvara::test
