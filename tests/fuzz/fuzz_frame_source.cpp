// libFuzzer target: the AVI frame source on damaged files.
#include "raster/Error.h"
#include "raster/Stream.h"
#include "video/FrameSource.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/kelvara-fuzz-" + std::to_string(getpid()) + ".avi";
    kelvara::writeFileAtomically(path, data, size);
    try {
        kelvara::FrameReader reader;
        reader.open(path);
        for (int64_t i : {0, 1, 5, 2})
            if (kelvara::Bitmap* frame = reader.frame(i))
                (void)frame->pixel(0, 0);
    } catch (const kelvara::Error&) {
    }
    return 0;
}
