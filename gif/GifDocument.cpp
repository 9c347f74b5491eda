// The GIF document: items, colour maps, frames, the document operations and the writer.
#include "gif/GifDocument.h"

#include "gif/GifDecoder.h"
#include "gif/GifEncoder.h"
#include "gif/GifReduction.h"
#include "raster/Bitmap.h"
#include "raster/Stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <numeric>

namespace kelvara {

std::string listIndexMessage(int index) {
    char text[64];
    std::snprintf(text, sizeof text, GifMessages::ListIndexOutOfBounds, index);
    return text;
}

int roundedPercent(int64_t numerator, int64_t denominator) {
    if (denominator <= 0)
        return 0;
    int64_t q = numerator / denominator;
    const int64_t twice = 2 * (numerator % denominator);
    if (twice > denominator || (twice == denominator && (q & 1)))
        ++q;
    return static_cast<int>(q);
}

// ---- TGIFItem ----

void TGIFItem::ReportWarning(GIFSeverity severity, const std::string& message) const {
    if (m_document)
        m_document->Warning(severity, message);
}

void TGIFItem::SaveToFile(const std::string& path) const {
    MemoryStream stream;
    SaveToStream(stream);
    writeFileAtomically(path, stream.bytes().data(), stream.bytes().size());
}

void TGIFItem::LoadFromFile(const std::string& path) {
    MemoryStream stream(readFile(path));
    LoadFromStream(stream);
}

// ---- TGIFColorMap ----

int TGIFColorMap::Capacity() const {
    const int count = Count();
    if (count == 0)
        return 0;
    if (count <= 16)
        return 16;
    return std::min(256, (count + 31) / 32 * 32);
}

const GifRGB& TGIFColorMap::Colors(int index) const {
    if (index < 0 || index >= Count())
        throw ListIndexError(listIndexMessage(index));
    return m_colors[static_cast<size_t>(index)];
}

void TGIFColorMap::SetColor(int index, const GifRGB& color) {
    if (index < 0 || index >= Count())
        throw ListIndexError(listIndexMessage(index));
    m_colors[static_cast<size_t>(index)] = color;
    m_sorted = false;
    NotifyChanged();
}

int TGIFColorMap::Add(const GifRGB& color) {
    if (Count() >= 256)
        throw GIFException(GifMessages::ColorTableOverflow);
    m_colors.push_back(color);
    m_sorted = false;
    NotifyChanged();
    return Count() - 1;
}

void TGIFColorMap::Delete(int index) {
    if (index < 0 || index >= Count())
        throw ListIndexError(listIndexMessage(index));
    m_colors.erase(m_colors.begin() + index);
    m_sorted = false;
    NotifyChanged();
}

void TGIFColorMap::Clear() {
    m_colors.clear();
    m_sorted = false;
    NotifyChanged();
}

int TGIFColorMap::bitsFor(int count) {
    if (count <= 0)
        return 0;
    int n = 1;
    while ((1 << n) < count)
        ++n;
    return n;
}

int TGIFColorMap::BitsPerPixel() const {
    return bitsFor(Count());
}

void TGIFColorMap::Assign(const TGIFColorMap& source) {
    if (&source == this)
        return;
    m_colors = source.m_colors;
    m_sorted = source.m_sorted;
    NotifyChanged();
}

void TGIFColorMap::SortByUse() {
    const std::vector<int64_t> uses = CountUses();
    std::vector<int> order(m_colors.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return uses[a] > uses[b]; });
    std::vector<int> oldToNew(m_colors.size());
    std::vector<GifRGB> sorted(m_colors.size());
    for (size_t k = 0; k < order.size(); ++k) {
        oldToNew[static_cast<size_t>(order[k])] = static_cast<int>(k);
        sorted[k] = m_colors[static_cast<size_t>(order[k])];
    }
    RemapPixels(oldToNew);
    m_colors = std::move(sorted);
    m_sorted = true;
    NotifyChanged();
}

namespace {

// A colour table: the entries, then black triples up to 2^bits entries.
void writeColorTable(Stream& stream, const std::vector<GifRGB>& colors, int bits) {
    const size_t entries = std::max(colors.size(), size_t(1) << std::clamp(bits, 0, 8));
    std::vector<uint8_t> bytes(entries * 3, 0); // padding triples are black
    for (size_t i = 0; i < colors.size(); ++i) {
        bytes[3 * i] = colors[i].red;
        bytes[3 * i + 1] = colors[i].green;
        bytes[3 * i + 2] = colors[i].blue;
    }
    stream.write(bytes.data(), bytes.size());
}

// The Image Descriptor (GIF89a, section 20), the Local Color Table (section 21) and the Table
// Based Image Data (section 22) of a frame. A frame without a local map is encoded with the
// document's largest map size (emptyMapBits).
void writeImageBlock(Stream& stream, uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                     uint8_t packed, const std::vector<GifRGB>& local, int emptyMapBits, int encoderKind,
                     const uint8_t* data) {
    const uint8_t descriptor[10] = {0x2C,
                                    static_cast<uint8_t>(left),
                                    static_cast<uint8_t>(left >> 8),
                                    static_cast<uint8_t>(top),
                                    static_cast<uint8_t>(top >> 8),
                                    static_cast<uint8_t>(width),
                                    static_cast<uint8_t>(width >> 8),
                                    static_cast<uint8_t>(height),
                                    static_cast<uint8_t>(height >> 8),
                                    packed};
    stream.write(descriptor, sizeof descriptor);
    const int localBits = TGIFColorMap::bitsFor(static_cast<int>(local.size()));
    if (!local.empty())
        writeColorTable(stream, local, localBits);
    const int bits = local.empty() ? emptyMapBits : localBits;
    const int colors = local.empty() ? (1 << bits) : static_cast<int>(local.size());
    encodeGIFImage(encoderKind, stream, bits, width, height, (packed & 0x40) != 0, data, colors);
}

} // namespace

void writeGifHeader(Stream& stream, int version, uint16_t width, uint16_t height, uint8_t packed,
                    uint8_t background, uint8_t aspect) {
    // Header (GIF89a, section 17): signature and version.
    const uint8_t header[6] = {'G', 'I', 'F', '8', static_cast<uint8_t>(version >= 2 ? '9' : '7'), 'a'};
    stream.write(header, sizeof header);
    // Logical Screen Descriptor (GIF89a, section 18).
    const uint8_t screen[7] = {static_cast<uint8_t>(width),
                               static_cast<uint8_t>(width >> 8),
                               static_cast<uint8_t>(height),
                               static_cast<uint8_t>(height >> 8),
                               packed,
                               background,
                               aspect};
    stream.write(screen, sizeof screen);
}

uint8_t screenPackedByte(int bits) {
    return static_cast<uint8_t>((((bits - 1) & 7) << 4) | ((bits - 1) & 7));
}

void writeReducedFrame(Stream& stream, const ReducedFrame& frame, int emptyMapBits, int encoderKind) {
    if (frame.width <= 0 || frame.height <= 0)
        return;
    if (frame.width > 0xFFFF || frame.height > 0xFFFF)
        throw GIFException(GifMessages::ImageTooLarge);
    if (frame.indices.size() != static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height))
        throw GIFException(GifMessages::InvalidData);
    // The packed byte a new frame is written with: its map's size, never interlaced or sorted.
    const uint8_t packed =
        frame.colors.empty()
            ? 0
            : static_cast<uint8_t>(0x80 |
                                   ((TGIFColorMap::bitsFor(static_cast<int>(frame.colors.size())) - 1) & 7));
    writeImageBlock(stream, 0, 0, static_cast<uint16_t>(frame.width), static_cast<uint16_t>(frame.height),
                    packed, frame.colors, emptyMapBits, encoderKind, frame.indices.data());
}

void appendAnimationBlocks(TGIFSubImage& frame, int index, uint16_t loopCount, uint16_t delayHundredths) {
    if (index == 0) {
        auto loop = std::make_unique<TGIFAppExtNSLoop>(&frame);
        loop->SetLoopCount(loopCount);
        frame.Extensions().Append(std::move(loop));
    }
    auto control = std::make_unique<TGIFGraphicControlExtension>(&frame);
    control->SetDelayHundredths(delayHundredths);
    // A frame of a source with an alpha channel (GIF89a, section 23): its transparent entry, and
    // restore to background after it, so that the next frame's transparent pixels show nothing
    // of it.
    if (frame.reducedClearAfter())
        control->SetDisposal(2);
    if (frame.reducedTransparentIndex() >= 0) {
        control->SetTransparentColorIndex(static_cast<uint8_t>(frame.reducedTransparentIndex()));
        control->SetTransparent(true);
    }
    frame.Extensions().Append(std::move(control));
}

void TGIFColorMap::WriteTable(Stream& stream, int bits) const {
    writeColorTable(stream, m_colors, bits);
}

void TGIFColorMap::ReadTable(Stream& stream, int count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count) * 3);
    if (stream.read(bytes.data(), bytes.size()) != bytes.size())
        throw GIFException(GifMessages::OutOfData);
    m_colors.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < m_colors.size(); ++i)
        m_colors[i] = {bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]};
    m_sorted = false;
    NotifyChanged();
}

namespace {

void countPixels(const TGIFSubImage& frame, std::vector<int64_t>& uses) {
    const uint8_t* p = frame.Data();
    for (size_t i = 0; i < frame.DataSize(); ++i)
        if (p[i] < uses.size())
            ++uses[p[i]];
}

void remapFrame(TGIFSubImage& frame, const std::vector<int>& oldToNew) {
    uint8_t* p = frame.Data();
    for (size_t i = 0; i < frame.DataSize(); ++i)
        if (p[i] < oldToNew.size())
            p[i] = static_cast<uint8_t>(oldToNew[p[i]]);
    if (TGIFGraphicControlExtension* gce = frame.GraphicControlExtension())
        if (gce->TransparentColorIndex() < oldToNew.size())
            gce->SetTransparentColorIndex(static_cast<uint8_t>(oldToNew[gce->TransparentColorIndex()]));
}

} // namespace

void TGIFGlobalColorMap::ReportWarning(GIFSeverity severity, const std::string& message) const {
    m_header->ReportWarning(severity, message);
}

std::vector<int64_t> TGIFGlobalColorMap::CountUses() const {
    std::vector<int64_t> uses(m_colors.size(), 0);
    if (TGIFDocument* doc = m_header->Document())
        for (int i = 0; i < doc->FrameCount(); ++i)
            if (doc->Frame(i).ColorMap().Count() == 0)
                countPixels(doc->Frame(i), uses);
    return uses;
}

void TGIFGlobalColorMap::RemapPixels(const std::vector<int>& oldToNew) {
    if (TGIFDocument* doc = m_header->Document())
        for (int i = 0; i < doc->FrameCount(); ++i)
            if (doc->Frame(i).ColorMap().Count() == 0)
                remapFrame(doc->Frame(i), oldToNew);
}

void TGIFLocalColorMap::ReportWarning(GIFSeverity severity, const std::string& message) const {
    m_frame->ReportWarning(severity, message);
}

std::vector<int64_t> TGIFLocalColorMap::CountUses() const {
    std::vector<int64_t> uses(m_colors.size(), 0);
    countPixels(*m_frame, uses);
    return uses;
}

void TGIFLocalColorMap::RemapPixels(const std::vector<int>& oldToNew) {
    remapFrame(*m_frame, oldToNew);
}

// ---- TGIFHeader ----

void TGIFHeader::Assign(const TGIFHeader& source) {
    if (&source == this)
        return;
    m_colorMap.Assign(source.m_colorMap);
    m_width = source.m_width;
    m_height = source.m_height;
    m_background = source.m_background;
    m_aspect = source.m_aspect;
}

int TGIFHeader::RequiredVersion() const {
    return (m_colorMap.Sorted() || m_aspect != 0) ? 2 : 1;
}

uint8_t TGIFHeader::packedByte() const {
    const bool global = m_colorMap.Count() > 0;
    const int bits = m_document ? m_document->MaxBitsPerPixel() : m_colorMap.BitsPerPixel();
    // The colour resolution and the global table size are both bits - 1, the latter set even
    // without a global table: 0x77 for documents with 256-entry local maps only.
    uint8_t packed = screenPackedByte(bits);
    if (global) {
        packed |= 0x80;
        if (m_colorMap.Sorted())
            packed |= 0x08;
    }
    return packed;
}

void TGIFHeader::Clear() {
    m_colorMap.Clear();
    m_width = 0;
    m_height = 0;
}

void TGIFHeader::SaveToStream(Stream& stream) const {
    // The version is the frames' alone; without frames nothing is written.
    const int version = m_document ? m_document->RequiredVersion() : 1;
    const uint8_t packed = packedByte();
    writeGifHeader(stream, version, m_width, m_height, packed, m_background, m_aspect);
    // Global Color Table (GIF89a, section 19), padded to the size the descriptor declares: the
    // size field follows the largest map of the document, so a global map smaller than some
    // local map is padded up to it and decoders find the image data where it is.
    if (packed & 0x80)
        m_colorMap.WriteTable(stream, (packed & 7) + 1);
}

void TGIFHeader::LoadFromStream(Stream& stream) {
    uint8_t header[6];
    if (stream.read(header, 6) != 6)
        throw GIFException(GifMessages::OutOfData);
    if (std::memcmp(header, "GIF", 3) != 0 ||
        !(std::memcmp(header + 3, "87a", 3) == 0 || std::memcmp(header + 3, "89a", 3) == 0))
        throw GIFException(GifMessages::UnsupportedVersion);
    uint8_t screen[7];
    if (stream.read(screen, 7) != 7)
        throw GIFException(GifMessages::OutOfData);
    m_width = static_cast<uint16_t>(screen[0] | (screen[1] << 8));
    m_height = static_cast<uint16_t>(screen[2] | (screen[3] << 8));
    const uint8_t packed = screen[4];
    m_background = screen[5];
    m_aspect = screen[6];
    m_colorMap.Clear();
    if (packed & 0x80)
        m_colorMap.ReadTable(stream, 1 << ((packed & 7) + 1));
}

// ---- TGIFTrailer ----

void TGIFTrailer::SaveToStream(Stream& stream) const {
    const uint8_t trailer = 0x3B; // Trailer (GIF89a, section 27)
    stream.write(&trailer, 1);
}

void TGIFTrailer::LoadFromStream(Stream& stream) {
    uint8_t b;
    if (stream.read(&b, 1) != 1)
        throw GIFException(GifMessages::OutOfData);
    if (b != 0x3B)
        throw GIFException(GifMessages::InvalidData);
}

// ---- TGIFFrameList ----

TGIFFrameList::~TGIFFrameList() {
    Clear();
}

TGIFSubImage& TGIFFrameList::Items(int index) const {
    if (index < 0 || index >= Count())
        throw ListIndexError(listIndexMessage(index));
    return *m_items[static_cast<size_t>(index)];
}

int TGIFFrameList::Add(std::unique_ptr<TGIFSubImage> frame) {
    m_items.push_back(std::move(frame));
    return Count() - 1;
}

void TGIFFrameList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw ListIndexError(listIndexMessage(index));
    std::unique_ptr<TGIFSubImage> frame = std::move(m_items[static_cast<size_t>(index)]);
    m_items.erase(m_items.begin() + index); // out of the list before it is destroyed
}

void TGIFFrameList::Clear() {
    while (!m_items.empty()) {
        std::unique_ptr<TGIFSubImage> frame = std::move(m_items.back());
        m_items.pop_back();
    }
}

void TGIFFrameList::ReportWarning(GIFSeverity severity, const std::string& message) const {
    if (m_document)
        m_document->Warning(severity, message);
}

void TGIFFrameList::SaveToStream(Stream& stream) const {
    for (const auto& frame : m_items)
        frame->SaveToStream(stream);
}

void TGIFFrameList::LoadFromStream(Stream& stream) {
    // A file is hostile until read: all its frames together may not hold more pixels than one
    // picture may, however few bytes declare them.
    int64_t pixels = 0;
    for (;;) {
        auto frame = std::make_unique<TGIFSubImage>(m_document);
        frame->Extensions().LoadFromStream(stream);
        uint8_t b;
        const bool more = stream.read(&b, 1) == 1;
        if (more && b == 0x2C) {
            stream.seek(stream.position() - 1);
            uint8_t d[10] = {};
            const uint64_t start = stream.position();
            const size_t n = stream.read(d, sizeof d);
            stream.seek(start);
            if (n == sizeof d) {
                pixels += int64_t(d[5] | (d[6] << 8)) * int64_t(d[7] | (d[8] << 8));
                if (pixels > Bitmap::MaxPixels)
                    throw GIFException(GifMessages::ImageTooLarge);
            }
            frame->LoadFromStream(stream);
            Add(std::move(frame));
            continue;
        }
        // Extensions after the last image (or before a trailer) stay as an empty frame.
        if (frame->Extensions().Count() > 0)
            Add(std::move(frame));
        if (more && b != 0x3B)
            ReportWarning(GIFSeverity::Warning, GifMessages::InvalidData);
        return;
    }
}

// ---- TGIFSubImage ----

namespace {

// Refuses, before its pixels are allocated, an image whose data could not fill it: the data
// sub-blocks after the colour table hold some number of codes of at least the starting width,
// and the n codes since a clear make strings of at most 1, 2, ..., n pixels, none longer than the
// 4096 the table holds. Leaves the stream where it was.
void checkImageDataCanFill(Stream& stream, uint64_t tableBytes, uint64_t pixels) {
    if (pixels == 0)
        return;
    const uint64_t start = stream.position();
    uint64_t dataBytes = 0;
    uint8_t codeSize = 0;
    const bool haveCodeSize = stream.remaining() > tableBytes;
    if (haveCodeSize) {
        stream.seek(start + tableBytes);
        stream.readExactly(&codeSize, 1);
        for (uint8_t length; stream.read(&length, 1) == 1 && length != 0;) {
            const uint64_t present = std::min<uint64_t>(length, stream.remaining());
            dataBytes += present;
            stream.seek(stream.position() + present);
        }
    }
    stream.seek(start);
    if (codeSize < 1 || codeSize > 8)
        throw GIFException(haveCodeSize ? GifMessages::InvalidData : GifMessages::OutOfData);
    const uint64_t codes = dataBytes * 8 / (codeSize + 1u);
    if (std::min(codes * (codes + 1) / 2, codes * 4096) < pixels)
        throw GIFException(GifMessages::OutOfData);
}

} // namespace

TGIFSubImage::TGIFSubImage(TGIFDocument* document)
    : TGIFItem(document), m_colorMap(this), m_extensions(this) {}

TGIFSubImage::~TGIFSubImage() {
    m_extensions.Clear();
}

void TGIFSubImage::Clear() {
    m_extensions.Clear();
    m_colorMap.Clear();
    setReducedTransparency(-1, false);
    m_data.clear();
    m_data.shrink_to_fit();
    m_width = 0;
    m_height = 0;
    m_transparent = false;
    m_codeBits = 0;
    m_display = DisplayKind::None;
    m_displayBitmap.reset();
}

void TGIFSubImage::allocatePixels() {
    m_data.clear();
    if (m_width == 0 || m_height == 0) {
        m_data.shrink_to_fit();
        return;
    }
    try {
        m_data.assign(static_cast<size_t>(m_width) * m_height, 0);
    } catch (const std::bad_alloc&) {
        throw GIFOutOfMemory(GifMessages::OutOfMemoryDIB);
    }
}

void TGIFSubImage::SetBounds(uint16_t left, uint16_t top, uint16_t width, uint16_t height) {
    // The logical screen is 16-bit too: a frame must end inside it.
    if (int(left) + width > 0xFFFF || int(top) + height > 0xFFFF)
        throw GIFException(GifMessages::ImageTooLarge);
    const bool resized = width != m_width || height != m_height;
    m_left = left;
    m_top = top;
    m_width = width;
    m_height = height;
    if (resized) {
        m_display = DisplayKind::None;
        m_displayBitmap.reset();
        allocatePixels();
    }
    if (m_document)
        m_document->growScreen(*this);
}

int TGIFSubImage::RequiredVersion() const {
    return (m_colorMap.Sorted() || m_extensions.Count() > 0) ? 2 : 1;
}

void TGIFSubImage::Assign(const TGIFSubImage& source) {
    if (&source == this)
        return;
    Clear();
    // An empty source frame copies nothing more, not even its extensions. Intended: a copy
    // holds the frames that have pictures; the conversions never make an empty frame.
    if (source.Empty())
        return;
    try {
        m_data = source.m_data;
    } catch (const std::bad_alloc&) {
        throw GIFOutOfMemory(GifMessages::OutOfMemoryDIB);
    }
    if (source.m_displayBitmap) {
        m_displayBitmap = std::make_unique<Bitmap>();
        m_displayBitmap->Assign(*source.m_displayBitmap);
    }
    assignAllButPixels(source);
}

void TGIFSubImage::Take(TGIFSubImage& source) {
    if (&source == this)
        return;
    Clear();
    if (source.Empty()) {
        source.Clear();
        return;
    }
    m_data = std::move(source.m_data);
    m_displayBitmap = std::move(source.m_displayBitmap);
    assignAllButPixels(source);
    source.Clear();
}

void TGIFSubImage::assignAllButPixels(const TGIFSubImage& source) {
    // The descriptor as stored: the logical screen is not touched.
    m_left = source.m_left;
    m_top = source.m_top;
    m_width = source.m_width;
    m_height = source.m_height;
    m_packed = source.m_packed;
    m_transparent = source.m_transparent;
    m_codeBits = source.m_codeBits;
    m_colorMap.Assign(source.m_colorMap);
    // Extensions are copied through their written form and the extension reader.
    MemoryStream buffer;
    source.m_extensions.SaveToStream(buffer);
    buffer.seek(0);
    m_extensions.LoadFromStream(buffer);
    m_display = source.m_display;
}

std::unique_ptr<Bitmap> TGIFSubImage::DisplayBitmap() const {
    switch (m_display) {
    case DisplayKind::None:
        return nullptr;
    case DisplayKind::Bitmap: {
        auto copy = std::make_unique<Bitmap>();
        copy->Assign(*m_displayBitmap);
        return copy;
    }
    case DisplayKind::Pixels:
        break;
    }
    // A reduced frame: its pixels with its colour map as the colour table.
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->SetPixelFormat(PixelFormat::Bits8);
    std::vector<PaletteEntry> palette;
    for (const GifRGB& c : m_colorMap.Entries())
        palette.push_back(PaletteEntry{c.blue, c.green, c.red, 0});
    bitmap->SetSize(1, 1);
    bitmap->setPalette(palette);
    bitmap->SetSize(m_width, m_height);
    for (int y = 0; y < m_height; ++y)
        std::memcpy(bitmap->ScanLine(y), m_data.data() + static_cast<size_t>(y) * m_width, m_width);
    return bitmap;
}

void TGIFSubImage::AssignTo(Bitmap& dest) const {
    std::unique_ptr<Bitmap> display = DisplayBitmap();
    if (display)
        dest.Assign(*display);
    else
        dest.SetSize(0, 0);
}

void TGIFSubImage::reportRowProgress(int row) {
    if (row % 32 == 0 && m_document)
        m_document->Progress(GIFProgressStage::Running, roundedPercent(int64_t(row) * 100, m_height),
                             GifMessages::Converting);
}

void TGIFSubImage::importBitmap(const Bitmap& bitmap) {
    // The map becomes the bitmap's colour table, every entry in order.
    m_colorMap.m_colors.clear();
    for (const PaletteEntry& e : bitmap.palette())
        m_colorMap.m_colors.push_back({e.red, e.green, e.blue});
    m_colorMap.m_sorted = false;
    m_colorMap.NotifyChanged();
    const int rows = std::min<int>(m_height, bitmap.Height());
    const int width = std::min<int>(m_width, bitmap.Width());
    const PixelFormat format = bitmap.PixelFormat();
    for (int y = 0; y < rows; ++y) {
        reportRowProgress(y);
        const uint8_t* src = bitmap.ScanLine(y);
        uint8_t* dst = ScanLine(y);
        if (format == PixelFormat::Bits8) {
            std::memcpy(dst, src, static_cast<size_t>(width));
        } else if (format == PixelFormat::Bits4) {
            for (int x = 0; x < width; ++x)
                dst[x] = static_cast<uint8_t>((x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4);
        } else {
            for (int x = 0; x < width; ++x)
                dst[x] = static_cast<uint8_t>((src[x >> 3] >> (7 - (x & 7))) & 1);
        }
    }
}

void TGIFSubImage::import24(const Bitmap& bitmap) {
    // The map in order of first appearance of each colour; a small table of recent colours in
    // front of an exact-match hash. A 257th colour raises "Color table overflow".
    m_colorMap.Clear();
    constexpr int HashSlots = 1024;
    std::vector<int32_t> hashColor(HashSlots, -1);
    std::vector<uint8_t> hashIndex(HashSlots, 0);
    uint32_t recentColor[8];
    uint8_t recentIndex[8];
    int recentCount = 0, recentNext = 0;
    const int rows = std::min<int>(m_height, bitmap.Height());
    const int width = std::min<int>(m_width, bitmap.Width());
    for (int y = 0; y < rows; ++y) {
        reportRowProgress(y);
        const uint8_t* src = bitmap.ScanLine(y);
        uint8_t* dst = ScanLine(y);
        for (int x = 0; x < width; ++x, src += 3) {
            const uint32_t color = (uint32_t(src[2]) << 16) | (uint32_t(src[1]) << 8) | src[0];
            int index = -1;
            for (int i = 0; i < recentCount; ++i)
                if (recentColor[i] == color) {
                    index = recentIndex[i];
                    break;
                }
            if (index < 0) {
                uint32_t slot = (color * 2654435761u) >> 22;
                while (hashColor[slot] >= 0 && static_cast<uint32_t>(hashColor[slot]) != color)
                    slot = (slot + 1) & (HashSlots - 1);
                if (hashColor[slot] < 0) {
                    index = m_colorMap.Add({src[2], src[1], src[0]});
                    hashColor[slot] = static_cast<int32_t>(color);
                    hashIndex[slot] = static_cast<uint8_t>(index);
                } else {
                    index = hashIndex[slot];
                }
                recentColor[recentNext] = color;
                recentIndex[recentNext] = static_cast<uint8_t>(index);
                recentNext = (recentNext + 1) & 7;
                recentCount = std::min(recentCount + 1, 8);
            }
            dst[x] = static_cast<uint8_t>(index);
        }
    }
}

void TGIFSubImage::adoptReduced(ReducedFrame&& reduced) {
    if (Empty())
        return;
    m_data = std::move(reduced.indices);
    setReducedTransparency(reduced.transparentIndex, reduced.clearAfter);
    if (!reduced.colors.empty()) {
        m_colorMap.m_colors = std::move(reduced.colors);
        m_colorMap.m_sorted = false;
        m_display = DisplayKind::Pixels;
    }
}

uint8_t TGIFSubImage::packedForWriting() const {
    if (m_colorMap.Count() > 0)
        return static_cast<uint8_t>(0x80 | (m_colorMap.Sorted() ? 0x20 : 0) |
                                    ((m_colorMap.BitsPerPixel() - 1) & 7));
    return static_cast<uint8_t>(m_packed & 0x58);
}

void TGIFSubImage::SaveToStream(Stream& stream) const {
    m_extensions.SaveToStream(stream);
    if (Empty())
        return;
    const int maxBits = m_document ? m_document->MaxBitsPerPixel() : m_colorMap.BitsPerPixel();
    // A frame drawn with the global table may be written with fewer bits per code.
    const int emptyMapBits = m_codeBits > 0 && m_codeBits < maxBits ? m_codeBits : maxBits;
    writeImageBlock(stream, m_left, m_top, m_width, m_height, packedForWriting(), m_colorMap.Entries(),
                    emptyMapBits, m_document ? m_document->EncoderKind() : 0, Data());
}

void TGIFSubImage::LoadFromStream(Stream& stream) {
    uint8_t d[10];
    if (stream.read(d, 10) != 10)
        throw GIFException(GifMessages::OutOfData);
    if (d[0] != 0x2C)
        throw GIFException(GifMessages::InvalidData);
    const uint16_t left = static_cast<uint16_t>(d[1] | (d[2] << 8));
    const uint16_t top = static_cast<uint16_t>(d[3] | (d[4] << 8));
    const uint16_t width = static_cast<uint16_t>(d[5] | (d[6] << 8));
    const uint16_t height = static_cast<uint16_t>(d[7] | (d[8] << 8));
    if (int64_t(width) * height > Bitmap::MaxPixels)
        throw GIFException(GifMessages::ImageTooLarge);
    const uint64_t tableBytes = (d[9] & 0x80) ? 3u << ((d[9] & 7) + 1) : 0;
    checkImageDataCanFill(stream, tableBytes, uint64_t(width) * height);
    SetBounds(left, top, width, height);
    m_packed = d[9];
    m_colorMap.Clear();
    if (m_packed & 0x80)
        m_colorMap.ReadTable(stream, 1 << ((m_packed & 7) + 1));
    decodeGIFImage(stream, m_width, m_height, (m_packed & 0x40) != 0, Data(),
                   [this](const std::string& message) { ReportWarning(GIFSeverity::Warning, message); });
    m_display = Empty() ? DisplayKind::None : DisplayKind::Pixels;
}

// ---- TGIFDocument ----

TGIFDocument::TGIFDocument() : m_header(this), m_frames(this) {}

TGIFDocument::~TGIFDocument() {
    m_frames.Clear();
}

void TGIFDocument::Warning(GIFSeverity severity, const std::string& message) const {
    if (m_warningHandler)
        m_warningHandler(severity, message);
}

void TGIFDocument::Progress(GIFProgressStage stage, int percent, const std::string& message) const {
    if (m_onProgress)
        m_onProgress(stage, percent, message);
}

void TGIFDocument::changed() {
    if (m_onChange)
        m_onChange();
}

void TGIFDocument::growScreen(const TGIFSubImage& frame) {
    bool warned = false;
    const int right = frame.Left() + frame.Width();
    const int bottom = frame.Top() + frame.Height();
    bool grown = false;
    if (right > m_header.m_width) {
        if (m_header.m_width != 0) {
            Warning(GIFSeverity::Warning, GifMessages::BadWidth);
            warned = true;
        }
        m_header.m_width = static_cast<uint16_t>(right);
        grown = true;
    }
    if (bottom > m_header.m_height) {
        if (m_header.m_height != 0) {
            Warning(GIFSeverity::Warning, GifMessages::BadHeight);
            warned = true;
        }
        m_header.m_height = static_cast<uint16_t>(bottom);
        grown = true;
    }
    if (warned)
        Warning(GIFSeverity::Warning, GifMessages::ScreenBadSize);
    if (grown)
        changed();
}

void TGIFDocument::SetWidth(int width) {
    for (int i = 0; i < FrameCount(); ++i)
        if (Frame(i).Left() + Frame(i).Width() > width)
            throw GIFException(GifMessages::BadWidth);
    if (width > 0xFFFF)
        throw GIFException(GifMessages::ImageTooLarge);
    if (width != m_header.m_width) {
        m_header.m_width = static_cast<uint16_t>(width);
        changed();
    }
}

void TGIFDocument::SetHeight(int height) {
    for (int i = 0; i < FrameCount(); ++i)
        if (Frame(i).Top() + Frame(i).Height() > height)
            throw GIFException(GifMessages::BadHeight);
    if (height > 0xFFFF)
        throw GIFException(GifMessages::ImageTooLarge);
    if (height != m_header.m_height) {
        m_header.m_height = static_cast<uint16_t>(height);
        changed();
    }
}

void TGIFDocument::Clear() {
    m_frames.Clear();
    m_header.Clear();
    changed();
}

int TGIFDocument::MaxBitsPerPixel() const {
    int bits = m_header.ColorMap().BitsPerPixel();
    for (int i = 0; i < FrameCount(); ++i)
        bits = std::max(bits, Frame(i).ColorMap().BitsPerPixel());
    return bits;
}

int TGIFDocument::RequiredVersion() const {
    if (FrameCount() == 0)
        throw GIFException(GifMessages::UnsupportedVersion);
    for (int i = 0; i < FrameCount(); ++i)
        if (Frame(i).RequiredVersion() >= 2)
            return 2;
    return 1;
}

int TGIFDocument::AddFrame(std::unique_ptr<TGIFSubImage> frame) {
    if (!frame)
        throw GIFException(GifMessages::UnsupportedObject);
    const int index = m_frames.Add(std::move(frame));
    changed();
    return index;
}

int TGIFDocument::AddFrame(const Bitmap& graphic) {
    auto frame = std::make_unique<TGIFSubImage>(this);
    const uint16_t screenWidth = m_header.m_width, screenHeight = m_header.m_height;
    bool started = false;
    try {
        frame->Clear();
        if (!graphic.Empty()) {
            if (graphic.Width() > 0xFFFF || graphic.Height() > 0xFFFF)
                throw GIFException(GifMessages::ImageTooLarge);
            const int width = graphic.Width(), height = graphic.Height();
            frame->SetWidth(static_cast<uint16_t>(width));
            frame->SetHeight(static_cast<uint16_t>(height));
            const PixelFormat format = graphic.PixelFormat();
            if (format == PixelFormat::Bits1 || format == PixelFormat::Bits4 ||
                format == PixelFormat::Bits8) {
                // A palettised bitmap is never reduced: its own palette becomes the map.
                frame->m_displayBitmap = std::make_unique<Bitmap>();
                frame->m_displayBitmap->Assign(graphic);
                frame->m_display = TGIFSubImage::DisplayKind::Bitmap;
                frame->allocatePixels();
                Progress(GIFProgressStage::Starting, 0, GifMessages::Converting);
                started = true;
                frame->importBitmap(*frame->m_displayBitmap);
            } else {
                // Any other format is reduced from a 24-bit copy; a 24-bit bitmap is read as it is.
                Bitmap converted;
                if (format != PixelFormat::Bits24) {
                    converted.Assign(graphic);
                    converted.SetPixelFormat(PixelFormat::Bits24);
                }
                const Bitmap& source = format == PixelFormat::Bits24 ? graphic : converted;
                if (m_reductionMode == GifReductionMode::None) {
                    // No reduction: the exact colours, at most 256 of them.
                    frame->m_displayBitmap = std::make_unique<Bitmap>();
                    frame->m_displayBitmap->Assign(source);
                    frame->m_display = TGIFSubImage::DisplayKind::Bitmap;
                    frame->allocatePixels();
                    Progress(GIFProgressStage::Starting, 0, GifMessages::Converting);
                    started = true;
                    frame->import24(*frame->m_displayBitmap);
                } else {
                    // The display bitmap is the reduced pixels with the reduction palette, made
                    // when asked for.
                    frame->adoptReduced(reduceFrame(source, m_reductionMode, m_ditherKind, m_quantizeBits));
                    Progress(GIFProgressStage::Starting, 0, GifMessages::Converting);
                    started = true;
                    for (int y = 0; y < height; y += 32)
                        frame->reportRowProgress(y);
                }
            }
            Progress(GIFProgressStage::Ending, 100, GifMessages::Converting);
        }
    } catch (...) {
        if (started)
            Progress(GIFProgressStage::Ending, 0, GifMessages::Converting);
        // The document is left as it was: the frame is dropped and the screen restored.
        frame.reset();
        m_header.m_width = screenWidth;
        m_header.m_height = screenHeight;
        throw;
    }
    const int index = m_frames.Add(std::move(frame));
    changed();
    return index;
}

int TGIFDocument::addReducedFrame(ReducedFrame reduced) {
    auto frame = std::make_unique<TGIFSubImage>(this);
    const uint16_t screenWidth = m_header.m_width, screenHeight = m_header.m_height;
    try {
        if (reduced.width > 0xFFFF || reduced.height > 0xFFFF)
            throw GIFException(GifMessages::ImageTooLarge);
        if (reduced.indices.size() !=
            static_cast<size_t>(reduced.width) * static_cast<size_t>(reduced.height))
            throw GIFException(GifMessages::InvalidData);
        frame->SetWidth(static_cast<uint16_t>(reduced.width));
        frame->SetHeight(static_cast<uint16_t>(reduced.height));
        frame->adoptReduced(std::move(reduced));
    } catch (...) {
        m_header.m_width = screenWidth;
        m_header.m_height = screenHeight;
        throw;
    }
    const int index = m_frames.Add(std::move(frame));
    changed();
    return index;
}

void TGIFDocument::Assign(const TGIFDocument* source) {
    if (source == this)
        return;
    if (!source) {
        Clear();
        return;
    }
    assignFrames(*source, [](TGIFSubImage& frame, TGIFSubImage& from) { frame.Assign(from); });
}

void TGIFDocument::Take(TGIFDocument& source) {
    if (&source == this)
        return;
    assignFrames(source, [](TGIFSubImage& frame, TGIFSubImage& from) { frame.Take(from); });
    source.Clear();
}

void TGIFDocument::assignFrames(const TGIFDocument& source,
                                const std::function<void(TGIFSubImage&, TGIFSubImage&)>& assignFrame) {
    Clear();
    // The copy reports through the source's handlers; afterwards both are unset.
    m_onProgress = source.m_onProgress;
    m_warningHandler = source.m_warningHandler;
    struct Unset {
        TGIFDocument& doc;
        ~Unset() {
            doc.m_onProgress = nullptr;
            doc.m_warningHandler = nullptr;
        }
    } unset{*this};
    Progress(GIFProgressStage::Starting, 0, GifMessages::Copying);
    try {
        m_header.Assign(source.m_header);
        // QuantizeBits and EncoderKind keep this document's values.
        m_reductionMode = source.m_reductionMode;
        m_ditherKind = source.m_ditherKind;
        const int count = source.FrameCount();
        for (int i = 0; i < count; ++i) {
            auto frame = std::make_unique<TGIFSubImage>(this);
            assignFrame(*frame, source.Frame(i));
            m_frames.Add(std::move(frame));
            Progress(GIFProgressStage::Running, roundedPercent(int64_t(i + 1) * 100, count),
                     GifMessages::Copying);
        }
    } catch (...) {
        Progress(GIFProgressStage::Ending, 0, GifMessages::Copying);
        throw;
    }
    Progress(GIFProgressStage::Ending, 100, GifMessages::Copying);
    changed();
}

void TGIFDocument::Assign(const Bitmap& graphic) {
    Clear();
    AddFrame(graphic);
}

void TGIFDocument::SaveToStream(Stream& stream) const {
    Progress(GIFProgressStage::Starting, 0, GifMessages::Saving);
    try {
        m_header.SaveToStream(stream);
        const int count = FrameCount();
        for (int i = 0; i < count; ++i) {
            Frame(i).SaveToStream(stream);
            Progress(GIFProgressStage::Running, roundedPercent(int64_t(i + 1) * 100, count),
                     GifMessages::Saving);
        }
        const TGIFTrailer trailer(nullptr);
        trailer.SaveToStream(stream);
    } catch (...) {
        Progress(GIFProgressStage::Ending, 0, GifMessages::Saving);
        throw;
    }
    Progress(GIFProgressStage::Ending, 100, GifMessages::Saving);
}

void TGIFDocument::SaveToFile(const std::string& path) const {
    MemoryStream stream;
    SaveToStream(stream);
    writeFileAtomically(path, stream.bytes().data(), stream.bytes().size());
}

void TGIFDocument::LoadFromStream(Stream& stream) {
    Clear();
    m_header.LoadFromStream(stream);
    m_frames.LoadFromStream(stream);
    changed();
}

void TGIFDocument::LoadFromFile(const std::string& path) {
    MemoryStream stream(readFile(path));
    LoadFromStream(stream);
}

} // namespace kelvara
