// libFuzzer target: decoding BMP byte images into a Bitmap.
#include "raster/Bitmap.h"
#include "raster/Error.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kelvara::Bitmap picture;
    try {
        picture.LoadFromMemory(data, size);
        for (int y = 0; y < picture.Height(); y += 5)
            for (int x = 0; x < picture.Width(); x += 5)
                (void)picture.pixel(x, y);
    } catch (const kelvara::Error&) {
    }
    return 0;
}
