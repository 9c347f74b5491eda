// The still-image codec layer: a picture and the save options become a file's bytes and the
// palette its pixels index, and a file's bytes become a picture again. The save-parameters
// dialog's preview, "Save" of the "Get frames" tab and the command line all go through it.
#pragma once

#include "output/WriterParams.h"

#include <cstdint>
#include <vector>

namespace kelvara {

class Bitmap;
class Stream;

// A picture as one format stores it.
struct EncodedImage {
    std::vector<uint8_t> bytes;
    // The colours the file's pixels index; empty for true colour.
    std::vector<Color> palette;
};

// Writes one picture in a format with the save options at the stream's position, with the
// writer of that format and the writer parameters "Save" hands it.
WriteResult writeStillImage(const Bitmap& picture, const StillImageSaveOptions& options,
                            StillImageFormat format, Stream& stream, const ProgressCallback& progress = {});

// The file one picture gives in a format with the save options.
EncodedImage encodeStillImage(const Bitmap& picture, const StillImageSaveOptions& options,
                              StillImageFormat format, const ProgressCallback& progress = {});

// Reads a file of a format back into a picture with the picture reader; JPEG 2000 as a JP2 file
// or as a bare code stream, as its first bytes tell. Throws the reader's errors.
void decodeStillImage(StillImageFormat format, const uint8_t* data, size_t size, Bitmap& picture);

} // namespace kelvara
