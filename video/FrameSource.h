// The frame source: a frame reader that opens the first video stream of a video file and gives
// its frames by 0-based position as Bitmaps. AVI files are read by their chunk positions; every
// other container FFmpeg reads by its decoded pictures in display order.
#pragma once

#include "raster/Bitmap.h"
#include "raster/Error.h"
#include "raster/Stream.h"
#include "video/AviServices.h"
#include "video/MediaServices.h"

#include <memory>
#include <string>
#include <vector>

namespace kelvara {

// Raised when a frame reader cannot be opened; the message says which step failed. Files other
// than AVI also name the file and the reason FFmpeg or the system gave; AVI files give the
// message alone, as they always have.
class FrameSourceError : public Error {
public:
    explicit FrameSourceError(const std::string& message, std::string file = {}, std::string reason = {})
        : Error(message), m_file(std::move(file)), m_reason(std::move(reason)) {}
    const std::string& file() const { return m_file; }
    const std::string& reason() const { return m_reason; }

private:
    std::string m_file;
    std::string m_reason;
};

namespace FrameSourceMessages {
inline constexpr const char* OpenFile = "Failed to open AVI file";
inline constexpr const char* OpenStream = "Failed to open AVI stream";
inline constexpr const char* StreamInfo = "Failed to get AVI stream info";
inline constexpr const char* FormatSize = "Failed to get AVI stream format size";
inline constexpr const char* Format = "Failed to get AVI stream format";
inline constexpr const char* StartStream = "Failed to start AVI stream";
inline constexpr const char* StartDecompression = "Failed to start AVI decompression";
// Our own: a frame asked of a reader that is not open.
inline constexpr const char* NotOpen = "The video is not open";
// The same steps for files of every other container, which are no AVI files.
namespace Video {
inline constexpr const char* OpenFile = "Failed to open video file";
inline constexpr const char* OpenStream = "Failed to open video stream";
inline constexpr const char* StreamInfo = "Failed to get video stream info";
inline constexpr const char* FormatSize = "Failed to get video stream format size";
inline constexpr const char* Format = "Failed to get video stream format";
inline constexpr const char* StartStream = "Failed to start video stream";
inline constexpr const char* StartDecompression = "Failed to start video decompression";
} // namespace Video
} // namespace FrameSourceMessages

// What reading one frame gave.
struct FrameRead {
    Bitmap* picture = nullptr;
    // Empty with a picture, and when the stream has no frame at the position (a position outside
    // the stream, or past the last chunk that held data); else the message of the error that
    // stopped decoding.
    std::string error;
};

class FrameReader {
public:
    FrameReader() = default;
    ~FrameReader() { close(); }
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // Opens the first video stream of the file; throws FrameSourceError with the failing step's
    // message, having released whatever was opened. A file is an AVI by its content (a RIFF
    // header of form 'AVI '), whatever its name.
    void open(const std::string& path);
    // The frame at a 0-based position, decoded into the reader's work bitmap (which keeps the
    // frame's own bit depth). Without a picture the result says why: the stream has none there,
    // or the error that stopped its decoding. A picture wider or taller than the stream's first
    // is damage and gives none.
    FrameRead read(int64_t index);
    // The picture of read(index), or null when it gave none.
    Bitmap* frame(int64_t index) { return read(index).picture; }
    // Releases everything, in the reverse order of opening. Safe to call more than once.
    void close();

    bool isOpen() const { return m_decoder != nullptr || m_media != nullptr; }
    bool isAvi() const { return m_decoder != nullptr; }
    // The work bitmap that receives each decoded frame.
    Bitmap& workBitmap() { return *m_work; }
    // The stream's header, its format bytes and the facts worked out from them.
    const AviStreamInfo& streamInfo() const { return m_info; }
    const std::vector<uint8_t>& streamFormat() const { return m_format; }
    // The facts of the stream; its size is the format's, but never larger than the first picture.
    VideoFacts facts() const;
    // The BMP byte image the last frame was decoded from.
    const std::vector<uint8_t>& lastByteImage() const { return m_memory->bytes(); }
    // When each position shows, for files whose pictures carry timestamps; null for AVI files,
    // whose times follow from their rate, and for streams without timestamps.
    const FrameTimes* frameTimes() { return m_media ? m_media->frameTimes() : nullptr; }

private:
    std::unique_ptr<AviFile> m_file;
    bool m_streamOpen = false;
    AviStreamInfo m_info;
    std::vector<uint8_t> m_format;
    int m_pictureWidth = 0; // of the first decoded picture; 0 when none was decoded
    int m_pictureHeight = 0;
    bool m_streaming = false;
    std::unique_ptr<AviFrameDecoder> m_decoder;
    std::unique_ptr<MemoryStream> m_memory;
    std::unique_ptr<Bitmap> m_work;
    std::unique_ptr<MediaFile> m_media; // every container but AVI
};

// Whether the file holds an AVI: a RIFF header of form 'AVI '. False when it cannot be read.
bool isAviFile(const std::string& path);

// The colour-table allowance of a packed frame: the bytes between its 40-byte header and its
// pixel bits.
size_t colorTableAllowance(int bitCount, uint32_t compression);

} // namespace kelvara
