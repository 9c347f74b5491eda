// libFuzzer targets: one decoder of the picture reader each (our own PCX, Targa, GIF, TIFF,
// portable anymap and icon readers), built once per kind with KELVARA_FUZZ_TYPE set.
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kelvara::fuzz::stillImage(kelvara::PictureFileType::KELVARA_FUZZ_TYPE, data, size);
    return 0;
}
