// Reads every frame of an AVI in order through the frame source and prints how many it read.
#include "video/FrameSource.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: kelvara_read_frames VIDEO\n");
        return 2;
    }
    try {
        kelvara::FrameReader reader;
        reader.open(argv[1]);
        int64_t count = reader.facts().frameCount, read = 0;
        for (int64_t i = 0; i < count; ++i)
            if (reader.frame(i))
                ++read;
        std::printf("%lld frames read\n", static_cast<long long>(read));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
