// Inputs that cannot be read at will: standard input ("-") and pipes, FIFOs and terminals. The
// frame source seeks, counts frames and reads them twice, so such an input is first copied into
// a temporary file, which is removed when the run ends, however it ends (signals included).
#pragma once

#include "raster/Stream.h"

#include <memory>
#include <string>

namespace kelvara::cli {

class InputSpool {
public:
    // The input as typed; copied to a temporary file when it is "-" or cannot seek. Error (naming
    // the input and the reason) when it cannot be read or the copy cannot be written.
    explicit InputSpool(const std::string& input);
    ~InputSpool();
    InputSpool(const InputSpool&) = delete;
    InputSpool& operator=(const InputSpool&) = delete;
    // The path the frame source opens: the input itself, or the copy.
    const std::string& path() const { return m_path; }
    bool spooled() const { return !m_temporary.empty(); }

private:
    std::string m_path;
    stream_detail::TemporaryName m_temporary;
};

// Whether the input must be spooled: "-", or a path to something that cannot seek.
bool needsSpool(const std::string& input);

} // namespace kelvara::cli
