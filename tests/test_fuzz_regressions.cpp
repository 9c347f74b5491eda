// The inputs the fuzzers found, kept in tests/fuzz/regressions/TARGET/, replayed through the same
// entries as the fuzz targets: each ends in a picture or an error within seconds.
#include "fuzz/FuzzEntries.h"
#include "raster/Stream.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>

using namespace kelvara;

TEST(FuzzRegressions, KeptInputsEndInAPictureOrAnError) {
    test::ScratchDir scratch;
    const std::string avi = scratch.file("input.avi");
    using Entry = std::function<void(const uint8_t*, size_t)>;
    auto still = [](PictureFileType type) {
        return [type](const uint8_t* d, size_t n) { fuzz::stillImage(type, d, n); };
    };
    const std::map<std::string, Entry> entries = {
        {"picture_reader", fuzz::pictureReader},
        {"bmp", fuzz::bmp},
        {"gif_document", fuzz::gifDocument},
        {"frame_source", [&](const uint8_t* d, size_t n) { fuzz::frameSource(d, n, avi); }},
        {"pcx", still(PictureFileType::Pcx)},
        {"targa", still(PictureFileType::Targa)},
        {"gif_picture", still(PictureFileType::Gif)},
        {"tiff", still(PictureFileType::Tiff)},
        {"anymap", still(PictureFileType::PortableAnymap)},
        {"icon", still(PictureFileType::Icon)},
    };
    int replayed = 0;
    for (const auto& folder : std::filesystem::directory_iterator(KELVARA_FUZZ_REGRESSIONS_DIR)) {
        const std::string target = folder.path().filename().string();
        ASSERT_TRUE(entries.count(target)) << "no fuzz target " << target;
        for (const auto& file : std::filesystem::directory_iterator(folder.path())) {
            SCOPED_TRACE(file.path().string());
            const std::vector<uint8_t> bytes = readFile(file.path().string());
            // A hang ends at the test's time limit; the speed of each entry is the fuzzers' and the
            // benchmarks' to judge, not a clock's here.
            entries.at(target)(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0);
}
