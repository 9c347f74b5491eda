// libFuzzer target: decoding BMP byte images into a Bitmap.
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kelvara::fuzz::bmp(data, size);
    return 0;
}
