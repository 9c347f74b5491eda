// A tiny writer of uncompressed AVI files, for deterministic test fixtures.
#include "support/AviWriter.h"

#include "raster/Stream.h"

#include <gtest/gtest.h>

namespace kelvara::test {

namespace {

struct Out {
    std::vector<uint8_t> bytes;
    void u8(uint32_t v) { bytes.push_back(uint8_t(v)); }
    void u16(uint32_t v) {
        u8(v);
        u8(v >> 8);
    }
    void u32(uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void tag(const char* t) { bytes.insert(bytes.end(), t, t + 4); }
    void raw(const std::vector<uint8_t>& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
    // Starts a chunk; returns where its size goes.
    size_t begin(const char* id) {
        tag(id);
        size_t at = bytes.size();
        u32(0);
        return at;
    }
    void end(size_t at) {
        uint32_t size = uint32_t(bytes.size() - at - 4);
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = uint8_t(size >> (8 * i));
        if (size & 1)
            u8(0);
    }
};

} // namespace

std::vector<uint8_t> encodeRle8(const std::vector<uint8_t>& pixels, int width, int height) {
    std::vector<uint8_t> out;
    for (int y = height - 1; y >= 0; --y) {
        const uint8_t* row = pixels.data() + size_t(y) * width;
        for (int x = 0; x < width;) {
            int run = 1;
            while (x + run < width && run < 255 && row[x + run] == row[x])
                ++run;
            out.push_back(uint8_t(run));
            out.push_back(row[x]);
            x += run;
        }
        out.push_back(0);
        out.push_back(y == 0 ? 1 : 0);
    }
    return out;
}

void writeAvi(const std::string& path, const AviFixture& f) {
    const size_t stride = ((size_t(f.width) * f.bitCount + 31) / 32) * 4;
    const uint32_t imageSize = f.compression == 1 ? 0 : uint32_t(stride * f.height);
    Out o;
    size_t riff = o.begin("RIFF");
    o.tag("AVI ");
    size_t hdrl = o.begin("LIST");
    o.tag("hdrl");
    // Main AVI header.
    size_t avih = o.begin("avih");
    o.u32(f.rate ? uint32_t(uint64_t(1000000) * f.scale / f.rate) : 0);
    o.u32(0);
    o.u32(0);
    o.u32(0x10); // AVIF_HASINDEX
    o.u32(uint32_t(f.frames.size()));
    o.u32(0);
    o.u32(1);
    o.u32(imageSize);
    o.u32(uint32_t(f.width));
    o.u32(uint32_t(f.height));
    for (int i = 0; i < 4; ++i)
        o.u32(0);
    o.end(avih);
    size_t strl = o.begin("LIST");
    o.tag("strl");
    // Stream header.
    size_t strh = o.begin("strh");
    o.tag("vids");
    o.u32(0); // handler: uncompressed DIB
    o.u32(0);
    o.u16(0);
    o.u16(0);
    o.u32(0);
    o.u32(f.scale);
    o.u32(f.rate);
    o.u32(0);
    o.u32(uint32_t(f.frames.size()));
    o.u32(imageSize);
    o.u32(0xFFFFFFFF);
    o.u32(0);
    o.u16(0);
    o.u16(0);
    o.u16(uint32_t(f.width));
    o.u16(uint32_t(f.height));
    o.end(strh);
    // Stream format: DIB information header, then masks or colour table.
    size_t strf = o.begin("strf");
    o.u32(40);
    o.u32(uint32_t(f.width));
    o.u32(uint32_t(f.height));
    o.u16(1);
    o.u16(uint32_t(f.bitCount));
    o.u32(f.compression);
    o.u32(imageSize);
    o.u32(0);
    o.u32(0);
    o.u32(uint32_t(f.palette.size()));
    o.u32(0);
    if (f.compression == 3) {
        o.u32(f.masks.red);
        o.u32(f.masks.green);
        o.u32(f.masks.blue);
    }
    for (const PaletteEntry& e : f.palette) {
        o.u8(e.blue);
        o.u8(e.green);
        o.u8(e.red);
        o.u8(0);
    }
    if (f.formatBytes && o.bytes.size() - strf - 4 > f.formatBytes)
        o.bytes.resize(strf + 4 + f.formatBytes);
    o.end(strf);
    if (!f.writeFormat)
        o.bytes.resize(strf - 4); // take the whole chunk out again
    o.end(strl);
    o.end(hdrl);
    size_t movi = o.begin("LIST");
    size_t moviData = o.bytes.size();
    o.tag("movi");
    struct IndexEntry {
        uint32_t offset, size, flags;
    };
    std::vector<IndexEntry> index;
    for (const auto& frame : f.frames) {
        IndexEntry e{uint32_t(o.bytes.size() - moviData), uint32_t(frame.size()), frame.empty() ? 0u : 0x10u};
        size_t chunk = o.begin("00db");
        o.raw(frame);
        o.end(chunk);
        index.push_back(e);
    }
    o.end(movi);
    size_t idx1 = o.begin("idx1");
    for (const IndexEntry& e : index) {
        o.tag("00db");
        o.u32(e.flags);
        o.u32(e.offset);
        o.u32(e.size);
    }
    o.end(idx1);
    o.end(riff);
    writeFileAtomically(path, o.bytes.data(), o.bytes.size());
}

void claimAviFormatSize(const std::string& path, int32_t width, int32_t height) {
    std::vector<uint8_t> bytes = readFile(path);
    const std::string text(bytes.begin(), bytes.end());
    const size_t strf = text.find("strf");
    ASSERT_NE(strf, std::string::npos);
    for (int k = 0; k < 4; ++k) {
        bytes[strf + 12 + k] = uint8_t(uint32_t(width) >> (8 * k));
        bytes[strf + 16 + k] = uint8_t(uint32_t(height) >> (8 * k));
    }
    writeFileAtomically(path, bytes.data(), bytes.size());
}

} // namespace kelvara::test
