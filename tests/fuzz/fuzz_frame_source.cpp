// libFuzzer target: the AVI frame source on damaged files.
#include "fuzz/FuzzEntries.h"

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/kelvara-fuzz-" + std::to_string(getpid()) + ".avi";
    kelvara::fuzz::frameSource(data, size, path);
    return 0;
}
