// kelvara-cli write, and the still-image writer options it shares with the commands that save
// frames.
#pragma once

#include "cli/Arguments.h"
#include "cli/Output.h"
#include "output/SaveOptions.h"

#include <map>
#include <string>

namespace kelvara::cli {

// The writer options, named after the save-parameters dialog's controls. They are a set, not a
// sequence: the TIFF photometric is chosen first, then the colours, whatever the order typed, and
// the lists adjust each other as the dialog's do. A combination the writer would not store as
// asked is refused, saying what it would store instead. JPEG starts from the command line's
// defaults (quality 90, YCbCr), the other formats from the dialog's.
class WriterOptions {
public:
    // Takes the current argument if it is a writer option; a repeated option keeps its last value.
    bool take(ArgumentReader& args);
    // The save options for a format; UsageError for an option of another format, a bad value or
    // a combination the writer would not write as asked.
    StillImageSaveOptions saveOptions(const FormatChoice& format) const;

    // The lines describing the writer options, for a command's usage text.
    static const char* usage();

private:
    std::map<std::string, std::string> m_given;
};

// The JPEG options the command line starts from.
JpegOptions commandLineJpegDefaults();

} // namespace kelvara::cli
