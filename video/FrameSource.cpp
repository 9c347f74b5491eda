// The frame source: opening sequence, frame decoding through a BMP byte image, closing.
#include "video/FrameSource.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kelvara {

namespace {
uint32_t get32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
// The size of the stream's first picture as the decoder makes it, or false when none comes. It
// is read through a file and decoder of its own, so that the reader's decoder starts afresh.
bool firstPictureSize(const std::string& path, int& width, int& height) {
    AviFile file;
    if (!file.open(path) || !file.openVideoStream() || !file.beginStreaming())
        return false;
    std::unique_ptr<AviFrameDecoder> decoder = file.openDecoder();
    return decoder && decoder->firstPictureSize(width, height);
}

enum class FileKind {
    Avi,
    Other,
    TooShort,   // too short to hold a RIFF header: FFmpeg has the last word
    Unreadable, // errno tells why
};

// What the file's first bytes say it is.
FileKind fileKind(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return FileKind::Unreadable;
    uint8_t head[12];
    const size_t got = std::fread(head, 1, sizeof head, file);
    const bool failed = std::ferror(file);
    std::fclose(file);
    if (failed)
        return FileKind::Unreadable;
    if (got < sizeof head)
        return FileKind::TooShort;
    return std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0 ? FileKind::Avi
                                                                                      : FileKind::Other;
}

// A file whose content cannot tell (it cannot be read, or holds next to nothing) is taken for what
// its name says.
bool hasAviName(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return false;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == "avi";
}

// The message of the same step for an AVI file.
const char* aviMessageFor(const std::string& message) {
    namespace M = FrameSourceMessages;
    const std::pair<const char*, const char*> steps[] = {
        {M::Video::OpenFile, M::OpenFile},
        {M::Video::OpenStream, M::OpenStream},
        {M::Video::StreamInfo, M::StreamInfo},
        {M::Video::FormatSize, M::FormatSize},
        {M::Video::Format, M::Format},
        {M::Video::StartStream, M::StartStream},
        {M::Video::StartDecompression, M::StartDecompression},
    };
    for (const auto& [video, avi] : steps)
        if (message == video)
            return avi;
    return nullptr;
}

} // namespace

bool isAviFile(const std::string& path) {
    return fileKind(path) == FileKind::Avi;
}

size_t colorTableAllowance(int bitCount, uint32_t compression) {
    if (bitCount <= 8)
        return 4u << bitCount;
    if ((compression & 3) == 3)
        return 12;
    return 0;
}

void FrameReader::open(const std::string& path) {
    close();
    errno = 0;
    const FileKind kind = fileKind(path);
    if (kind == FileKind::Unreadable)
        throw FrameSourceError(hasAviName(path) ? FrameSourceMessages::OpenFile
                                                : FrameSourceMessages::Video::OpenFile,
                               path, fileOpenReason(errno));
    if (kind == FileKind::Other || kind == FileKind::TooShort) {
        auto media = std::make_unique<MediaFile>();
        try {
            media->open(path);
        } catch (const FrameSourceError& e) {
            const char* avi = aviMessageFor(e.what());
            if (kind == FileKind::TooShort && hasAviName(path) && avi)
                throw FrameSourceError(avi, e.file(), e.reason());
            throw;
        }
        m_media = std::move(media);
        m_memory = std::make_unique<MemoryStream>();
        m_work = std::make_unique<Bitmap>();
        return;
    }
    try {
        m_file = std::make_unique<AviFile>();
        if (!m_file->open(path))
            throw FrameSourceError(FrameSourceMessages::OpenFile);
        if (!m_file->openVideoStream())
            throw FrameSourceError(FrameSourceMessages::OpenStream);
        m_streamOpen = true;
        if (!m_file->streamInfo(m_info))
            throw FrameSourceError(FrameSourceMessages::StreamInfo);
        int64_t size = m_file->formatSize();
        if (size < 0)
            throw FrameSourceError(FrameSourceMessages::FormatSize);
        if (size == 0 || !m_file->readFormat(m_format))
            throw FrameSourceError(FrameSourceMessages::Format);
        if (!m_file->beginStreaming())
            throw FrameSourceError(FrameSourceMessages::StartStream);
        m_streaming = true;
        m_decoder = m_file->openDecoder();
        if (!m_decoder)
            throw FrameSourceError(FrameSourceMessages::StartDecompression);
        m_memory = std::make_unique<MemoryStream>();
        m_work = std::make_unique<Bitmap>();
        // The format's size is only a claim: the first picture says what the decoder makes, and
        // the size reported never exceeds it, so no job makes pictures of a size no frame has.
        // A later picture larger than the first is damage and gives no frame. A claim that no
        // picture bears out and that no picture could have is refused.
        int width = 0, height = 0;
        if (firstPictureSize(path, width, height)) {
            m_pictureWidth = width;
            m_pictureHeight = height;
            m_decoder->setLargestPicture(width, height);
        } else {
            const VideoFacts claimed = facts();
            if (claimed.width <= 0 || claimed.height <= 0 ||
                int64_t(claimed.width) * claimed.height > MaxVideoPictureArea)
                throw FrameSourceError(FrameSourceMessages::Format);
        }
    } catch (...) {
        close();
        throw;
    }
}

FrameRead FrameReader::read(int64_t index) {
    if (!isOpen())
        return {nullptr, FrameSourceMessages::NotOpen};
    const uint8_t* packed = m_media ? m_media->getFrame(index) : m_decoder->getFrame(index);
    if (!packed)
        return {};
    const int bitCount = packed[14] | (packed[15] << 8);
    const uint32_t compression = get32(packed + 16);
    const uint32_t imageSize = get32(packed + 20);
    const size_t allowance = colorTableAllowance(bitCount, compression);
    const size_t packedSize = 40 + allowance + imageSize;

    // The stream's own colour table goes over the frame's, so that frames of a palette-based
    // stream carry the stream's palette. It never reaches past the frame's table.
    std::vector<uint8_t>& bytes = m_memory->bytes();
    m_memory->clear();
    uint8_t header[14] = {'B', 'M'};
    const uint32_t offset = static_cast<uint32_t>(14 + allowance);
    header[10] = static_cast<uint8_t>(offset);
    header[11] = static_cast<uint8_t>(offset >> 8);
    header[12] = static_cast<uint8_t>(offset >> 16);
    header[13] = static_cast<uint8_t>(offset >> 24);
    // Appended rather than resized and copied over: a large frame is written once, not twice.
    bytes.insert(bytes.end(), header, header + 14);
    bytes.insert(bytes.end(), packed, packed + packedSize);
    if (m_format.size() >= 40) {
        uint64_t streamColors = get32(m_format.data() + 32);
        size_t copy = static_cast<size_t>(std::min<uint64_t>(4 * streamColors, m_format.size() - 40));
        if (bitCount <= 8)
            copy = std::min(copy, allowance);
        else
            copy = 0; // a frame of more than 8 bits has no table to take it
        std::memcpy(bytes.data() + 14 + 40, m_format.data() + 40, copy);
    }
    m_memory->seek(0);
    try {
        m_work->LoadFromStream(*m_memory);
    } catch (const RasterError& e) {
        return {nullptr, e.what()};
    }
    // The alpha channel of a picture that has one (never an AVI file's) goes beside its colours.
    if (m_media)
        if (const std::vector<uint8_t>* alpha = m_media->alphaPlane();
            alpha && alpha->size() == size_t(m_work->Width()) * size_t(m_work->Height()))
            m_work->setAlphaPlane(*alpha);
    return {m_work.get(), {}};
}

void FrameReader::close() {
    m_media.reset();
    m_work.reset();
    m_memory.reset();
    m_decoder.reset();
    m_streaming = false;
    m_format.clear();
    m_pictureWidth = m_pictureHeight = 0;
    m_streamOpen = false;
    m_file.reset();
}

VideoFacts FrameReader::facts() const {
    if (m_media)
        return m_media->facts();
    VideoFacts facts;
    facts.container = "avi";
    facts.frameCount = m_info.length;
    if (m_info.rate)
        facts.lengthMs = static_cast<int64_t>(
            (static_cast<unsigned __int128>(m_info.length) * m_info.scale * 1000 + m_info.rate / 2) /
            m_info.rate);
    facts.fps = m_info.scale ? static_cast<double>(m_info.rate) / m_info.scale : 0;
    if (m_format.size() >= 12) {
        facts.width = static_cast<int>(get32(m_format.data() + 4));
        const int64_t h = static_cast<int32_t>(get32(m_format.data() + 8));
        facts.height = static_cast<int>(std::min<int64_t>(h < 0 ? -h : h, INT32_MAX));
        if (m_pictureWidth > 0 && (facts.width <= 0 || facts.width > m_pictureWidth))
            facts.width = m_pictureWidth;
        if (m_pictureHeight > 0 && (facts.height <= 0 || facts.height > m_pictureHeight))
            facts.height = m_pictureHeight;
    }
    if (m_file)
        facts.codec = m_file->codecName();
    return facts;
}

} // namespace kelvara
