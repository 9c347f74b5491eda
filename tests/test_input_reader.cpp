// Tests of the picture reader: every row of the extension table read from files ImageMagick wrote,
// compared pixel for pixel with what ImageMagick decodes; seeded random damage of each of our own
// readers; headers that ask for too much; and the decoders the reader hands files to.
#include "input/PictureReader.h"
#include "raster/Error.h"
#include "raster/Stream.h"

#include "support/InputFixtures.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

using namespace kelvara;
using namespace kelvara::test;

namespace {

constexpr int PatternWidth = 37, PatternHeight = 23;

struct Written {
    const char* name;      // the file written
    const char* arguments; // convert's arguments between the pattern and the file
    int tolerance;         // largest channel difference allowed against ImageMagick's decode
};

// One file per kind of picture each reader must read. Lossless formats must match exactly.
const Written WrittenFiles[] = {
    {"plain.gif", "", 0},
    {"interlaced.gif", "-interlace GIF", 0},
    {"grey.gif", "-colorspace Gray", 0},
    {"transparent.gif", "-alpha set -channel A -fx 'i<10?0:1' +channel", 0},
    {"true.pcx", "", 0},
    {"palette.pcx", "-type Palette", 0},
    {"mono.pcx", "-monochrome", 0},
    {"sixteen.pcx", "-colors 16", 0},
    {"true.tga", "", 0},
    {"rle.tga", "-compress RLE", 0},
    {"palette.tga", "-type Palette", 0},
    {"grey.tga", "-type Grayscale", 0},
    {"true.icb", "", 0},
    {"icon.ico", "-resize 32x32!", 0},
    {"palette.ico", "-resize 16x16! -colors 16", 0},
    {"png.ico", "-resize 256x256!", 0},
    {"transparent.ico", "-resize 48x48! -alpha set -channel A -fx 'i<20?0:1' +channel", 0},
    {"cursor.cur", "-resize 32x32!", 0},
    {"raw.ppm", "", 0},
    {"plain.ppm", "-compress none", 0},
    {"raw.pgm", "-colorspace Gray", 0},
    {"plain.pgm", "-colorspace Gray -compress none", 0},
    {"raw.pbm", "-monochrome", 0},
    {"plain.pbm", "-monochrome -compress none", 0},
    {"deep.ppm", "-depth 16", 1},
    {"pixmap.pxm", "-format ppm", 0},
    {"none.tif", "-compress None", 0},
    {"lzw.tif", "-compress LZW", 0},
    {"zip.tif", "-compress Zip", 0},
    {"predictor.tif", "-compress LZW -define tiff:predictor=2", 0},
    {"packbits.tiff", "-compress RLE", 0},
    {"bigendian.tif", "-compress LZW -endian MSB", 0},
    {"grey.tif", "-colorspace Gray -compress LZW", 0},
    // 16-bit colour maps come down to 8 bits by slightly different roundings in each decoder.
    {"palette.tif", "-type Palette -compress LZW", 1},
    {"bilevel.tif", "-monochrome -compress None", 0},
    {"cmyk.tif", "-colorspace CMYK -compress LZW", 2},
    {"group4.tif", "-monochrome -compress Group4", 0},
    {"group3.tif", "-monochrome -compress Fax", 0},
    {"jpeg.tif", "-compress JPEG", 0},
    {"tiled.tif", "-compress LZW -define tiff:tile-geometry=16x16", 0},
    {"deep.tif", "-depth 16 -compress None", 1},
    {"alpha.tif", "-alpha set -channel A -fx 'i/w' +channel -compress LZW", 1},
    {"greyalpha.tif", "-colorspace Gray -alpha set -channel A -fx 'j/h' +channel", 1},
    {"alphatiled.tif", "-alpha set -channel A -fx 'i/w' +channel -define tiff:tile-geometry=16x16", 1},
    {"picture.png", "", 0},
    {"palette.png", "-type Palette PNG8:", 0},
    {"grey.png", "-colorspace Gray", 0},
    {"deep.png", "-depth 16 PNG48:", 1},
    {"interlaced.png", "-interlace PNG", 0},
    {"alpha.png", "-alpha set -channel A -fx 'i/w' +channel PNG32:", 1},
    {"photo.jpg", "-quality 90", 0},
    {"grey.jpeg", "-colorspace Gray", 0},
    {"cmyk.jpe", "-colorspace CMYK", 2},
    {"file.jp2", "", 1},
    {"stream.j2k", "", 1},
    {"stream.jpc", "", 1},
    {"stream.j2c", "", 1},
    {"v3.bmp", "BMP3:", 0},
    {"picture.dib", "BMP3:", 0},
    // ImageMagick runs its RLE8 rows on into the row padding, which the bitmap decoder refuses;
    // a width of a multiple of four has none.
    {"rle8.rle", "-crop 36x23+0+0 +repage -type Palette -compress RLE BMP3:", 0},
};

class InputReader : public ::testing::Test {
protected:
    // The files ImageMagick writes are made once per build and copied into each process's own
    // folder, where tests add files of their own.
    static void SetUpTestSuite() {
        s_dir = std::make_unique<ScratchDir>();
        s_pattern = s_dir->file("pattern.ppm");
        writePatternPpm(s_pattern, PatternWidth, PatternHeight);
        const std::vector<uint8_t> pattern = readFile(s_pattern);
        std::string key = "input-reader\n" + runProcess("convert -version").out;
        key.append(pattern.begin(), pattern.end());
        for (const Written& w : WrittenFiles)
            key += std::string("\n") + w.name + " " + w.arguments;
        const std::string made = cachedFixtureDir(key, [&](const std::string& dir) {
            bool all = true;
            for (const Written& w : WrittenFiles) {
                std::string args = w.arguments;
                std::string target = dir + "/" + w.name;
                // A "FORMAT:" at the end of the arguments prefixes the output file.
                std::string prefix;
                if (!args.empty() && args.back() == ':') {
                    size_t space = args.find_last_of(' ');
                    prefix = space == std::string::npos ? args : args.substr(space + 1);
                    args = space == std::string::npos ? "" : args.substr(0, space);
                }
                if (std::string(w.name).ends_with(".pxm"))
                    prefix = "ppm:";
                all = imageMagickConvert(shellQuoted(s_pattern) + " " + args + " " +
                                         shellQuoted(prefix + target)) &&
                      all;
            }
            return all;
        });
        copyFolderFiles(made, s_dir->path());
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    static std::string path(const char* name) { return s_dir->file(name); }

    static std::unique_ptr<ScratchDir> s_dir;
    static std::string s_pattern;
};

std::unique_ptr<ScratchDir> InputReader::s_dir;
std::string InputReader::s_pattern;

} // namespace

TEST_F(InputReader, ReadsWhatImageMagickWritesToTheSamePixels) {
    for (const Written& w : WrittenFiles) {
        SCOPED_TRACE(w.name);
        int width = 0, height = 0;
        const std::vector<uint8_t> expected = imageMagickRgb(path(w.name), width, height);
        ASSERT_FALSE(expected.empty()) << "ImageMagick did not write or read " << w.name;
        Bitmap picture;
        try {
            ASSERT_TRUE(readPictureFile(path(w.name), picture));
        } catch (const Error& e) {
            FAIL() << e.what();
        }
        EXPECT_EQ(picture.Width(), width);
        EXPECT_EQ(picture.Height(), height);
        const int difference = maxChannelDifference(picture, expected, width, height);
        EXPECT_GE(difference, 0);
        EXPECT_LE(difference, w.tolerance);
    }
}

// A JPEG's Exif orientation and a TIFF's Orientation tag turn the picture upright, all eight of
// them as ImageMagick's -auto-orient turns them (5 to 8 swap the sides).
TEST_F(InputReader, PicturesAreTurnedByTheirOrientationAsImageMagickDoes) {
    const std::vector<uint8_t> jpeg = readFile(path("photo.jpg"));
    ASSERT_GT(jpeg.size(), 2u);
    // An Exif segment holding one directory with the Orientation entry, big- or little-endian.
    auto exif = [](int orientation, bool little) {
        std::vector<uint8_t> tiff =
            little ? std::vector<uint8_t>{'I',
                                          'I',
                                          42,
                                          0,
                                          8,
                                          0,
                                          0,
                                          0,
                                          1,
                                          0,
                                          0x12,
                                          0x01,
                                          3,
                                          0,
                                          1,
                                          0,
                                          0,
                                          0,
                                          uint8_t(orientation),
                                          0,
                                          0,
                                          0}
                   : std::vector<uint8_t>{'M',  'M',  0, 42, 0, 0, 0, 8, 0, 1,
                                          0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, uint8_t(orientation),
                                          0,    0};
        tiff.insert(tiff.end(), {0, 0, 0, 0}); // no next directory
        std::vector<uint8_t> segment = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
        segment.insert(segment.end(), tiff.begin(), tiff.end());
        const size_t length = segment.size() - 2;
        segment[2] = uint8_t(length >> 8);
        segment[3] = uint8_t(length);
        return segment;
    };
    const char* const tiffNames[] = {"TopLeft", "TopRight", "BottomRight", "BottomLeft",
                                     "LeftTop", "RightTop", "RightBottom", "LeftBottom"};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        std::vector<std::string> files;
        for (bool little : {false, true}) {
            std::vector<uint8_t> bytes(jpeg.begin(), jpeg.begin() + 2);
            const std::vector<uint8_t> segment = exif(orientation, little);
            bytes.insert(bytes.end(), segment.begin(), segment.end());
            bytes.insert(bytes.end(), jpeg.begin() + 2, jpeg.end());
            files.push_back(
                path(("exif" + std::to_string(orientation) + (little ? "le" : "be") + ".jpg").c_str()));
            writeFileAtomically(files.back(), bytes.data(), bytes.size());
        }
        for (const char* compression : {"None", "LZW"}) {
            files.push_back(path(("orient" + std::to_string(orientation) + compression + ".tif").c_str()));
            ASSERT_TRUE(imageMagickConvert(shellQuoted(s_pattern) + " -orient " + tiffNames[orientation - 1] +
                                           " -compress " + compression + " " + shellQuoted(files.back())));
        }
        for (const std::string& file : files) {
            SCOPED_TRACE(file);
            int width = 0, height = 0;
            const std::vector<uint8_t> expected = imageMagickRgb(file, width, height);
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(width, orientation >= 5 ? PatternHeight : PatternWidth);
            Bitmap picture;
            ASSERT_TRUE(readPictureFile(file, picture));
            EXPECT_EQ(maxChannelDifference(picture, expected, width, height), 0);
        }
    }
}

TEST_F(InputReader, ReadsHeaderlessFaxFiles) {
    // ImageMagick writes a fax as bare Group 3 rows 1728 pixels wide; the reference is the same
    // picture written as a bitmap, since ImageMagick reads bare faxes at a page size of its own.
    const std::string reference = path("fax-reference.pbm");
    const std::string page = shellQuoted(s_pattern) + " -monochrome -background white -extent 1728x23 ";
    ASSERT_TRUE(imageMagickConvert(page + shellQuoted(reference)));
    int width = 0, height = 0;
    const std::vector<uint8_t> expected = imageMagickRgb(reference, width, height);
    ASSERT_EQ(width, 1728);
    for (const char* name : {"page.fax", "page.g3n", "page.g3f"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(imageMagickConvert(page + shellQuoted("fax:" + path(name))));
        Bitmap picture;
        ASSERT_TRUE(readPictureFile(path(name), picture));
        EXPECT_EQ(maxChannelDifference(picture, expected, width, height), 0);
    }
}

TEST_F(InputReader, ExtensionsAreComparedInLowerCase) {
    const std::string upper = path("UPPER.GIF");
    std::vector<uint8_t> bytes = readFile(path("plain.gif"));
    writeFileAtomically(upper, bytes.data(), bytes.size());
    Bitmap picture;
    EXPECT_TRUE(readPictureFile(upper, picture));
    EXPECT_EQ(picture.Width(), PatternWidth);
}

TEST_F(InputReader, UnknownExtensionIsNotReadAndKeepsThePicture) {
    Bitmap picture;
    picture.SetPixelFormat(PixelFormat::Bits24);
    picture.SetSize(3, 2);
    picture.setPixel(1, 1, rgbColor(1, 2, 3));
    for (const char* name : {"picture.webp", "noextension", "dir.gif/file"}) {
        EXPECT_FALSE(pictureFileTypeForPath(name).has_value()) << name;
        EXPECT_FALSE(readPictureFile(path(name), picture)) << name;
    }
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.pixel(1, 1), rgbColor(1, 2, 3));
}

TEST_F(InputReader, MetafilesAreRefusedWithAClearMessage) {
    for (const char* name : {"drawing.wmf", "drawing.EMF"}) {
        Bitmap picture;
        try {
            readPictureFile(path(name), picture);
            ADD_FAILURE() << name << " was read";
        } catch (const PictureReadError& e) {
            EXPECT_STREQ(e.what(), PictureReaderMessages::Metafile);
        }
    }
}

TEST_F(InputReader, AFailedReadKeepsThePicture) {
    Bitmap picture;
    picture.SetPixelFormat(PixelFormat::Bits24);
    picture.SetSize(2, 2);
    std::vector<uint8_t> bytes = readFile(path("plain.gif"));
    bytes.resize(bytes.size() / 2);
    EXPECT_THROW(decodePicture(PictureFileType::Gif, bytes.data(), bytes.size(), picture), PictureReadError);
    EXPECT_EQ(picture.Width(), 2);
}

TEST_F(InputReader, HeadersAskingForTooMuchAreRefused) {
    struct Case {
        PictureFileType type;
        std::vector<uint8_t> bytes;
        std::string message;
    };
    auto bytesOf = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    // A GIF whose image claims 65535 x 65535 pixels (GIF89a logical screen and image descriptor).
    std::vector<uint8_t> gif = {'G',  'I',  'F',  '8',  '9',  'a',  0xFF, 0xFF, 0xFF, 0xFF,
                                0x00, 0,    0,    0x2C, 0,    0,    0,    0,    0xFF, 0xFF,
                                0xFF, 0xFF, 0x00, 0x08, 0x01, 0x00, 0x00, 0x3B};
    // A GIF of 4000 x 4000 pixels with one byte of image data.
    std::vector<uint8_t> shortGif = {'G',  'I',  'F',  '8',  '9',  'a',  0xA0, 0x0F, 0xA0, 0x0F,
                                     0x00, 0,    0,    0x2C, 0,    0,    0,    0,    0xA0, 0x0F,
                                     0xA0, 0x0F, 0x00, 0x08, 0x01, 0x00, 0x00, 0x3B};
    // A Targa header of 4000 x 4000 true-colour pixels and no pixels.
    std::vector<uint8_t> tga(18, 0);
    tga[2] = 2;
    tga[12] = tga[14] = 0xA0;
    tga[13] = tga[15] = 0x0F;
    tga[16] = 24;
    // A PCX header of 4000 x 4000 in three planes, run-length encoded, and no pixels.
    std::vector<uint8_t> pcx(128, 0);
    pcx[0] = 10, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8;
    pcx[8] = pcx[10] = 0x9F;
    pcx[9] = pcx[11] = 0x0F;
    pcx[65] = 3;
    pcx[66] = 0xA0, pcx[67] = 0x0F;
    const std::string truncated = " image is truncated";
    const Case cases[] = {
        {PictureFileType::Gif, gif, PictureReaderMessages::tooLarge("GIF", 65535, 65535)},
        {PictureFileType::Gif, shortGif, "GIF" + truncated},
        {PictureFileType::PortableAnymap, bytesOf("P6\n100000 100000\n255\n"),
         PictureReaderMessages::tooLarge("Portable pixmap", 100000, 100000)},
        {PictureFileType::PortableAnymap, bytesOf("P6\n1000 1000\n255\n\x01\x02"),
         "Portable pixmap" + truncated},
        {PictureFileType::Targa, tga, "Targa" + truncated},
        {PictureFileType::Pcx, pcx, "PCX" + truncated},
    };
    for (const Case& c : cases) {
        Bitmap picture;
        try {
            decodePicture(c.type, c.bytes.data(), c.bytes.size(), picture);
            ADD_FAILURE() << c.message << ": read";
        } catch (const PictureReadError& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
}

using Bytes = std::vector<uint8_t>;

// Valid files with a few bytes changed: pictures above the size limit, pictures larger than
// their data could fill, data that ends early, a compression nobody knows and a palette cut
// off. Each is refused at once with its reason, never made into a picture.
TEST_F(InputReader, DamagedFilesAreRefusedNotTurnedIntoPictures) {
    struct Case {
        const char* file;
        std::function<void(Bytes&)> damage;
        std::string message;
    };
    const std::string truncated = " image is truncated";
    const Case cases[] = {
        {"photo.jpg", [](Bytes& b) { setJpegSize(b, 16384, 16384); },
         PictureReaderMessages::tooLarge("JPEG", 16384, 16384)},
        {"photo.jpg", [](Bytes& b) { setJpegSize(b, 8000, 8000); }, "JPEG" + truncated},
        // The scan cut in the middle, the end-of-image marker after it.
        {"photo.jpg",
         [](Bytes& b) {
             b.resize(b.size() * 2 / 3);
             b.insert(b.end(), {0xFF, 0xD9});
         },
         "JPEG" + truncated},
        {"picture.png", [](Bytes& b) { setPngSize(b, 16384, 16384); },
         PictureReaderMessages::tooLarge("PNG", 16384, 16384)},
        {"picture.png", [](Bytes& b) { setPngSize(b, 8000, 8000); }, "PNG" + truncated},
        {"none.tif", [](Bytes& b) { setTiffField(b, 259, 12345); },
         PictureReaderMessages::message("TIFF", PictureReaderMessages::Unsupported)},
        {"zip.tif",
         [](Bytes& b) {
             setTiffField(b, 256, 16384);
             setTiffField(b, 257, 16384);
         },
         PictureReaderMessages::tooLarge("TIFF", 16384, 16384)},
        {"zip.tif",
         [](Bytes& b) {
             setTiffField(b, 256, 8000);
             setTiffField(b, 257, 8000);
             setTiffField(b, 278, 8000);
         },
         "TIFF" + truncated},
        {"group3.tif",
         [](Bytes& b) {
             setTiffField(b, 257, 16000);
             setTiffField(b, 278, 16000);
         },
         "TIFF" + truncated},
        {"palette.pcx", [](Bytes& b) { b.resize(b.size() - 100); }, "PCX" + truncated},
        {"v3.bmp", [](Bytes& b) { b[21] = 0x01; }, PictureReaderMessages::tooLarge("Bitmap", 16777253, 23)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + ": " + c.message);
        Bytes bytes = readFile(path(c.file));
        Bitmap picture;
        ASSERT_NO_THROW(decodePicture(*pictureFileTypeForPath(c.file), bytes.data(), bytes.size(), picture));
        c.damage(bytes);
        try {
            decodePicture(*pictureFileTypeForPath(c.file), bytes.data(), bytes.size(), picture);
            ADD_FAILURE() << "read as a picture";
        } catch (const PictureReadError& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
}

TEST_F(InputReader, RandomDamageGivesAnErrorOrAPictureNeverACrash) {
    // Our own readers, each fed a few thousand damaged copies of files ImageMagick wrote.
    const char* seeds[] = {"plain.gif", "interlaced.gif", "true.pcx",      "palette.pcx", "mono.pcx",
                           "true.tga",  "rle.tga",        "palette.tga",   "icon.ico",    "cursor.cur",
                           "raw.ppm",   "plain.pgm",      "raw.pbm",       "plain.pbm",   "deep.ppm",
                           "none.tif",  "lzw.tif",        "packbits.tiff", "palette.tif", "bilevel.tif",
                           "cmyk.tif",  "predictor.tif"};
    std::mt19937 random(20260105);
    int errors = 0, pictures = 0;
    for (const char* seed : seeds) {
        SCOPED_TRACE(seed);
        const std::vector<uint8_t> original = readFile(path(seed));
        const PictureFileType type = *pictureFileTypeForPath(seed);
        for (int iteration = 0; iteration < 2000; ++iteration) {
            const std::vector<uint8_t> bytes = damaged(original, random);
            Bitmap picture;
            try {
                decodePicture(type, bytes.data(), bytes.size(), picture);
                ++pictures;
                EXPECT_GT(picture.Width(), 0);
                EXPECT_GT(picture.Height(), 0);
            } catch (const Error&) {
                ++errors;
            }
        }
    }
    // Both outcomes occur: damage in the pixels often still decodes, damage in headers does not.
    EXPECT_GT(errors, 0);
    EXPECT_GT(pictures, 0);
}

TEST_F(InputReader, LibraryDecodersRefuseDamagedFiles) {
    // The files handed to libjpeg, libpng, OpenJPEG and libtiff, cut short or with their
    // headers overwritten: an error or a picture, never a crash or a process exit.
    const char* files[] = {"photo.jpg",  "picture.png", "interlaced.png", "file.jp2",
                           "stream.j2k", "group4.tif",  "jpeg.tif",       "tiled.tif"};
    std::mt19937 random(7);
    for (const char* name : files) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> original = readFile(path(name));
        const PictureFileType type = *pictureFileTypeForPath(name);
        std::vector<uint8_t> cut(original.begin(), original.begin() + original.size() / 3);
        Bitmap picture;
        EXPECT_THROW(decodePicture(type, cut.data(), cut.size(), picture), PictureReadError);
        for (int iteration = 0; iteration < 200; ++iteration) {
            const std::vector<uint8_t> bytes = damaged(original, random);
            try {
                decodePicture(type, bytes.data(), bytes.size(), picture);
            } catch (const Error&) {
            }
        }
    }
}
