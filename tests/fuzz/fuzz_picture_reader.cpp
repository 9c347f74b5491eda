// libFuzzer target: the picture reader's decoders. The first byte picks the kind of file.
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kelvara::fuzz::pictureReader(data, size);
    return 0;
}
