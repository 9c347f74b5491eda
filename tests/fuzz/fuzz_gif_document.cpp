// libFuzzer target: reading GIF files and extension blocks into the GIF document.
#include "gif/GifDocument.h"
#include "raster/Error.h"
#include "raster/Stream.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    try {
        kelvara::MemoryStream stream(bytes);
        kelvara::TGIFDocument document;
        document.LoadFromStream(stream);
        // What was read can be written again.
        kelvara::MemoryStream out;
        if (!document.Empty())
            document.SaveToStream(out);
    } catch (const kelvara::Error&) {
    }
    try {
        kelvara::MemoryStream stream(bytes);
        kelvara::TGIFDocument document;
        kelvara::TGIFSubImage frame(&document);
        frame.Extensions().LoadFromStream(stream);
    } catch (const kelvara::Error&) {
    }
    return 0;
}
