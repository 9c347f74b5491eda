// Video in every container libavformat reads other than AVI (MP4, MOV, Matroska, WebM, MPEG
// transport and program streams, FLV, Ogg, ASF and the rest): the first video stream, with its
// decoded pictures by position in the order the decoder gives them.
#pragma once

#include "video/AviServices.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvara {

// When the pictures of a video show, in the clock of the file's own timestamps (which need not
// start at 0), in microseconds. Where the timestamps start again (recordings joined end to end),
// each part's times run on from the end of the part before.
struct FrameTimes {
    std::vector<int64_t> startUs; // of each position, in display order
    int64_t endUs = 0;            // the end of the last picture
    bool endTold = false;         // whether the last picture's packet told how long it lasts
};

// The first video stream of a file, positions being the pictures FFmpeg decodes, in the order it
// gives them: by their timestamps, and where the timestamps start again, one part after the
// other. The number of positions comes from the container's sample table where that is exact (MP4
// and MOV), else from one pass over the stream's packets without decoding them, in which the
// frames a VP8, VP9 or AV1 packet decodes but never shows count no picture. A position is reached
// by seeking to the key frame at or before its picture and decoding forward; each picture is
// known by the packet it came from, so variable frame rates need no special care.
class MediaFile {
public:
    MediaFile();
    ~MediaFile();
    MediaFile(const MediaFile&) = delete;
    MediaFile& operator=(const MediaFile&) = delete;

    // Opens the file's first video stream (attached cover pictures are not video) and decodes its
    // first picture. Throws FrameSourceError with the failing step's message, the file and the
    // reason FFmpeg or the system gave.
    void open(const std::string& path);

    // The facts: the size is the first picture's, the rate the stream's average.
    const VideoFacts& facts() const;
    // The picture at a 0-based position as a packed DIB, valid until the next call; null when
    // the stream has none there (a position outside it, past where its data ends, or past where
    // the file was cut short while it was read). Every picture is packed at the first picture's
    // size.
    const uint8_t* getFrame(int64_t position);
    // The alpha plane of the picture getFrame() gave last (its DIB's width x height bytes, rows
    // top-down), or null when the picture has no alpha channel.
    const std::vector<uint8_t>* alphaPlane() const;
    // When each position shows; null when the packets carry no timestamps (a raw elementary
    // stream), whose positions are then the pictures counted from the start.
    const FrameTimes* frameTimes();

    struct State;

private:
    std::unique_ptr<State> m_state;
};

// The reason a file cannot be opened at all, in the system's words ("No such file" when it is
// not there).
std::string fileOpenReason(int errorNumber);

} // namespace kelvara
