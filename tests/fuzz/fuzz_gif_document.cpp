// libFuzzer target: reading GIF files and extension blocks into the GIF document.
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kelvara::fuzz::gifDocument(data, size);
    return 0;
}
