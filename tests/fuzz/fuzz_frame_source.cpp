// libFuzzer target: the AVI frame source on damaged files.
#include "fuzz/FuzzEntries.h"

#include <cstdio>
#include <unistd.h>

namespace {

// The file each input is written to, removed when the run ends.
struct ScratchFile {
    std::string path = "/tmp/kelvara-fuzz-" + std::to_string(getpid()) + ".avi";
    ~ScratchFile() { std::remove(path.c_str()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ScratchFile file;
    kelvara::fuzz::frameSource(data, size, file.path);
    return 0;
}
