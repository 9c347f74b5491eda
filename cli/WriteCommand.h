// kelvara-cli write, and the still-image writer options it shares with the commands that save frames.
#pragma once

#include "cli/Commands.h"
#include "output/SaveOptions.h"

#include <string>
#include <utility>
#include <vector>

namespace kelvara::cli {

// The --format names bmp, jpg, gif, tif, pcx, tga, jp2 and png; UsageError otherwise.
StillImageFormat parseStillImageFormat(const std::string& name);

// The writer options, named after the save-parameters dialog's controls. They are collected in
// the order given and applied to the dialog's defaults for the chosen format, as if the user had
// set the controls of that format's page in that order and pressed "OK".
class WriterOptions {
public:
    // Takes args[i], and its value when it has one, if it is a writer option; i then points at the
    // last argument taken. Returns false for anything else.
    bool take(const std::vector<std::string>& args, size_t& i);
    // The save options for a format; UsageError for an option that does not apply to it or a bad value.
    StillImageSaveOptions saveOptions(StillImageFormat format) const;

    // The lines describing the writer options, for a command's usage text.
    static const char* usage();

private:
    std::vector<std::pair<std::string, std::string>> m_given;
};

const Command& writeCommandEntry();

} // namespace kelvara::cli
