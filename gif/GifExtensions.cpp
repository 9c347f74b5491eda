// GIF extension blocks, their class registries and the extension reader.
#include "gif/GifDocument.h"

#include "raster/Stream.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

namespace kelvara {

namespace {

bool readByte(Stream& stream, uint8_t& value) {
    return stream.read(&value, 1) == 1;
}

uint8_t readByteOrFail(Stream& stream) {
    uint8_t value;
    if (!readByte(stream, value))
        throw GIFException(GifMessages::OutOfData);
    return value;
}

void writeByte(Stream& stream, uint8_t value) {
    stream.write(&value, 1);
}

// Moves the read position by delta, never past either end (a position past the end would make
// a memory stream grow).
void skip(Stream& stream, int64_t delta) {
    int64_t target = static_cast<int64_t>(stream.position()) + delta;
    target = std::clamp<int64_t>(target, 0, static_cast<int64_t>(stream.size()));
    stream.seek(static_cast<uint64_t>(target));
}

// Text sub-blocks up to a terminator (or the end of the stream); each becomes one line.
void readLines(Stream& stream, std::vector<std::string>& lines) {
    lines.clear();
    uint8_t size;
    while (readByte(stream, size) && size != 0) {
        std::string line(size, '\0');
        if (stream.read(line.data(), size) != size)
            throw GIFException(GifMessages::OutOfData);
        lines.push_back(std::move(line));
    }
}

// Each line as sub-blocks of at most 255 bytes, then the terminator.
void writeLines(Stream& stream, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        size_t done = 0;
        while (done < line.size()) {
            const size_t n = std::min<size_t>(255, line.size() - done);
            writeByte(stream, static_cast<uint8_t>(n));
            stream.write(line.data() + done, n);
            done += n;
        }
    }
    writeByte(stream, 0);
}

// ---- registries ----

struct Registries {
    std::mutex lock;
    std::vector<std::pair<uint8_t, const GIFExtensionClass*>> labels;
    std::vector<std::pair<std::array<uint8_t, 11>, const GIFExtensionClass*>> applications;
};

std::array<uint8_t, 11> identifierOf(const char* text) {
    std::array<uint8_t, 11> id{};
    std::memcpy(id.data(), text, 11);
    return id;
}

Registries& registries() {
    static Registries r;
    static const bool filled = [] {
        Registries& built = r;
        built.labels = {{TGIFTextExtension::Label, &TGIFTextExtension::Class},
                        {TGIFGraphicControlExtension::Label, &TGIFGraphicControlExtension::Class},
                        {TGIFCommentExtension::Label, &TGIFCommentExtension::Class},
                        {TGIFApplicationExtension::Label, &TGIFApplicationExtension::Class}};
        built.applications = {{identifierOf("NETSCAPE2.0"), &TGIFAppExtNSLoop::Class},
                              {identifierOf("ANIMEXTS1.0"), &TGIFAppExtNSLoop::Class}};
        return true;
    }();
    (void)filled;
    return r;
}

const GIFExtensionClass* resolveSelf(const GIFExtensionClass* self, Stream&) {
    return self;
}

const GIFExtensionClass* resolveApplication(const GIFExtensionClass* self, Stream& stream) {
    uint8_t size;
    if (!readByte(stream, size))
        return self;
    if (size == 11) {
        uint8_t identifier[11];
        if (stream.read(identifier, 11) != 11)
            return &TGIFUnknownAppExtension::Class; // no known identifier is there
        const GIFExtensionClass* found = FindAppExtensionClass(identifier);
        return found ? found : &TGIFUnknownAppExtension::Class;
    }
    if (size == 10)
        return &TGIFUnknownAppExtension::Class;
    return self; // its reader refuses the block size
}

template <class T> std::unique_ptr<TGIFExtension> make(TGIFSubImage* frame) {
    return std::make_unique<T>(frame);
}

} // namespace

void RegisterExtension(uint8_t label, const GIFExtensionClass* cls) {
    Registries& r = registries();
    std::lock_guard<std::mutex> guard(r.lock);
    r.labels.emplace_back(label, cls);
}

const GIFExtensionClass* FindExtensionClass(uint8_t label) {
    Registries& r = registries();
    std::lock_guard<std::mutex> guard(r.lock);
    for (auto it = r.labels.rbegin(); it != r.labels.rend(); ++it)
        if (it->first == label)
            return it->second;
    return nullptr;
}

void RegisterAppExtension(const std::array<uint8_t, 11>& identifier, const GIFExtensionClass* cls) {
    Registries& r = registries();
    std::lock_guard<std::mutex> guard(r.lock);
    r.applications.emplace_back(identifier, cls);
}

const GIFExtensionClass* FindAppExtensionClass(const uint8_t* identifier) {
    Registries& r = registries();
    std::lock_guard<std::mutex> guard(r.lock);
    for (auto it = r.applications.rbegin(); it != r.applications.rend(); ++it)
        if (std::memcmp(it->first.data(), identifier, 11) == 0)
            return it->second;
    return nullptr;
}

const GIFExtensionClass TGIFGraphicControlExtension::Class = {"TGIFGraphicControlExtension",
                                                              make<TGIFGraphicControlExtension>, resolveSelf};
const GIFExtensionClass TGIFApplicationExtension::Class = {
    "TGIFApplicationExtension", make<TGIFApplicationExtension>, resolveApplication};
const GIFExtensionClass TGIFAppExtNSLoop::Class = {"TGIFAppExtNSLoop", make<TGIFAppExtNSLoop>, resolveSelf};
const GIFExtensionClass TGIFUnknownAppExtension::Class = {"TGIFUnknownAppExtension",
                                                          make<TGIFUnknownAppExtension>, resolveSelf};
const GIFExtensionClass TGIFCommentExtension::Class = {"TGIFCommentExtension", make<TGIFCommentExtension>,
                                                       resolveSelf};
const GIFExtensionClass TGIFTextExtension::Class = {"TGIFTextExtension", make<TGIFTextExtension>,
                                                    resolveSelf};

// ---- TGIFExtensionList ----

TGIFExtensionList::~TGIFExtensionList() {
    Clear();
}

TGIFExtension& TGIFExtensionList::Items(int index) const {
    if (index < 0 || index >= Count())
        throw ListIndexError(listIndexMessage(index));
    return *m_items[static_cast<size_t>(index)];
}

int TGIFExtensionList::Append(std::unique_ptr<TGIFExtension> extension) {
    if (!extension)
        throw GIFException(GifMessages::UnsupportedObject);
    if (extension->SubImage() != m_frame)
        throw GIFException(GifMessages::ExtensionOfAnotherFrame);
    m_items.push_back(std::move(extension));
    return Count() - 1;
}

void TGIFExtensionList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw ListIndexError(listIndexMessage(index));
    // Out of the list before it is destroyed.
    std::unique_ptr<TGIFExtension> extension = std::move(m_items[static_cast<size_t>(index)]);
    m_items.erase(m_items.begin() + index);
}

void TGIFExtensionList::Clear() {
    while (!m_items.empty()) {
        std::unique_ptr<TGIFExtension> extension = std::move(m_items.back());
        m_items.pop_back();
    }
}

void TGIFExtensionList::ReportWarning(GIFSeverity severity, const std::string& message) const {
    if (m_frame)
        m_frame->ReportWarning(severity, message);
}

void TGIFExtensionList::SaveToStream(Stream& stream) const {
    for (const auto& extension : m_items)
        extension->SaveToStream(stream);
}

void TGIFExtensionList::LoadFromStream(Stream& stream) {
    uint8_t b;
    if (!readByte(stream, b))
        return;
    while (b != 0x2C && b != 0x3B) {
        if (b != 0x21) {
            ReportWarning(GIFSeverity::Warning, GifMessages::BadExtensionIntroducer);
            return;
        }
        // The class, from the label and, for application blocks, the identifier; the position
        // is restored afterwards.
        const uint64_t start = stream.position();
        const GIFExtensionClass* cls = nullptr;
        uint8_t label;
        if (readByte(stream, label)) {
            cls = FindExtensionClass(label);
            if (cls && cls->resolve)
                cls = cls->resolve(cls, stream);
        }
        stream.seek(start);
        if (!cls)
            throw GIFException(GifMessages::UnknownExtension);
        stream.seek(start - 1); // back over the introducer
        std::unique_ptr<TGIFExtension> extension = cls->create(m_frame);
        extension->LoadFromStream(stream); // on failure the extension is destroyed
        Append(std::move(extension));
        if (!readByte(stream, b))
            return;
    }
    stream.seek(stream.position() - 1); // back over the separator or trailer
}

// ---- TGIFExtension ----

TGIFExtension::TGIFExtension(TGIFSubImage* frame)
    : TGIFItem(frame ? frame->Document() : nullptr), m_frame(frame) {}

void TGIFExtension::SaveToStream(Stream& stream) const {
    const uint8_t head[2] = {0x21, ExtensionLabel()}; // Extension Introducer and label
    stream.write(head, 2);
}

void TGIFExtension::LoadFromStream(Stream& stream) {
    if (readByteOrFail(stream) != 0x21)
        throw GIFException(GifMessages::BadExtensionIntroducer);
    if (readByteOrFail(stream) != ExtensionLabel())
        throw GIFException(GifMessages::ExtensionLabelMismatch);
}

// ---- TGIFGraphicControlExtension ----

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* frame) : TGIFExtension(frame) {
    if (m_frame && !m_frame->m_graphicControl)
        m_frame->m_graphicControl = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
    if (!m_frame)
        return;
    if (Transparent())
        m_frame->m_transparent = false;
    if (m_frame->m_graphicControl == this)
        m_frame->m_graphicControl = nullptr;
}

void TGIFGraphicControlExtension::SetTransparent(bool on) {
    m_packed = static_cast<uint8_t>(on ? m_packed | 1 : m_packed & ~1);
    if (m_frame)
        m_frame->m_transparent = on;
}

void TGIFGraphicControlExtension::SaveToStream(Stream& stream) const {
    TGIFExtension::SaveToStream(stream);
    const uint8_t block[6] = {
        m_blockSize,        m_packed,    static_cast<uint8_t>(m_delay), static_cast<uint8_t>(m_delay >> 8),
        m_transparentIndex, m_terminator};
    stream.write(block, sizeof block);
}

void TGIFGraphicControlExtension::LoadFromStream(Stream& stream) {
    TGIFExtension::LoadFromStream(stream);
    // Six bytes as they stand, whatever the block size byte says; a short block keeps what was
    // read.
    uint8_t block[6] = {
        m_blockSize,        m_packed,    static_cast<uint8_t>(m_delay), static_cast<uint8_t>(m_delay >> 8),
        m_transparentIndex, m_terminator};
    const size_t n = stream.read(block, sizeof block);
    m_blockSize = block[0];
    m_packed = block[1];
    m_delay = static_cast<uint16_t>(block[2] | (block[3] << 8));
    m_transparentIndex = block[4];
    m_terminator = block[5];
    if (n < sizeof block) {
        ReportWarning(GIFSeverity::Warning, GifMessages::OutOfData);
        return;
    }
    if (Transparent() && m_frame)
        m_frame->m_transparent = true;
}

// ---- TGIFApplicationExtension ----

void TGIFApplicationExtension::SetIdentifier(const std::string& identifier) {
    m_identifier.fill(0);
    std::memcpy(m_identifier.data(), identifier.data(), std::min<size_t>(11, identifier.size()));
}

void TGIFApplicationExtension::SaveToStream(Stream& stream) const {
    TGIFExtension::SaveToStream(stream);
    writeByte(stream, 11);
    stream.write(m_identifier.data(), 11);
    WriteSubBlocks(stream);
    writeByte(stream, 0);
}

void TGIFApplicationExtension::LoadFromStream(Stream& stream) {
    TGIFExtension::LoadFromStream(stream);
    const uint8_t size = readByteOrFail(stream);
    if (size < 11 && size != 10)
        throw GIFException(GifMessages::BadAppExtensionSize);
    uint8_t identifier[11];
    if (stream.read(identifier, 11) != 11)
        throw GIFException(GifMessages::OutOfData);
    std::memcpy(m_identifier.data(), identifier, 11);
    // A 10-byte block has read one byte of its sub-blocks with the identifier: step back.
    skip(stream, int64_t(size) - 11);
    ReadSubBlocks(stream);
}

void TGIFApplicationExtension::WriteSubBlocks(Stream&) const {}

void TGIFApplicationExtension::ReadSubBlocks(Stream&) {
    // Only a block whose size byte is neither 10 nor 11 stays of this class: its layout is not
    // known, so it cannot be read.
    throw GIFException(GifMessages::BadAppExtensionSize);
}

// ---- TGIFAppExtNSLoop ----

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {
    SetIdentifier("NETSCAPE2.0");
}

void TGIFAppExtNSLoop::WriteSubBlocks(Stream& stream) const {
    // Looping sub-block: id 1, loop count.
    const uint8_t loop[4] = {3, 1, static_cast<uint8_t>(m_loopCount), static_cast<uint8_t>(m_loopCount >> 8)};
    stream.write(loop, sizeof loop);
    // Buffering sub-block: id 2, buffer size; only when set.
    if (m_bufferBytes != 0) {
        const uint8_t buffer[6] = {5,
                                   2,
                                   static_cast<uint8_t>(m_bufferBytes),
                                   static_cast<uint8_t>(m_bufferBytes >> 8),
                                   static_cast<uint8_t>(m_bufferBytes >> 16),
                                   static_cast<uint8_t>(m_bufferBytes >> 24)};
        stream.write(buffer, sizeof buffer);
    }
}

void TGIFAppExtNSLoop::ReadSubBlocks(Stream& stream) {
    uint8_t size;
    while (readByte(stream, size) && size != 0) {
        const uint8_t id = readByteOrFail(stream);
        int left = size - 1;
        if ((id & 7) == 1) {
            if (left < 2)
                throw GIFException(GifMessages::InvalidData);
            uint8_t v[2];
            if (stream.read(v, 2) != 2)
                throw GIFException(GifMessages::OutOfData);
            m_loopCount = static_cast<uint16_t>(v[0] | (v[1] << 8));
            left -= 2;
        } else if ((id & 7) == 2) {
            if (left < 4)
                throw GIFException(GifMessages::InvalidData);
            uint8_t v[4];
            if (stream.read(v, 4) != 4)
                throw GIFException(GifMessages::OutOfData);
            m_bufferBytes =
                uint32_t(v[0]) | (uint32_t(v[1]) << 8) | (uint32_t(v[2]) << 16) | (uint32_t(v[3]) << 24);
            left -= 4;
        }
        skip(stream, left); // the rest of the sub-block
    }
}

// ---- TGIFUnknownAppExtension ----

void TGIFUnknownAppExtension::WriteSubBlocks(Stream& stream) const {
    for (const TGIFBlock& block : m_blocks) {
        writeByte(stream, static_cast<uint8_t>(block.Data.size()));
        stream.write(block.Data.data(), block.Data.size());
    }
}

void TGIFUnknownAppExtension::ReadSubBlocks(Stream& stream) {
    m_blocks.clear();
    uint8_t size;
    while (readByte(stream, size) && size != 0) {
        TGIFBlock block;
        block.Data.resize(size);
        if (stream.read(block.Data.data(), size) != size)
            throw GIFException(GifMessages::OutOfData);
        m_blocks.push_back(std::move(block));
    }
}

// ---- TGIFCommentExtension, TGIFTextExtension ----

void TGIFCommentExtension::SaveToStream(Stream& stream) const {
    TGIFExtension::SaveToStream(stream);
    writeLines(stream, m_lines);
}

void TGIFCommentExtension::LoadFromStream(Stream& stream) {
    TGIFExtension::LoadFromStream(stream);
    readLines(stream, m_lines);
}

TGIFTextExtension::TGIFTextExtension(TGIFSubImage* frame) : TGIFExtension(frame) {
    m_header[0] = 12;
}

void TGIFTextExtension::SaveToStream(Stream& stream) const {
    TGIFExtension::SaveToStream(stream);
    stream.write(m_header.data(), m_header.size());
    writeLines(stream, m_lines);
}

void TGIFTextExtension::LoadFromStream(Stream& stream) {
    TGIFExtension::LoadFromStream(stream);
    if (stream.read(m_header.data(), m_header.size()) != m_header.size())
        throw GIFException(GifMessages::OutOfData);
    readLines(stream, m_lines);
}

} // namespace kelvara
