// AVI file services on FFmpeg: the first video stream of an AVI file, its header records and
// its frames decoded to packed device-independent bitmaps.
#pragma once

#include "raster/Bitmap.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvara {

// The stream header of an AVI stream ('strh'), field by field.
struct AviStreamInfo {
    uint32_t fccType = 0;
    uint32_t fccHandler = 0;
    uint32_t flags = 0;
    uint16_t priority = 0;
    uint16_t language = 0;
    uint32_t initialFrames = 0;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t suggestedBufferSize = 0;
    uint32_t quality = 0;
    uint32_t sampleSize = 0;
    Rect frame;
};

constexpr uint32_t fourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}
inline constexpr uint32_t StreamTypeVideo = fourCC('v', 'i', 'd', 's');

class AviFrameDecoder;

// The largest picture the decoder makes: 64 megapixels. A stream may claim any size, in its
// headers or its bitstream; larger pictures are not decoded at all.
inline constexpr int64_t MaxVideoPictureArea = int64_t(64) << 20;

// An AVI file opened for reading. Each call answers as the AVIFile services would: a failure is
// a false or empty result, never an exception.
class AviFile {
public:
    AviFile();
    ~AviFile();
    AviFile(const AviFile&) = delete;
    AviFile& operator=(const AviFile&) = delete;

    // Opens the file as an AVI; any other container fails.
    bool open(const std::string& path);
    // Selects the first video stream.
    bool openVideoStream();
    // The selected stream's header.
    bool streamInfo(AviStreamInfo& info) const;
    // The byte size of the stream format ('strf'), or -1 when the stream has none.
    int64_t formatSize() const;
    // The stream format: a DIB information header, then the stream's colour table.
    bool readFormat(std::vector<uint8_t>& format) const;
    // Prepares sequential reading from the start.
    bool beginStreaming();
    // A decoder of the stream in its own default output format, or null.
    std::unique_ptr<AviFrameDecoder> openDecoder();

    // Name of the stream's codec, as FFmpeg knows it.
    std::string codecName() const;

    struct Context;

private:
    std::unique_ptr<Context> m_context;
};

// Decodes frames of one stream by position. Positions are chunks of the stream: a zero-length
// chunk (a dropped frame) is a position of its own and shows the picture before it.
class AviFrameDecoder {
public:
    ~AviFrameDecoder();
    AviFrameDecoder(const AviFrameDecoder&) = delete;
    AviFrameDecoder& operator=(const AviFrameDecoder&) = delete;

    // The frame at a 0-based position as a packed DIB (40-byte header, colour table or masks,
    // bottom-up pixel rows), valid until the next call; null when there is none.
    const uint8_t* getFrame(int64_t position);
    // Pictures wider or taller than this are damage, not frames: getFrame gives none for them.
    void setLargestPicture(int width, int height);
    // The size of the stream's first picture, decoded but not converted; false when none comes.
    // Only on a decoder that has given no frame yet.
    bool firstPictureSize(int& width, int& height);

    struct State;

private:
    friend class AviFile;
    explicit AviFrameDecoder(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

// The facts of a video that the player and the frame source both report.
struct VideoFacts {
    int64_t frameCount = 0;
    int64_t lengthMs = 0;
    int width = 0;
    int height = 0;
    double fps = 0;
    std::string codec;
    std::string container; // the demuxer's name, as FFmpeg knows it
};

// Works the facts out from the first video stream's header. Throws the frame source's messages.
VideoFacts probeVideo(const std::string& path);

} // namespace kelvara
