// Tests of videos with an alpha channel: their GIFs are transparent exactly where the source is
// (every quality, stored as changes, fitted under a size, written as made, backward), as ffmpeg
// plays them; their PNG and TGA frames keep the alpha channel; AVI files stay opaque; and the
// canvas copies carry the alpha plane.
#include "convert/AviToGif.h"
#include "raster/Bitmap.h"
#include "raster/Stream.h"
#include "support/GifDecode.h"
#include "support/GifJobSupport.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace kelvara;
using namespace kelvara::test;

namespace {

constexpr int W = 40, H = 30, Frames = 7;

struct Argb {
    uint8_t a, r, g, b;
};

// Frame k of the clip: a transparent field hiding green; a band just below half alpha (blue, to
// be transparent) beside one at half (yellow, to show); a row whose alpha climbs from 10 to 244;
// an opaque red square moving right, so that each frame leaves pixels the one before showed; and
// a last frame that shows nothing at all.
Argb sourcePixel(int k, int x, int y) {
    if (k == Frames - 1)
        return {0, 0, 200, 0};
    Argb p{0, 0, 200, 0};
    if (x >= 30 && x < 33)
        p = {127, 0, 0, 255};
    if (x >= 33 && x < 36)
        p = {128, 255, 255, 0};
    if (y == 25)
        p = {uint8_t(10 + 6 * x), 0, 0, 255};
    const int left = 2 + 5 * k;
    if (x >= left && x < left + 8 && y >= 10 && y < 18)
        p = {255, 255, 0, 0};
    return p;
}

std::string cli(const std::string& args) {
    return shellQuoted(KELVARA_CLI_PATH) + " " + args;
}

// The clip encoded by ffmpeg with the codec's arguments (ARGB rows in, 10 frames a second).
std::string makeClip(const ScratchDir& dir, const std::string& name, const std::string& codecArgs) {
    const std::string raw = dir.file(name + ".argb");
    {
        std::ofstream out(raw, std::ios::binary);
        for (int k = 0; k < Frames; ++k)
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const Argb p = sourcePixel(k, x, y);
                    const char bytes[4] = {char(p.a), char(p.r), char(p.g), char(p.b)};
                    out.write(bytes, 4);
                }
    }
    const std::string path = dir.file(name);
    const ProcessResult r = runProcess("ffmpeg -v error -y -f rawvideo -pix_fmt argb -s " +
                                       std::to_string(W) + "x" + std::to_string(H) + " -r 10 -i " +
                                       shellQuoted(raw) + " " + codecArgs + " " + shellQuoted(path));
    if (r.exitCode != 0)
        throw std::runtime_error("ffmpeg could not make " + name + ": " + r.err);
    return path;
}

// Every picture ffmpeg makes of a file, as RGBA rows top-down; a GIF is played with its
// transparency and disposal.
std::vector<std::vector<uint8_t>> ffmpegRgba(const std::string& path, int width, int height,
                                             const std::string& inputArgs = "") {
    ScratchDir dir;
    const std::string raw = dir.file("frames.rgba");
    const ProcessResult r =
        runProcess("ffmpeg -v error -y " + inputArgs + " -i " + shellQuoted(path) +
                   " -map 0:v:0 -vsync passthrough -f rawvideo -pix_fmt rgba " + shellQuoted(raw));
    if (r.exitCode != 0)
        throw std::runtime_error("ffmpeg could not decode " + path + ": " + r.err);
    std::ifstream in(raw, std::ios::binary);
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> frame(size_t(width) * size_t(height) * 4);
    while (in.read(reinterpret_cast<char*>(frame.data()), std::streamsize(frame.size())))
        frames.push_back(frame);
    return frames;
}

// Compares a played GIF frame with the crop of the source frame: transparent exactly where the
// source alpha is below half, the source's colour everywhere else. Returns the first difference,
// or "".
std::string compareWithSource(const std::vector<uint8_t>& shown, const std::vector<uint8_t>& source,
                              const Rect& crop = {0, 0, W, H}) {
    for (size_t i = 0; i < size_t(crop.width()) * size_t(crop.height()); ++i) {
        const int x = int(i % size_t(crop.width())), y = int(i / size_t(crop.width()));
        const uint8_t* s = source.data() + 4 * (size_t(y + crop.top) * W + size_t(x + crop.left));
        const uint8_t* g = shown.data() + 4 * i;
        const bool transparent = s[3] < 128;
        const std::string where = "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")";
        if (transparent && g[3] != 0)
            return where + " should be transparent, shows alpha " + std::to_string(g[3]);
        if (!transparent && (g[3] != 255 || g[0] != s[0] || g[1] != s[1] || g[2] != s[2]))
            return where + " shows " + std::to_string(g[0]) + "," + std::to_string(g[1]) + "," +
                   std::to_string(g[2]) + "," + std::to_string(g[3]) + " for " + std::to_string(s[0]) + "," +
                   std::to_string(s[1]) + "," + std::to_string(s[2]);
    }
    return "";
}

class SilentObserver : public JobObserver {
public:
    void setProgressRange(int, int) override {}
    void setProgressPosition(int) override {}
};

class VideoAlpha : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new ScratchDir;
        s_qtrle = makeClip(*s_dir, "argb.mov", "-c:v qtrle");
        s_pngMov = makeClip(*s_dir, "rgba.mov", "-c:v png -pix_fmt rgba");
        s_source = ffmpegRgba(s_qtrle, W, H);
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }

    static ScratchDir* s_dir;
    static std::string s_qtrle, s_pngMov;
    static std::vector<std::vector<uint8_t>> s_source; // ffmpeg's RGBA pictures of the clip
};
ScratchDir* VideoAlpha::s_dir = nullptr;
std::string VideoAlpha::s_qtrle, VideoAlpha::s_pngMov;
std::vector<std::vector<uint8_t>> VideoAlpha::s_source;

} // namespace

TEST_F(VideoAlpha, TheClipHasPixelsOnBothSidesOfHalf) {
    ASSERT_EQ(s_source.size(), size_t(Frames));
    int below = 0, above = 0;
    for (size_t i = 0; i < size_t(W) * H; ++i) {
        const uint8_t a = s_source[0][4 * i + 3];
        below += a == 127;
        above += a == 128;
    }
    EXPECT_GT(below, 0);
    EXPECT_GT(above, 0);
}

TEST_F(VideoAlpha, GifsAreTransparentExactlyWhereTheSourceIs) {
    struct Case {
        const char* name;
        std::string video;
        std::string args;
        bool optimized;
        bool backward;
        Rect crop = {0, 0, W, H};
    };
    const Case cases[] = {
        {"classic", s_qtrle, "", false, false},
        {"high", s_qtrle, "--quality high", false, false},
        {"classic, optimized", s_qtrle, "--optimize", true, false},
        {"high, optimized", s_qtrle, "--quality high --optimize", true, false},
        {"level 40, optimized", s_qtrle, "--quality 40 --optimize", true, false},
        {"classic under a size", s_qtrle, "--max-size 100K", true, false},
        {"high under a size", s_qtrle, "--quality high --max-size 100K", true, false},
        {"backward", s_qtrle, "--backward", false, true},
        // Each frame's change is then opaque, yet the frame is cleared after it shows.
        {"cropped, optimized", s_qtrle, "--crop 10,5,40,30 --optimize", true, false, {10, 5, 40, 30}},
        {"png in mov", s_pngMov, "", false, false},
        {"png in mov, optimized", s_pngMov, "--quality high --optimize", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string gif = s_dir->file("out.gif");
        const ProcessResult r = runProcess(cli("gif " + shellQuoted(c.video) + " -o " + shellQuoted(gif) +
                                               " " + c.args + " --overwrite --quiet"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // giflib: every frame keeps a transparent entry that the frame's table holds; a frame
        // drawn whole is cleared after it shows.
        const GiflibImage image = decodeWithGiflib(readFile(gif));
        ASSERT_EQ(image.frames.size(), size_t(Frames));
        for (const GiflibFrame& f : image.frames) {
            ASSERT_TRUE(f.hasGraphicControl);
            EXPECT_GE(f.transparentIndex, 0);
            EXPECT_LT(f.transparentIndex, int(f.colors.size()));
            if (!c.optimized) {
                EXPECT_EQ(f.disposal, 2);
            }
        }
        // ffmpeg plays every frame transparent where the source is, the source's colours
        // elsewhere: nothing of a frame before shows through.
        const std::vector<std::vector<uint8_t>> shown = ffmpegRgba(gif, c.crop.width(), c.crop.height());
        ASSERT_EQ(shown.size(), size_t(Frames));
        for (int k = 0; k < Frames; ++k) {
            const std::vector<uint8_t>& source = s_source[size_t(c.backward ? Frames - 1 - k : k)];
            EXPECT_EQ(compareWithSource(shown[size_t(k)], source, c.crop), "") << "frame " << k;
        }
    }
}

TEST_F(VideoAlpha, AGifStoredAsChangesWhileItIsMadeIsTransparentWhereTheSourceIs) {
    // Long GIFs with --optimize take this way: each change stored as the next frame comes.
    for (const GifQuality quality : {GifQuality::Classic, GifQuality::High}) {
        AviToGifOptions options = optionsFor(s_qtrle);
        options.build.quality = quality;
        options.build.optimize = true;
        options.threads = 2;
        MemoryStream out;
        SilentObserver observer;
        const AviToGifResult result = streamAviToGif(options, out, observer);
        ASSERT_EQ(result.outcome, AviToGifOutcome::Built);
        const std::string gif = s_dir->file("streamed.gif");
        std::ofstream(gif, std::ios::binary)
            .write(reinterpret_cast<const char*>(out.bytes().data()), std::streamsize(out.size()));
        const std::vector<std::vector<uint8_t>> shown = ffmpegRgba(gif, W, H);
        ASSERT_EQ(shown.size(), size_t(Frames));
        for (int k = 0; k < Frames; ++k)
            EXPECT_EQ(compareWithSource(shown[size_t(k)], s_source[size_t(k)]), "") << "frame " << k;
    }
}

TEST_F(VideoAlpha, PngAndTgaFramesKeepTheAlphaChannel) {
    const std::string folder = s_dir->file("frames");
    for (const char* format : {"png", "tga"}) {
        SCOPED_TRACE(format);
        ProcessResult r =
            runProcess(cli("frames " + shellQuoted(s_qtrle) + " --format " + format +
                           " --range 2-4 --out-dir " + shellQuoted(folder) + " --overwrite --quiet"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        for (int n = 2; n <= 4; ++n) {
            const std::vector<std::vector<uint8_t>> picture =
                ffmpegRgba(folder + "/frame" + std::to_string(n) + "." + format, W, H);
            ASSERT_EQ(picture.size(), 1u);
            EXPECT_EQ(picture[0], s_source[size_t(n - 1)]) << "frame " << n;
        }
        const std::string one = s_dir->file(std::string("one.") + format);
        r = runProcess(cli("frame " + shellQuoted(s_pngMov) + " 5 -o " + shellQuoted(one) + " --overwrite"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<std::vector<uint8_t>> picture = ffmpegRgba(one, W, H);
        ASSERT_EQ(picture.size(), 1u);
        EXPECT_EQ(picture[0], s_source[4]);
    }
    // ImageMagick reads a 32-bit TGA with an alpha channel.
    const ProcessResult tga =
        runProcess("identify -format '%z %[channels]' " + shellQuoted(s_dir->file("one.tga")));
    EXPECT_EQ(tga.out, "8 srgba") << tga.err;
}

TEST_F(VideoAlpha, AviFilesStayOpaque) {
    // The same RGBA pictures in an AVI file: its frames keep every byte they always had, so the
    // alpha channel is left out.
    const std::string avi = makeClip(*s_dir, "rgba.avi", "-c:v png -pix_fmt rgba");
    const std::string png = s_dir->file("avi.png");
    ProcessResult r =
        runProcess(cli("frame " + shellQuoted(avi) + " 2 -o " + shellQuoted(png) + " --overwrite"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runProcess("identify -format '%[channels]' " + shellQuoted(png));
    EXPECT_EQ(r.out, "srgb") << r.err;
    const std::string gif = s_dir->file("avi.gif");
    r = runProcess(cli("gif " + shellQuoted(avi) + " -o " + shellQuoted(gif) + " --overwrite --quiet"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const GiflibFrame& f : decodeWithGiflib(readFile(gif)).frames) {
        EXPECT_EQ(f.transparentIndex, -1);
        EXPECT_EQ(f.disposal, 0);
    }
}

TEST_F(VideoAlpha, Vp9AlphaIsReadAsLibvpxDecodesIt) {
    // FFmpeg's own VP9 decoder drops the alpha channel a WebM file carries; libvpx's gives it.
    std::string webm;
    try {
        webm = makeClip(*s_dir, "alpha.webm", "-c:v libvpx-vp9 -pix_fmt yuva420p -lossless 1");
    } catch (const std::exception& e) {
        GTEST_SKIP() << e.what();
    }
    const std::vector<std::vector<uint8_t>> reference = ffmpegRgba(webm, W, H, "-c:v libvpx-vp9");
    ASSERT_EQ(reference.size(), size_t(Frames));
    const std::string png = s_dir->file("vp9.png");
    ProcessResult r =
        runProcess(cli("frame " + shellQuoted(webm) + " 3 -o " + shellQuoted(png) + " --overwrite"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::vector<uint8_t>> picture = ffmpegRgba(png, W, H);
    ASSERT_EQ(picture.size(), 1u);
    int worst = 0;
    for (size_t i = 0; i < size_t(W) * H; ++i) {
        EXPECT_EQ(picture[0][4 * i + 3], reference[2][4 * i + 3]) << "alpha of pixel " << i;
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(picture[0][4 * i + c] - reference[2][4 * i + c]));
    }
    // The colours are converted from YUV by another path than ffmpeg's command line takes.
    EXPECT_LE(worst, 4);
    const std::string gif = s_dir->file("vp9.gif");
    r = runProcess(
        cli("gif " + shellQuoted(webm) + " -o " + shellQuoted(gif) + " --optimize --overwrite --quiet"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::vector<uint8_t>> shown = ffmpegRgba(gif, W, H);
    ASSERT_EQ(shown.size(), size_t(Frames));
    for (int k = 0; k < Frames; ++k)
        for (size_t i = 0; i < size_t(W) * H; ++i)
            ASSERT_EQ(shown[size_t(k)][4 * i + 3], reference[size_t(k)][4 * i + 3] < 128 ? 0 : 255)
                << "frame " << k << ", pixel " << i;
}

TEST(RasterAlpha, CanvasCopiesCarryTheAlphaPlane) {
    // A 4 x 3 picture whose alpha is 10 x + y.
    Bitmap source;
    source.SetPixelFormat(PixelFormat::Bits24);
    source.SetSize(4, 3);
    std::vector<uint8_t> plane;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            plane.push_back(uint8_t(10 * x + y));
    source.setAlphaPlane(plane);
    auto alphaAt = [](const Bitmap& b, int x, int y) { return int(b.alphaPlane()[y * b.Width() + x]); };

    // Drawn at an offset onto an opaque picture: the covered pixels take the source's alpha.
    Bitmap canvas;
    canvas.SetPixelFormat(PixelFormat::Bits24);
    canvas.SetSize(6, 5);
    EXPECT_FALSE(canvas.hasAlpha());
    canvas.Canvas().Draw(1, 1, source);
    ASSERT_TRUE(canvas.hasAlpha());
    EXPECT_EQ(alphaAt(canvas, 0, 0), 255);
    EXPECT_EQ(alphaAt(canvas, 1, 1), 0);
    EXPECT_EQ(alphaAt(canvas, 4, 3), 32);
    EXPECT_EQ(alphaAt(canvas, 5, 4), 255);

    // A crop copied at its size.
    Bitmap crop;
    crop.SetPixelFormat(PixelFormat::Bits24);
    crop.SetSize(2, 2);
    crop.Canvas().CopyRect({0, 0, 2, 2}, source.Canvas(), {2, 1, 4, 3});
    ASSERT_TRUE(crop.hasAlpha());
    EXPECT_EQ(alphaAt(crop, 0, 0), 21);
    EXPECT_EQ(alphaAt(crop, 1, 1), 32);

    // An opaque picture drawn over it, a filled rectangle and a larger size make pixels opaque;
    // the rest keeps its alpha.
    Bitmap opaque;
    opaque.SetPixelFormat(PixelFormat::Bits24);
    opaque.SetSize(1, 1);
    canvas.Canvas().Draw(2, 1, opaque);
    EXPECT_EQ(alphaAt(canvas, 2, 1), 255);
    EXPECT_EQ(alphaAt(canvas, 3, 1), 20);
    canvas.Canvas().FillRect({3, 1, 4, 2});
    EXPECT_EQ(alphaAt(canvas, 3, 1), 255);
    crop.SetSize(3, 2);
    EXPECT_EQ(alphaAt(crop, 1, 1), 32);
    EXPECT_EQ(alphaAt(crop, 2, 0), 255);

    // A shared picture is copied before its plane changes.
    Bitmap shared;
    shared.Assign(source);
    shared.setAlphaPlane({});
    EXPECT_FALSE(shared.hasAlpha());
    EXPECT_EQ(alphaAt(source, 3, 2), 32);
}
