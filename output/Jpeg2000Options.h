// The JPEG 2000 writer's options text ("rate=0.5 prg=lrcp") and the encoder settings read from it.
#pragma once

#include "output/WriterParams.h"

#include <string>

namespace kelvara {

enum class Jpeg2000Progression { Lrcp, Rlcp };

struct Jpeg2000EncoderSettings {
    // Fraction of the uncompressed size the code stream may take.
    double rate = 1.0;
    Jpeg2000Progression progression = Jpeg2000Progression::Lrcp;
};

// "rate=" and the rate in its shortest decimal form, then " prg=lrcp" (" prg=rlcp" for order 1).
std::string jpeg2000OptionText(const TIOParams& params);
Jpeg2000EncoderSettings parseJpeg2000Options(const std::string& text);

} // namespace kelvara
