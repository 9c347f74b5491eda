// The in-memory animated GIF document: header, frames, colour maps, extension blocks, the
// extension reader, the copy operation and the GIF file writer.
#pragma once

#include "gif/GifDither.h"
#include "gif/GifErrors.h"
#include "gif/GifReduction.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvara {

class Bitmap;
class Stream;
class TGIFDocument;
class TGIFHeader;
class TGIFSubImage;
class TGIFExtension;

// Raised when a list is indexed out of range: "List index out of bounds (%d)".
class ListIndexError : public Error {
public:
    using Error::Error;
};

using GIFProgressHandler =
    std::function<void(GIFProgressStage stage, int percent, const std::string& message)>;
using GIFWarningHandler = std::function<void(GIFSeverity severity, const std::string& message)>;

// ---- items ----

// Base of the header, the frames, the extensions and the trailer.
class TGIFItem {
public:
    explicit TGIFItem(TGIFDocument* document) : m_document(document) {}
    virtual ~TGIFItem() = default;
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;

    // 1 = 87a, 2 = 89a.
    virtual int RequiredVersion() const { return 1; }
    // Forwards to the document's warning handler.
    void ReportWarning(GIFSeverity severity, const std::string& message) const;
    virtual void SaveToStream(Stream& stream) const = 0;
    virtual void LoadFromStream(Stream& stream) = 0;
    // Writes the item alone to a file (through a temporary name).
    void SaveToFile(const std::string& path) const;
    void LoadFromFile(const std::string& path);

    TGIFDocument* Document() const { return m_document; }

protected:
    TGIFDocument* m_document;
};

// ---- colour maps ----

// A GIF colour table: up to 256 RGB entries.
class TGIFColorMap {
public:
    virtual ~TGIFColorMap() = default;

    int Count() const { return static_cast<int>(m_colors.size()); }
    // Room the map has: 16 entries for any count up to 16, then multiples of 32, at most 256.
    int Capacity() const;
    const GifRGB& Colors(int index) const;
    void SetColor(int index, const GifRGB& color);
    const std::vector<GifRGB>& Entries() const { return m_colors; }
    // Appends an entry and returns its index; a 257th raises "Color table overflow".
    int Add(const GifRGB& color);
    void Delete(int index);
    void Clear();
    // Entries are ordered by frequency of use; set only by SortByUse.
    bool Sorted() const { return m_sorted; }
    // 0 for an empty map, else the smallest n >= 1 with 2^n >= count.
    int BitsPerPixel() const;
    static int bitsFor(int count);

    // Copies entries, count and Sorted.
    virtual void Assign(const TGIFColorMap& source);
    virtual void ReportWarning(GIFSeverity severity, const std::string& message) const = 0;
    // How often each index is used by the pixels that use this map.
    virtual std::vector<int64_t> CountUses() const = 0;
    // Applies an old-to-new index map to those pixels and to the transparent index.
    virtual void RemapPixels(const std::vector<int>& oldToNew) = 0;
    // Orders the entries by use, most used first, and remaps the pixels.
    void SortByUse();
    // Drops cached palette handles (the engine keeps none).
    virtual void NotifyChanged() {}

    // Colour table (GIF89a, Global/Local Color Table): the entries, then black triples up to
    // 2^bits entries.
    void WriteTable(Stream& stream, int bits) const;
    void ReadTable(Stream& stream, int count);

protected:
    friend class TGIFSubImage;
    friend class TGIFDocument;
    std::vector<GifRGB> m_colors;
    bool m_sorted = false;
};

class TGIFGlobalColorMap final : public TGIFColorMap {
public:
    explicit TGIFGlobalColorMap(TGIFHeader* header) : m_header(header) {}
    void ReportWarning(GIFSeverity severity, const std::string& message) const override;
    std::vector<int64_t> CountUses() const override;
    void RemapPixels(const std::vector<int>& oldToNew) override;

private:
    TGIFHeader* m_header;
};

class TGIFLocalColorMap final : public TGIFColorMap {
public:
    explicit TGIFLocalColorMap(TGIFSubImage* frame) : m_frame(frame) {}
    void ReportWarning(GIFSeverity severity, const std::string& message) const override;
    std::vector<int64_t> CountUses() const override;
    void RemapPixels(const std::vector<int>& oldToNew) override;

private:
    TGIFSubImage* m_frame;
};

// ---- header ----

class TGIFHeader final : public TGIFItem {
public:
    explicit TGIFHeader(TGIFDocument* document) : TGIFItem(document), m_colorMap(this) {}

    void Assign(const TGIFHeader& source);
    // 2 when the global map is Sorted or the aspect byte is set.
    int RequiredVersion() const override;
    // Signature, version, Logical Screen Descriptor and global colour table. The version is the
    // one the document's frames require; the packed byte is computed from the document's maps.
    void SaveToStream(Stream& stream) const override;
    void LoadFromStream(Stream& stream) override;

    uint16_t Width() const { return m_width; }
    uint16_t Height() const { return m_height; }
    TGIFGlobalColorMap& ColorMap() { return m_colorMap; }
    const TGIFGlobalColorMap& ColorMap() const { return m_colorMap; }

    void Clear();

private:
    friend class TGIFDocument;
    // The Logical Screen Descriptor's packed byte for the maps of the document (see the writer).
    uint8_t packedByte() const;

    uint16_t m_width = 0;
    uint16_t m_height = 0;
    uint8_t m_background = 0;
    uint8_t m_aspect = 0;
    TGIFGlobalColorMap m_colorMap;
};

// ---- lists ----

class TGIFExtensionList {
public:
    explicit TGIFExtensionList(TGIFSubImage* frame) : m_frame(frame) {}
    ~TGIFExtensionList();
    TGIFExtensionList(const TGIFExtensionList&) = delete;
    TGIFExtensionList& operator=(const TGIFExtensionList&) = delete;

    int Count() const { return static_cast<int>(m_items.size()); }
    TGIFExtension& Items(int index) const;
    // Appends at the end; the list takes ownership. An extension made on another frame (or on
    // none) is refused, as is a null one.
    int Append(std::unique_ptr<TGIFExtension> extension);
    void Delete(int index);
    void Clear();
    void ReportWarning(GIFSeverity severity, const std::string& message) const;
    void SaveToStream(Stream& stream) const;
    // The extension reader: reads extensions from the stream's position until an image
    // separator, a trailer or the end of the stream.
    void LoadFromStream(Stream& stream);

private:
    TGIFSubImage* m_frame;
    std::vector<std::unique_ptr<TGIFExtension>> m_items;
};

class TGIFFrameList {
public:
    explicit TGIFFrameList(TGIFDocument* document) : m_document(document) {}
    ~TGIFFrameList();
    TGIFFrameList(const TGIFFrameList&) = delete;
    TGIFFrameList& operator=(const TGIFFrameList&) = delete;

    int Count() const { return static_cast<int>(m_items.size()); }
    TGIFSubImage& Items(int index) const;
    int Add(std::unique_ptr<TGIFSubImage> frame);
    void Delete(int index);
    void Clear();
    void ReportWarning(GIFSeverity severity, const std::string& message) const;
    void SaveToStream(Stream& stream) const;
    void LoadFromStream(Stream& stream);

private:
    TGIFDocument* m_document;
    std::vector<std::unique_ptr<TGIFSubImage>> m_items;
};

// ---- frames ----

class TGIFGraphicControlExtension;

class TGIFSubImage final : public TGIFItem {
public:
    explicit TGIFSubImage(TGIFDocument* document);
    ~TGIFSubImage() override;

    // Copies another frame (see the document's copy).
    void Assign(const TGIFSubImage& source);
    // The same as Assign, but the pixels and the display bitmap are moved out of source, which is
    // left empty.
    void Take(TGIFSubImage& source);
    // Copies the frame's display bitmap into dest (dest becomes empty when there is none).
    void AssignTo(Bitmap& dest) const;
    // 2 when the local map is Sorted or the frame has extensions.
    int RequiredVersion() const override;
    // Extensions, then Image Descriptor, local colour table and image data (non-empty frames).
    void SaveToStream(Stream& stream) const override;
    void LoadFromStream(Stream& stream) override;

    // Image Descriptor (GIF89a, section 20).
    uint16_t Left() const { return m_left; }
    uint16_t Top() const { return m_top; }
    uint16_t Width() const { return m_width; }
    uint16_t Height() const { return m_height; }
    void SetLeft(uint16_t left) { SetBounds(left, m_top, m_width, m_height); }
    void SetWidth(uint16_t width) { SetBounds(m_left, m_top, width, m_height); }
    void SetHeight(uint16_t height) { SetBounds(m_left, m_top, m_width, height); }
    // The interlace bit of the stored descriptor; written only for a frame without a local map.
    void SetInterlaced(bool on) { m_packed = static_cast<uint8_t>(on ? m_packed | 0x40 : m_packed & ~0x40); }
    // Stores the descriptor values; a new width or height reallocates the pixels zero-filled and
    // drops the display bitmap; then the document's logical screen grows to hold the frame.
    void SetBounds(uint16_t left, uint16_t top, uint16_t width, uint16_t height);
    TGIFLocalColorMap& ColorMap() { return m_colorMap; }
    const TGIFLocalColorMap& ColorMap() const { return m_colorMap; }
    // width * height indices, top row first; null while the frame is empty.
    uint8_t* Data() { return m_data.empty() ? nullptr : m_data.data(); }
    const uint8_t* Data() const { return m_data.empty() ? nullptr : m_data.data(); }
    size_t DataSize() const { return m_data.size(); }
    uint8_t Pixel(int x, int y) const { return m_data[static_cast<size_t>(y) * m_width + x]; }
    uint8_t* ScanLine(int y) { return m_data.data() + static_cast<size_t>(y) * m_width; }
    // No pixel buffer, or width or height 0.
    bool Empty() const { return m_data.empty() || m_width == 0 || m_height == 0; }

    TGIFExtensionList& Extensions() { return m_extensions; }
    const TGIFExtensionList& Extensions() const { return m_extensions; }
    bool Transparent() const { return m_transparent; }
    TGIFGraphicControlExtension* GraphicControlExtension() const { return m_graphicControl; }

    // The bitmap the frame was imported from, kept for drawing; null when it has none.
    std::unique_ptr<Bitmap> DisplayBitmap() const;
    bool HasDisplayBitmap() const { return m_display != DisplayKind::None; }

    // Extensions destroyed, map emptied, pixels freed, size 0 x 0, transparent flag off.
    void Clear();

    // The LZW code size the image data is written with; 0 (the default) for the size of the
    // frame's colour table, or of the largest table in the document for a frame without one. A
    // frame drawn with a global table whose pixels use only its first entries may take fewer bits.
    int CodeBits() const { return m_codeBits; }
    void SetCodeBits(int bits) { m_codeBits = static_cast<uint8_t>(bits); }

    // What a reduced frame of a source with an alpha channel brought (see ReducedFrame): its
    // transparent entry (-1 for none) and whether it is cleared after it shows. The graphic
    // control block appendAnimationBlocks() gives the frame carries them.
    int reducedTransparentIndex() const { return m_reducedTransparent; }
    bool reducedClearAfter() const { return m_reducedClear; }
    void setReducedTransparency(int index, bool clearAfter) {
        m_reducedTransparent = static_cast<int16_t>(index);
        m_reducedClear = clearAfter;
    }

private:
    friend class TGIFDocument;
    friend class TGIFGraphicControlExtension;
    enum class DisplayKind { None, Pixels, Bitmap };

    void allocatePixels();
    // Assign's part after the pixels: the descriptor, the colour map, the extensions.
    void assignAllButPixels(const TGIFSubImage& source);
    // The descriptor's packed byte as written: recomputed from a local map (always written
    // non-interlaced), else the stored interlace and reserved bits.
    uint8_t packedForWriting() const;
    void importBitmap(const Bitmap& bitmap);
    // Takes a reduced frame of the frame's size as its pixels and, when it has colours, its map.
    void adoptReduced(ReducedFrame&& reduced);
    void import24(const Bitmap& bitmap);
    void reportRowProgress(int row);

    uint16_t m_left = 0;
    uint16_t m_top = 0;
    uint16_t m_width = 0;
    uint16_t m_height = 0;
    uint8_t m_packed = 0;
    TGIFLocalColorMap m_colorMap;
    std::vector<uint8_t> m_data;
    TGIFExtensionList m_extensions;
    bool m_transparent = false;
    TGIFGraphicControlExtension* m_graphicControl = nullptr;
    uint8_t m_codeBits = 0;
    int16_t m_reducedTransparent = -1;
    bool m_reducedClear = false;
    // The display bitmap: none, the frame's own pixels and map (a reduced frame: made on
    // demand), or a kept copy of the imported bitmap.
    DisplayKind m_display = DisplayKind::None;
    std::unique_ptr<Bitmap> m_displayBitmap;
};

// ---- extensions ----

// How the extension reader finds the class of an extension: its factory and, for application
// extensions, the refinement by the bytes after the label.
struct GIFExtensionClass {
    const char* name;
    std::unique_ptr<TGIFExtension> (*create)(TGIFSubImage* frame);
    // Given the stream just after the label, the concrete class (may read; the reader restores
    // the position).
    const GIFExtensionClass* (*resolve)(const GIFExtensionClass* self, Stream& stream);
};

// The label registry: 0x01 text, 0xF9 graphic control, 0xFE comment, 0xFF application. Searched
// from the last registration back.
void RegisterExtension(uint8_t label, const GIFExtensionClass* cls);
const GIFExtensionClass* FindExtensionClass(uint8_t label);
// The application registry: "NETSCAPE2.0" and "ANIMEXTS1.0" give the looping block.
void RegisterAppExtension(const std::array<uint8_t, 11>& identifier, const GIFExtensionClass* cls);
const GIFExtensionClass* FindAppExtensionClass(const uint8_t* identifier);

class TGIFExtension : public TGIFItem {
public:
    // Made on a frame; in no list until appended to that frame's list, which then owns it.
    explicit TGIFExtension(TGIFSubImage* frame);

    int RequiredVersion() const override { return 2; }
    virtual uint8_t ExtensionLabel() const = 0;
    // Writes the Extension Introducer and the label.
    void SaveToStream(Stream& stream) const override;
    // Reads and checks the introducer and the label.
    void LoadFromStream(Stream& stream) override;
    TGIFSubImage* SubImage() const { return m_frame; }

protected:
    TGIFSubImage* m_frame;
};

// Graphic Control Extension (GIF89a, section 23).
class TGIFGraphicControlExtension final : public TGIFExtension {
public:
    static constexpr uint8_t Label = 0xF9;
    static const GIFExtensionClass Class;
    // All fields 0; becomes the frame's graphic control block if the frame has none yet.
    explicit TGIFGraphicControlExtension(TGIFSubImage* frame);
    ~TGIFGraphicControlExtension() override;

    uint8_t ExtensionLabel() const override { return Label; }
    void SaveToStream(Stream& stream) const override;
    void LoadFromStream(Stream& stream) override;

    uint16_t DelayHundredths() const { return m_delay; }
    void SetDelayHundredths(uint16_t delay) { m_delay = delay; }
    void SetDisposal(int method) {
        m_packed = static_cast<uint8_t>((m_packed & ~0x1C) | ((method & 7) << 2));
    }
    bool Transparent() const { return (m_packed & 1) != 0; }
    void SetTransparent(bool on);
    uint8_t TransparentColorIndex() const { return m_transparentIndex; }
    void SetTransparentColorIndex(uint8_t index) { m_transparentIndex = index; }
    uint8_t Packed() const { return m_packed; }
    uint8_t BlockSize() const { return m_blockSize; }

private:
    // The six stored bytes, written as they stand.
    uint8_t m_blockSize = 4;
    uint8_t m_packed = 0;
    uint16_t m_delay = 0;
    uint8_t m_transparentIndex = 0;
    uint8_t m_terminator = 0;
};

// Application Extension (GIF89a, section 26). The base class stands for a block whose size byte
// is neither 10 nor 11: its sub-blocks cannot be read.
class TGIFApplicationExtension : public TGIFExtension {
public:
    static constexpr uint8_t Label = 0xFF;
    static const GIFExtensionClass Class;
    explicit TGIFApplicationExtension(TGIFSubImage* frame) : TGIFExtension(frame) {}

    uint8_t ExtensionLabel() const override { return Label; }
    void SaveToStream(Stream& stream) const override;
    void LoadFromStream(Stream& stream) override;
    // 8-byte application identifier and 3-byte authentication code.
    const std::array<uint8_t, 11>& Identifier() const { return m_identifier; }
    void SetIdentifier(const std::string& identifier);

protected:
    // Writes the data sub-blocks, not the terminator.
    virtual void WriteSubBlocks(Stream& stream) const;
    // Reads the sub-blocks and their terminator.
    virtual void ReadSubBlocks(Stream& stream);

    std::array<uint8_t, 11> m_identifier{};
};

// The NETSCAPE2.0 looping block.
class TGIFAppExtNSLoop final : public TGIFApplicationExtension {
public:
    static const GIFExtensionClass Class;
    // Identifier "NETSCAPE2.0", LoopCount 0 (for ever), BufferBytes 0 (not written).
    explicit TGIFAppExtNSLoop(TGIFSubImage* frame);

    uint16_t LoopCount() const { return m_loopCount; }
    void SetLoopCount(uint16_t count) { m_loopCount = count; }
    uint32_t BufferBytes() const { return m_bufferBytes; }
    void SetBufferBytes(uint32_t bytes) { m_bufferBytes = bytes; }

protected:
    void WriteSubBlocks(Stream& stream) const override;
    void ReadSubBlocks(Stream& stream) override;

private:
    uint16_t m_loopCount = 0;
    uint32_t m_bufferBytes = 0;
};

// One data sub-block kept as it was read: its size byte and data.
struct TGIFBlock {
    std::vector<uint8_t> Data;
};

// Any other application: its sub-blocks are kept raw.
class TGIFUnknownAppExtension final : public TGIFApplicationExtension {
public:
    static const GIFExtensionClass Class;
    explicit TGIFUnknownAppExtension(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {}
    std::vector<TGIFBlock>& Blocks() { return m_blocks; }
    const std::vector<TGIFBlock>& Blocks() const { return m_blocks; }

protected:
    void WriteSubBlocks(Stream& stream) const override;
    void ReadSubBlocks(Stream& stream) override;

private:
    std::vector<TGIFBlock> m_blocks;
};

// Comment Extension (GIF89a, section 24). Each line is written as sub-blocks of at most 255
// bytes; each sub-block read becomes one line, so a copy writes the bytes it read.
class TGIFCommentExtension final : public TGIFExtension {
public:
    static constexpr uint8_t Label = 0xFE;
    static const GIFExtensionClass Class;
    explicit TGIFCommentExtension(TGIFSubImage* frame) : TGIFExtension(frame) {}
    uint8_t ExtensionLabel() const override { return Label; }
    void SaveToStream(Stream& stream) const override;
    void LoadFromStream(Stream& stream) override;
    std::vector<std::string>& Lines() { return m_lines; }
    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    std::vector<std::string> m_lines;
};

// Plain Text Extension (GIF89a, section 25): 13 header bytes (block size 12, grid and colours)
// and text as for a comment.
class TGIFTextExtension final : public TGIFExtension {
public:
    static constexpr uint8_t Label = 0x01;
    static const GIFExtensionClass Class;
    explicit TGIFTextExtension(TGIFSubImage* frame);
    uint8_t ExtensionLabel() const override { return Label; }
    void SaveToStream(Stream& stream) const override;
    void LoadFromStream(Stream& stream) override;
    std::vector<std::string>& Lines() { return m_lines; }
    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    std::array<uint8_t, 13> m_header{};
    std::vector<std::string> m_lines;
};

// The trailer byte 0x3B, made only while writing.
class TGIFTrailer final : public TGIFItem {
public:
    explicit TGIFTrailer(TGIFDocument* document) : TGIFItem(document) {}
    void SaveToStream(Stream& stream) const override;
    void LoadFromStream(Stream& stream) override;
};

// ---- the document ----

class TGIFDocument {
public:
    // How the picture class knows the document.
    static constexpr const char* FileExtension = "GIF";
    static constexpr const char* Description = "GIF Image";

    TGIFDocument();
    ~TGIFDocument();
    TGIFDocument(const TGIFDocument&) = delete;
    TGIFDocument& operator=(const TGIFDocument&) = delete;

    // Settings, from the defaults table at construction.
    GifReductionMode ReductionMode() const { return m_reductionMode; }
    void SetReductionMode(GifReductionMode mode) { m_reductionMode = mode; }
    uint8_t QuantizeBits() const { return m_quantizeBits; }
    void SetQuantizeBits(uint8_t bits) { m_quantizeBits = bits; }
    GifDitherKind DitherKind() const { return m_ditherKind; }
    void SetDitherKind(GifDitherKind kind) { m_ditherKind = kind; }
    // 0 LZW, 1 run-length.
    uint8_t EncoderKind() const { return m_encoderKind; }
    void SetEncoderKind(uint8_t kind) { m_encoderKind = kind; }

    // Imports a bitmap into a new frame and appends it; returns its index. A bitmap of 1, 4 or 8
    // bits keeps its palette; any other is reduced from its 24-bit form. The bitmap is not changed.
    int AddFrame(const Bitmap& graphic);
    // Appends a frame made on this document; a null one raises "Object type not supported for
    // operation".
    int AddFrame(std::unique_ptr<TGIFSubImage> frame);
    // Appends a frame reduced elsewhere (by reduceFrame, possibly on another thread) as AddFrame
    // would have made it from the bitmap: the same frame, map and pixels, the logical screen
    // grown the same way. The pixels are taken over, not copied.
    int addReducedFrame(ReducedFrame reduced);
    int FrameCount() const { return m_frames.Count(); }
    TGIFSubImage& Frame(int index) const { return m_frames.Items(index); }
    TGIFFrameList& Frames() { return m_frames; }
    TGIFHeader& Header() { return m_header; }
    const TGIFHeader& Header() const { return m_header; }

    // Replaces the content by a copy of source; null clears. See the copy rules.
    void Assign(const TGIFDocument* source);
    // The same as Assign(&source), with the same progress, but each frame's pixels are moved, not
    // copied, and source is left empty: a built document handed on without holding two copies.
    void Take(TGIFDocument& source);
    // Clears and adds the bitmap as the only frame.
    void Assign(const Bitmap& graphic);

    // Writes the complete GIF file at the stream's position.
    void SaveToStream(Stream& stream) const;
    // Writes the file through a temporary name, so a failure leaves no partial file.
    void SaveToFile(const std::string& path) const;
    // Reads a GIF file (header, extensions, frames).
    void LoadFromStream(Stream& stream);
    void LoadFromFile(const std::string& path);

    void Clear();
    bool Empty() const { return m_frames.Count() == 0; }
    // The logical screen. A value smaller than a frame's extent raises.
    int Width() const { return m_header.Width(); }
    int Height() const { return m_header.Height(); }
    void SetWidth(int width);
    void SetHeight(int height);

    void SetOnProgress(GIFProgressHandler handler) { m_onProgress = std::move(handler); }
    const GIFProgressHandler& OnProgress() const { return m_onProgress; }
    void SetWarningHandler(GIFWarningHandler handler) { m_warningHandler = std::move(handler); }
    const GIFWarningHandler& WarningHandler() const { return m_warningHandler; }
    // Called when frames are added or the logical screen changes.
    void SetOnChange(std::function<void()> handler) { m_onChange = std::move(handler); }

    void Warning(GIFSeverity severity, const std::string& message) const;
    void Progress(GIFProgressStage stage, int percent, const std::string& message) const;

    // The GIF version the frames require (1 = 87a, 2 = 89a); raises "Unsupported GIF version"
    // without frames.
    int RequiredVersion() const;
    // The largest bits-per-pixel value of the global map and every local map.
    int MaxBitsPerPixel() const;

private:
    friend class TGIFSubImage;
    void growScreen(const TGIFSubImage& frame);
    // Assign and Take: the header and each frame through assignFrame, with the copy's progress.
    void assignFrames(const TGIFDocument& source,
                      const std::function<void(TGIFSubImage&, TGIFSubImage&)>& assignFrame);
    void changed();

    TGIFHeader m_header;
    TGIFFrameList m_frames;
    GifReductionMode m_reductionMode = GifReductionMode::Netscape;
    uint8_t m_quantizeBits = 8;
    GifDitherKind m_ditherKind = GifDitherKind::Nearest;
    uint8_t m_encoderKind = 0;
    GIFProgressHandler m_onProgress;
    GIFWarningHandler m_warningHandler;
    std::function<void()> m_onChange;
};

// The GIF header (signature and version 87a or 89a) and the Logical Screen Descriptor.
void writeGifHeader(Stream& stream, int version, uint16_t width, uint16_t height, uint8_t packed,
                    uint8_t background, uint8_t aspect);
// The Logical Screen Descriptor's packed byte for a file without a global colour table whose
// largest local map has 2^bits entries (0x77 for 256).
uint8_t screenPackedByte(int bits);
// Writes a reduced frame as the document writes a frame made of it by addReducedFrame: the Image
// Descriptor at (0, 0), the local colour table and the image data; no extensions. A frame
// without colours is encoded with emptyMapBits, the document's largest map size.
void writeReducedFrame(Stream& stream, const ReducedFrame& frame, int emptyMapBits, int encoderKind = 0);
// Appends the blocks of a frame of an animation: the looping block with loopCount on the first
// frame (index 0), then a graphic control block with the delay (and the frame's transparent
// entry and disposal, for a frame of a source with an alpha channel).
void appendAnimationBlocks(TGIFSubImage& frame, int index, uint16_t loopCount, uint16_t delayHundredths);

// Rounds numerator / denominator to the nearest integer, ties to even (both non-negative).
int roundedPercent(int64_t numerator, int64_t denominator);

} // namespace kelvara
