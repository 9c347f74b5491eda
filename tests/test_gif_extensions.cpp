// The extension reader: registries, every exception and warning on truncated or garbage bytes,
// a random-bytes fuzz of it and of the whole-file reader, and the regression inputs kept from it.
#include "gif/GifDocument.h"
#include "raster/Stream.h"
#include "support/GifDecode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>

using namespace kelvara;

namespace {

struct Reading {
    std::unique_ptr<TGIFDocument> doc = std::make_unique<TGIFDocument>();
    std::unique_ptr<TGIFSubImage> frame;
    std::vector<std::string> warnings;
    std::string error; // the exception's message, empty if none
    uint64_t position = 0;

    explicit Reading(const std::vector<uint8_t>& bytes) {
        doc->SetWarningHandler([this](GIFSeverity, const std::string& m) { warnings.push_back(m); });
        frame = std::make_unique<TGIFSubImage>(doc.get());
        MemoryStream stream(bytes);
        try {
            frame->Extensions().LoadFromStream(stream);
        } catch (const GIFException& e) {
            error = e.what();
        }
        position = stream.position();
        EXPECT_LE(position, bytes.size());
        EXPECT_EQ(stream.size(), bytes.size()); // never grown by a seek
    }
    int count() const { return frame->Extensions().Count(); }
    TGIFExtension& at(int i) const { return frame->Extensions().Items(i); }
};

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> text(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

const std::vector<uint8_t> Gce = {0x21, 0xF9, 0x04, 0x00, 0x0A, 0x00, 0x00, 0x00};
const std::vector<uint8_t> Loop =
    cat({{0x21, 0xFF, 0x0B}, text("NETSCAPE2.0"), {0x03, 0x01, 0x05, 0x00, 0x00}});

} // namespace

TEST(GifExtensionReader, Registries) {
    EXPECT_EQ(FindExtensionClass(0x01), &TGIFTextExtension::Class);
    EXPECT_EQ(FindExtensionClass(0xF9), &TGIFGraphicControlExtension::Class);
    EXPECT_EQ(FindExtensionClass(0xFE), &TGIFCommentExtension::Class);
    EXPECT_EQ(FindExtensionClass(0xFF), &TGIFApplicationExtension::Class);
    EXPECT_EQ(FindExtensionClass(0x02), nullptr);
    EXPECT_EQ(FindAppExtensionClass(reinterpret_cast<const uint8_t*>("NETSCAPE2.0")),
              &TGIFAppExtNSLoop::Class);
    EXPECT_EQ(FindAppExtensionClass(reinterpret_cast<const uint8_t*>("ANIMEXTS1.0")),
              &TGIFAppExtNSLoop::Class);
    EXPECT_EQ(FindAppExtensionClass(reinterpret_cast<const uint8_t*>("NETSCAPE2.1")), nullptr);
    // The last registration of a label wins.
    RegisterExtension(0x77, &TGIFCommentExtension::Class);
    RegisterExtension(0x77, &TGIFTextExtension::Class);
    EXPECT_EQ(FindExtensionClass(0x77), &TGIFTextExtension::Class);
}

TEST(GifExtensionReader, ReadsUntilSeparatorOrTrailerAndStepsBack) {
    Reading a(cat({Loop, Gce, {0x2C, 1, 2, 3}}));
    EXPECT_EQ(a.error, "");
    ASSERT_EQ(a.count(), 2);
    auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(&a.at(0));
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->LoopCount(), 5);
    auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(&a.at(1));
    ASSERT_NE(gce, nullptr);
    EXPECT_EQ(gce->DelayHundredths(), 10);
    EXPECT_EQ(a.position, Loop.size() + Gce.size());
    EXPECT_EQ(a.frame->GraphicControlExtension(), gce);

    Reading t(cat({Gce, {0x3B}}));
    EXPECT_EQ(t.count(), 1);
    EXPECT_EQ(t.position, Gce.size());

    Reading empty(std::vector<uint8_t>{});
    EXPECT_EQ(empty.count(), 0);
    EXPECT_EQ(empty.error, "");

    Reading end(Gce);
    EXPECT_EQ(end.count(), 1);
    EXPECT_TRUE(end.warnings.empty());
}

TEST(GifExtensionReader, GarbageWhereAnExtensionIsExpected) {
    Reading a(cat({Gce, {0x00, 0x21, 0xF9}}));
    EXPECT_EQ(a.count(), 1);
    EXPECT_EQ(a.error, "");
    EXPECT_EQ(a.warnings, std::vector<std::string>{GifMessages::BadExtensionIntroducer});
}

TEST(GifExtensionReader, UnknownLabel) {
    Reading a(cat({Gce, {0x21, 0x55, 0x00}}));
    EXPECT_EQ(a.error, GifMessages::UnknownExtension);
    EXPECT_EQ(a.count(), 1); // the frame keeps what was read before
    Reading b({0x21});
    EXPECT_EQ(b.error, GifMessages::UnknownExtension);
}

TEST(GifExtensionReader, TruncatedGraphicControlKeepsWhatWasRead) {
    Reading a({0x21, 0xF9, 0x04, 0x05, 0x2A});
    EXPECT_EQ(a.error, "");
    EXPECT_EQ(a.warnings, std::vector<std::string>{GifMessages::OutOfData});
    ASSERT_EQ(a.count(), 1);
    auto& gce = dynamic_cast<TGIFGraphicControlExtension&>(a.at(0));
    EXPECT_EQ(gce.Packed(), 0x05);
    EXPECT_EQ(gce.DelayHundredths(), 0x2A);
    EXPECT_FALSE(a.frame->Transparent()); // not looked at in a short block

    Reading b({0x21, 0xF9, 0x09, 0x01, 0x00, 0x00, 0x07, 0x00});
    EXPECT_TRUE(b.warnings.empty());
    EXPECT_TRUE(b.frame->Transparent());
    EXPECT_EQ(dynamic_cast<TGIFGraphicControlExtension&>(b.at(0)).BlockSize(), 9); // as it stood
}

TEST(GifExtensionReader, ApplicationBlockSizes) {
    Reading small({0x21, 0xFF, 0x05, 1, 2, 3, 4, 5, 0});
    EXPECT_EQ(small.error, GifMessages::BadAppExtensionSize);
    EXPECT_EQ(small.count(), 0);

    Reading large(cat({{0x21, 0xFF, 0x0C}, text("NETSCAPE2.0"), {0x00, 0x00}}));
    EXPECT_EQ(large.error, GifMessages::BadAppExtensionSize);

    // A 10-byte block: an unknown application whose identifier swallowed one sub-block byte.
    Reading ten(cat({{0x21, 0xFF, 0x0A}, text("ABCDEFGHIJ"), {0x02, 0x07, 0x08, 0x00, 0x3B}}));
    EXPECT_EQ(ten.error, "");
    ASSERT_EQ(ten.count(), 1);
    auto& unknown = dynamic_cast<TGIFUnknownAppExtension&>(ten.at(0));
    ASSERT_EQ(unknown.Blocks().size(), 1u);
    EXPECT_EQ(unknown.Blocks()[0].Data, (std::vector<uint8_t>{0x07, 0x08}));
    EXPECT_EQ(unknown.Identifier()[10], 0x02);

    Reading other(cat({{0x21, 0xFF, 0x0B}, text("XYZWVUTS1.0"), {0x01, 0x09, 0x00}}));
    ASSERT_EQ(other.count(), 1);
    EXPECT_NE(dynamic_cast<TGIFUnknownAppExtension*>(&other.at(0)), nullptr);

    Reading anim(cat({{0x21, 0xFF, 0x0B}, text("ANIMEXTS1.0"), {0x03, 0x01, 0x02, 0x01, 0x00}}));
    ASSERT_EQ(anim.count(), 1);
    EXPECT_EQ(dynamic_cast<TGIFAppExtNSLoop&>(anim.at(0)).LoopCount(), 0x102);
}

TEST(GifExtensionReader, LoopSubBlocks) {
    const auto head = cat({{0x21, 0xFF, 0x0B}, text("NETSCAPE2.0")});
    Reading shortLoop(cat({head, {0x02, 0x01, 0x05, 0x00}}));
    EXPECT_EQ(shortLoop.error, GifMessages::InvalidData);
    Reading shortBuffer(cat({head, {0x03, 0x02, 0x05, 0x00, 0x00}}));
    EXPECT_EQ(shortBuffer.error, GifMessages::InvalidData);

    Reading both(cat(
        {head, {0x05, 0x02, 0x10, 0x20, 0x30, 0x40, 0x04, 0x09, 0x03, 0x00, 0xEE, 0x02, 0x05, 0xAA, 0x00}}));
    EXPECT_EQ(both.error, "");
    auto& loop = dynamic_cast<TGIFAppExtNSLoop&>(both.at(0));
    EXPECT_EQ(loop.BufferBytes(), 0x40302010u);
    EXPECT_EQ(loop.LoopCount(), 3); // id 9: (9 AND 7) = 1; the extra byte is skipped
    EXPECT_EQ(both.position, head.size() + 15);

    Reading cut(cat({head, {0x03, 0x01, 0x05}}));
    EXPECT_EQ(cut.error, GifMessages::OutOfData);
    Reading cutId(cat({head, {0x03}}));
    EXPECT_EQ(cutId.error, GifMessages::OutOfData);
    Reading noTerminator(cat({head, {0x03, 0x01, 0x05, 0x00}}));
    EXPECT_EQ(noTerminator.error, "");
    EXPECT_EQ(noTerminator.count(), 1);
}

TEST(GifExtensionReader, TruncatedIdentifierAndData) {
    Reading id({0x21, 0xFF, 0x0B, 'N', 'E', 'T'});
    EXPECT_EQ(id.error, GifMessages::OutOfData);
    Reading size({0x21, 0xFF});
    EXPECT_EQ(size.error, GifMessages::OutOfData);
    Reading data(cat({{0x21, 0xFF, 0x0B}, text("QQQQQQQQ1.0"), {0x09, 0x01}}));
    EXPECT_EQ(data.error, GifMessages::OutOfData);
    Reading comment({0x21, 0xFE, 0x05, 'a', 'b'});
    EXPECT_EQ(comment.error, GifMessages::OutOfData);
    Reading plain({0x21, 0x01, 0x0C, 0, 0, 0});
    EXPECT_EQ(plain.error, GifMessages::OutOfData);
}

TEST(GifExtensionReader, CommentAndPlainTextRoundTrip) {
    const auto bytes = cat({{0x21, 0xFE, 0x03},
                            text("abc"),
                            {0x02},
                            text("de"),
                            {0x00},
                            {0x21, 0x01, 0x0C, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x01, 'z', 0x00}});
    Reading r(bytes);
    EXPECT_EQ(r.error, "");
    ASSERT_EQ(r.count(), 2);
    EXPECT_EQ(dynamic_cast<TGIFCommentExtension&>(r.at(0)).Lines(), (std::vector<std::string>{"abc", "de"}));
    EXPECT_EQ(dynamic_cast<TGIFTextExtension&>(r.at(1)).Lines(), (std::vector<std::string>{"z"}));
    MemoryStream out;
    r.frame->Extensions().SaveToStream(out);
    EXPECT_EQ(out.bytes(), bytes);
}

TEST(GifExtensionReader, ExtensionChecksItsIntroducerAndLabel) {
    TGIFDocument doc;
    TGIFSubImage frame(&doc);
    TGIFCommentExtension comment(&frame);
    MemoryStream wrongLabel(std::vector<uint8_t>{0x21, 0xF9, 0x00});
    try {
        comment.LoadFromStream(wrongLabel);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::ExtensionLabelMismatch);
    }
    MemoryStream wrongIntroducer(std::vector<uint8_t>{0x2C, 0xFE, 0x00});
    try {
        comment.LoadFromStream(wrongIntroducer);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::BadExtensionIntroducer);
    }
}

TEST(GifExtensionList, OwnsItsFramesExtensionsAndRefusesOthers) {
    TGIFDocument doc;
    TGIFSubImage frame(&doc), other(&doc);
    auto foreign = std::make_unique<TGIFGraphicControlExtension>(&other);
    try {
        frame.Extensions().Append(std::move(foreign));
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::ExtensionOfAnotherFrame);
    }
    EXPECT_THROW(frame.Extensions().Append(nullptr), GIFException);
    EXPECT_EQ(frame.Extensions().Count(), 0);
    // The refused block was destroyed: the other frame has no graphic control block left.
    EXPECT_EQ(other.GraphicControlExtension(), nullptr);

    auto control = std::make_unique<TGIFGraphicControlExtension>(&frame);
    control->SetTransparent(true);
    frame.Extensions().Append(std::move(control));
    frame.Extensions().Append(std::make_unique<TGIFCommentExtension>(&frame));
    ASSERT_EQ(frame.Extensions().Count(), 2);
    EXPECT_TRUE(frame.Transparent());
    // Deleting the graphic control block takes its record and the transparency with it.
    frame.Extensions().Delete(0);
    EXPECT_EQ(frame.Extensions().Count(), 1);
    EXPECT_EQ(frame.GraphicControlExtension(), nullptr);
    EXPECT_FALSE(frame.Transparent());
    EXPECT_NE(dynamic_cast<TGIFCommentExtension*>(&frame.Extensions().Items(0)), nullptr);
}

namespace {

// Random inputs biased toward the bytes the reader looks at.
std::vector<uint8_t> randomExtensionBytes(std::mt19937& rng) {
    static const std::vector<std::vector<uint8_t>> pieces = {
        {0x21},
        {0x21, 0xF9},
        {0x21, 0xFF},
        {0x21, 0xFE},
        {0x21, 0x01},
        {0x0B},
        {0x0A},
        {0x2C},
        {0x3B},
        {0x00},
        cat({{0x0B}, text("NETSCAPE2.0")}),
        cat({{0x0B}, text("ANIMEXTS1.0")}),
        {0x03, 0x01},
        {0x05, 0x02},
        Gce,
        Loop,
    };
    std::vector<uint8_t> out;
    const int parts = static_cast<int>(rng() % 12);
    for (int i = 0; i < parts; ++i) {
        if (rng() % 3 == 0) {
            const int n = static_cast<int>(rng() % 6);
            for (int k = 0; k < n; ++k)
                out.push_back(static_cast<uint8_t>(rng()));
        } else {
            const auto& p = pieces[rng() % pieces.size()];
            out.insert(out.end(), p.begin(), p.end());
        }
    }
    // Cut or flip a byte now and then.
    if (!out.empty() && rng() % 4 == 0)
        out.resize(rng() % out.size());
    if (!out.empty() && rng() % 4 == 0)
        out[rng() % out.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    return out;
}

void readWholeFile(const std::vector<uint8_t>& bytes) {
    TGIFDocument doc;
    doc.SetWarningHandler([](GIFSeverity, const std::string&) {});
    MemoryStream stream(bytes);
    try {
        doc.LoadFromStream(stream);
    } catch (const Error&) {
        return;
    }
    // Whatever was read can be written again (or says why not).
    MemoryStream out;
    try {
        doc.SaveToStream(out);
    } catch (const GIFException&) {
    }
}

// How long the fuzz runs: KELVARA_FUZZ_SECONDS, else a short default for every test run.
double fuzzSeconds() {
    const char* s = std::getenv("KELVARA_FUZZ_SECONDS");
    return s ? std::atof(s) : 1.0;
}

} // namespace

TEST(GifExtensionReader, RandomBytesNeverCrash) {
    std::mt19937 rng(20240611);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(fuzzSeconds());
    int runs = 0;
    while (std::chrono::steady_clock::now() < deadline || runs < 2000) {
        const auto bytes = randomExtensionBytes(rng);
        Reading r(bytes); // only GIFException may leave the reader; bounds are checked inside
        if (!r.error.empty()) {
            const std::string& e = r.error;
            EXPECT_TRUE(e == GifMessages::UnknownExtension || e == GifMessages::BadExtensionIntroducer ||
                        e == GifMessages::ExtensionLabelMismatch || e == GifMessages::BadAppExtensionSize ||
                        e == GifMessages::InvalidData || e == GifMessages::OutOfData)
                << e;
        }
        // Whatever was read is written and read again without error; after one rewrite the
        // bytes are stable (the first rewrite may change a block's class, see the regressions).
        MemoryStream out;
        r.frame->Extensions().SaveToStream(out);
        Reading again(out.bytes());
        EXPECT_EQ(again.error, "");
        MemoryStream out2;
        again.frame->Extensions().SaveToStream(out2);
        Reading third(out2.bytes());
        MemoryStream out3;
        third.frame->Extensions().SaveToStream(out3);
        EXPECT_EQ(out3.bytes(), out2.bytes());
        ++runs;
    }
}

TEST(GifFileReader, RandomBytesNeverCrash) {
    // Valid files cut and flipped at random.
    TGIFDocument source;
    source.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    source.SetDitherKind(GifDitherKind::FloydSteinberg);
    auto a = kelvara::test::gradientNoiseFrame(23, 17, 1);
    source.AddFrame(*a);
    auto loop = std::make_unique<TGIFAppExtNSLoop>(&source.Frame(0));
    source.Frame(0).Extensions().Append(std::move(loop));
    MemoryStream s;
    source.SaveToStream(s);
    const std::vector<uint8_t> valid = s.bytes();
    std::mt19937 rng(7);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(fuzzSeconds());
    int runs = 0;
    while (std::chrono::steady_clock::now() < deadline || runs < 500) {
        std::vector<uint8_t> bytes = valid;
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < flips; ++i)
            bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
        if (rng() % 3 == 0)
            bytes.resize(rng() % bytes.size());
        readWholeFile(bytes);
        ++runs;
    }
}

// Inputs at the edges of the reader's skips and short reads.
TEST(GifExtensionReader, EdgeInputs) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::string error;
    };
    const Case cases[] = {
        // A forward skip past the end of a memory stream must not make it grow; the block size
        // leaves the base class, whose sub-blocks cannot be read.
        {cat({{0x21, 0xFF, 0xF0}, text("NETSCAPE2.0")}), GifMessages::BadAppExtensionSize},
        // The loop sub-block skip past the end.
        {cat({{0x21, 0xFF, 0x0B}, text("NETSCAPE2.0"), {0xFF, 0x07}}), ""},
        // A 10-byte block right at the end: the step back lands on the identifier's last byte,
        // read again as a sub-block size.
        {cat({{0x21, 0xFF, 0x0A}, text("ABCDEFGHIJK")}), GifMessages::OutOfData},
        // Introducer and label with nothing after them.
        {{0x21, 0xF9}, ""},
        {{0x21, 0xFE}, ""},
        {{0x21, 0x01}, GifMessages::OutOfData},
    };
    for (const Case& c : cases) {
        Reading r(c.bytes);
        EXPECT_EQ(r.error, c.error);
    }
}

// Found by the random-bytes test: a 10-byte application block whose identifier, completed by
// the byte it swallows, reads "NETSCAPE2.0". It is read as an unknown application; written
// again it has a block size of 11, so reading that (as the copy does) finds the looping block.
// Intended: the copy re-reads extensions through the reader exactly as a file would be read.
TEST(GifExtensionReader, FuzzRegressionTenByteBlockBecomesLoop) {
    std::vector<uint8_t> data(48, 0x00);
    data[0] = 0x01; // loop sub-block id
    data[1] = 0x07; // loop count 7
    const auto bytes = cat({{0x21, 0xFF, 0x0A}, text("NETSCAPE2.0"), data, {0x00}});
    Reading first(bytes);
    EXPECT_EQ(first.error, "");
    ASSERT_EQ(first.count(), 1);
    auto* unknown = dynamic_cast<TGIFUnknownAppExtension*>(&first.at(0));
    ASSERT_NE(unknown, nullptr);
    ASSERT_EQ(unknown->Blocks().size(), 1u);
    EXPECT_EQ(unknown->Blocks()[0].Data.size(), 48u);
    MemoryStream out;
    first.frame->Extensions().SaveToStream(out);
    Reading second(out.bytes());
    ASSERT_EQ(second.count(), 1);
    auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(&second.at(0));
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->LoopCount(), 7);
}

std::string loadMessage(const std::vector<uint8_t>& bytes) {
    TGIFDocument doc;
    MemoryStream in(bytes);
    try {
        doc.LoadFromStream(in);
    } catch (const GIFException& e) {
        return e.what();
    }
    return "";
}

TEST(GifFileReader, FramesTheirDataCannotFillAreRefused) {
    // A valid file of 16 frames of 4 x 4 pixels with a few bytes of codes each, every image
    // descriptor then set to 4096 x 4096: no frame's data could fill it, so the file is refused
    // before a frame is allocated, whatever the frame's size.
    TGIFDocument source;
    source.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    source.SetDitherKind(GifDitherKind::FloydSteinberg);
    for (int i = 0; i < 16; ++i)
        source.AddFrame(*kelvara::test::gradientNoiseFrame(4, 4, i));
    MemoryStream saved;
    source.SaveToStream(saved);
    const std::vector<uint8_t> valid = saved.bytes();
    ASSERT_EQ(loadMessage(valid), "");
    std::vector<uint8_t> claiming = valid;
    int descriptors = 0;
    for (size_t at = 13; at + 10 <= claiming.size(); ++at) {
        // Each frame: a descriptor at (0, 0), 4 x 4, with a 256-entry local table.
        const uint8_t descriptor[10] = {0x2C, 0, 0, 0, 0, 4, 0, 4, 0, 0x87};
        if (std::memcmp(&claiming[at], descriptor, 10) != 0)
            continue;
        claiming[at + 6] = claiming[at + 8] = 0x10;
        ++descriptors;
    }
    ASSERT_EQ(descriptors, 16);
    EXPECT_EQ(loadMessage(claiming), GifMessages::OutOfData);

    // A small frame too: 100 x 100 pixels from the one byte of codes of a 4 x 4 frame.
    std::vector<uint8_t> small = {'G', 'I', 'F', '8', '9', 'a', 100, 0, 100, 0, 0x00, 0, 0};
    const std::vector<uint8_t> frame = {0x2C, 0, 0, 0, 0, 100, 0, 100, 0, 0x00, 0x02, 0x01, 0x05, 0x00, 0x3B};
    small.insert(small.end(), frame.begin(), frame.end());
    EXPECT_EQ(loadMessage(small), GifMessages::OutOfData);

    // With data enough to fill them, two frames still may not hold more pixels together than
    // one picture may: 16384 x 8192 and 16384 x 8193, each with 16 KiB of codes.
    std::vector<uint8_t> filled = {'G', 'I', 'F', '8', '9', 'a', 0, 0x40, 0x01, 0x20, 0x00, 0, 0};
    for (uint8_t heightLow = 0; heightLow < 2; ++heightLow) {
        const std::vector<uint8_t> descriptor = {0x2C, 0, 0, 0, 0, 0, 0x40, heightLow, 0x20, 0x00, 0x02};
        filled.insert(filled.end(), descriptor.begin(), descriptor.end());
        for (int block = 0; block < 64; ++block) {
            filled.push_back(0xFF);
            filled.insert(filled.end(), 255, 0x00);
        }
        filled.push_back(0x00);
    }
    filled.push_back(0x3B);
    EXPECT_EQ(loadMessage(filled), GifMessages::ImageTooLarge);
}
