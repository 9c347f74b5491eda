// The frame extraction job.
#include "convert/FrameExtraction.h"

#include "raster/Error.h"
#include "video/FrameSource.h"

namespace kelvara {

std::string frameItemText(int64_t frameNumber) {
    return "Frame " + std::to_string(frameNumber);
}

ThumbnailPlacement thumbnailPlacement(const Rect& row, int width, int height) {
    // The inner rectangle inside the row's one-pixel frame.
    const int left = row.left + 1, top = row.top + 1, bottom = row.bottom - 1;
    const int h = bottom - top;
    ThumbnailPlacement placement;
    if (width <= 150 && height <= 70) {
        const int y = top + (h - height) / 2;
        placement.rect = {left + 1, y, left + 1 + width, y + height};
        return placement;
    }
    int tw, th;
    if (height > 0 && static_cast<long double>(width) / height <= 150.0L / 70.0L) {
        th = 70;
        tw = static_cast<int>(static_cast<long double>(width) / height * 70);
    } else {
        tw = 150;
        th = width > 0 ? static_cast<int>(static_cast<long double>(height) / width * 150) : 0;
    }
    const int y = top + (h - th) / 2;
    placement.rect = {left + 2, y, left + 2 + tw, y + th};
    placement.scaled = true;
    return placement;
}

void frameAtSize(Bitmap& frame, const Rect& whole, int width, int height, Bitmap& target) {
    if (frame.PixelFormat() == PixelFormat::Bits24 && width == frame.Width() && height == frame.Height() &&
        whole == Rect{0, 0, width, height}) {
        // The whole 24-bit picture at its own size: the target shares it rather than copying it,
        // since the reader decodes the next frame into a picture of its own.
        target.Assign(frame);
    } else {
        target.SetWidth(width);
        target.SetHeight(height);
        target.SetPixelFormat(PixelFormat::Bits24);
        target.Canvas().CopyRect(target.Canvas().ClipRect(), frame.Canvas(), whole);
    }
}

FrameExtractionResult extractFrames(const FrameExtractionOptions& options, FrameTable& table,
                                    JobObserver& observer) {
    FrameExtractionResult result;
    const int64_t count = options.lastFrame - options.firstFrame + 1;
    if (count <= 1) {
        result.outcome = FrameExtractionOutcome::Warning;
        result.message = FrameExtractionMessages::WrongRange;
        return result;
    }
    if (count >= 257) {
        result.outcome = FrameExtractionOutcome::Warning;
        result.message = FrameExtractionMessages::TooManyFrames;
        return result;
    }
    {
        // Kept frames are held until the job's end; handed-on frames one at a time.
        int width = options.videoWidth, height = options.videoHeight;
        if (options.frameSize)
            options.frameSize(width, height);
        const int64_t held = options.target ? 1 : count;
        checkMemoryNeed(std::to_string(held) + (held == 1 ? " frame of " : " frames of ") +
                            std::to_string(width) + " x " + std::to_string(height) + " pixels",
                        heldPicturesMemory(width, height, held), options.memoryLimit,
                        options.target ? "choose a smaller size" : SmallerOrFewer);
    }
    const int maximum = static_cast<int>(count) + 1;
    int position = 0;
    observer.setProgressRange(0, maximum);
    observer.setProgressPosition(0);
    const ProgressReset resetProgress(observer, maximum);

    FrameReader reader;
    reader.open(options.videoPath);
    const Rect whole{0, 0, options.videoWidth, options.videoHeight};
    int64_t number = options.firstFrame;
    FrameRun& run = result.run;
    run.asked = static_cast<int>(count);
    for (int i = 1; i <= count; ++i, ++number) {
        if (position < maximum)
            observer.setProgressPosition(++position);
        pumpJobMessages(observer);
        if (observer.abortRequested()) {
            run.end = FrameRunEnd::Aborted;
            break;
        }
        const FrameRead read = reader.read(number - 1);
        if (!read.picture) {
            run.stopAt(number, read.error);
            break;
        }
        Bitmap* frame = read.picture;
        int width = options.videoWidth, height = options.videoHeight;
        if (options.frameSize)
            options.frameSize(width, height);
        Bitmap& entry = options.target ? options.target(i) : table.entry(i);
        frameAtSize(*frame, whole, width, height, entry);
        result.frames = run.read = i;
        if (options.frameAdded)
            options.frameAdded(i, number);
    }
    return result;
}

} // namespace kelvara
