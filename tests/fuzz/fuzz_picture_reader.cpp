// libFuzzer target: the picture reader's decoders. The first byte picks the kind of file.
#include "input/PictureReader.h"
#include "raster/Error.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const auto type = static_cast<kelvara::PictureFileType>(data[0] % 13);
    kelvara::Bitmap picture;
    try {
        kelvara::decodePicture(type, data + 1, size - 1, picture);
        for (int y = 0; y < picture.Height(); y += 7)
            for (int x = 0; x < picture.Width(); x += 7)
                (void)picture.pixel(x, y);
    } catch (const kelvara::Error&) {
    }
    return 0;
}
