// Shared helpers of the tests.
#include "support/TestUtil.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <vector>

namespace kelvara::test {

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvara-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("cannot make a scratch folder");
    m_path = buffer.data();
}

ScratchDir::~ScratchDir() {
    if (std::getenv("KELVARA_KEEP_SCRATCH"))
        return; // left for inspection
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string cachedFixtureDir(const std::string& key,
                             const std::function<bool(const std::string& dir)>& make) {
    namespace fs = std::filesystem;
    char name[32];
    std::snprintf(name, sizeof name, "fixtures-%016zx", std::hash<std::string>{}(key));
    const fs::path cache = KELVARA_TEST_CACHE_DIR;
    const fs::path dir = cache / name;
    if (fs::is_directory(dir))
        return dir.string();
    fs::create_directories(cache);
    // Made under a name of its own and renamed into place whole, so that a process running at the
    // same time never sees a half-made folder; when two make it, the first rename wins.
    std::string pattern = (cache / (std::string(name) + ".making-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("cannot make a folder under " + cache.string());
    const fs::path making = buffer.data();
    // A folder with a fixture missing serves this process only (the tests that need the fixture
    // fail and say which); the next process tries again.
    if (!make(making.string()))
        return making.string();
    std::error_code ignored;
    fs::rename(making, dir, ignored);
    if (ignored)
        fs::remove_all(making, ignored);
    return dir.string();
}

void copyFolderFiles(const std::string& from, const std::string& to) {
    for (const auto& entry : std::filesystem::directory_iterator(from))
        if (entry.is_regular_file())
            std::filesystem::copy_file(entry.path(), std::filesystem::path(to) / entry.path().filename());
}

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

ProcessResult runProcess(const std::string& commandLine) {
    ScratchDir dir;
    std::string outFile = dir.file("out"), errFile = dir.file("err");
    int status = std::system(
        ("( " + commandLine + " ) >" + shellQuoted(outFile) + " 2>" + shellQuoted(errFile) + " </dev/null")
            .c_str());
    ProcessResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto slurp = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    };
    result.out = slurp(outFile);
    result.err = slurp(errFile);
    return result;
}

std::string samplePath(const std::string& name) {
    return std::string(KELVARA_SAMPLES_DIR) + "/" + name;
}

bool samplesAvailable() {
    return std::filesystem::exists(samplePath("skimage-gradient.avi"));
}

void makeCodecFixture(const std::string& path, const std::string& codec, int width, int height, int frames,
                      bool audio) {
    std::ostringstream cmd;
    cmd << "ffmpeg -v error -y -f lavfi -i testsrc=size=" << width << "x" << height << ":rate=25";
    if (audio)
        cmd << " -f lavfi -i sine=frequency=440:sample_rate=22050";
    cmd << " -frames:v " << frames << " -c:v " << codec;
    if (codec == "msvideo1" || codec == "msrle")
        cmd << " -pix_fmt " << (codec == "msrle" ? "pal8" : "rgb555le");
    if (codec == "mpeg4")
        cmd << " -g 5";
    if (audio)
        cmd << " -c:a pcm_s16le -shortest";
    cmd << " " << shellQuoted(path);
    ProcessResult r = runProcess(cmd.str());
    if (r.exitCode != 0)
        throw std::runtime_error("ffmpeg could not make the fixture: " + r.err);
}

std::vector<int64_t> ffprobePacketPositions(const std::string& path) {
    ProcessResult r = runProcess(
        "ffprobe -v error -select_streams v:0 -show_entries packet=dts -of csv=p=0 " + shellQuoted(path));
    std::vector<int64_t> positions;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
            positions.push_back(std::stoll(line));
    std::sort(positions.begin(), positions.end());
    return positions;
}

std::vector<std::vector<uint8_t>> ffmpegFramesBgr(const std::string& path, int width, int height) {
    ScratchDir dir;
    std::string raw = dir.file("frames.bgr");
    ProcessResult r =
        runProcess("ffmpeg -v error -y -i " + shellQuoted(path) +
                   " -map 0:v:0 -vsync passthrough -f rawvideo -pix_fmt bgr24 " + shellQuoted(raw));
    if (r.exitCode != 0)
        throw std::runtime_error("ffmpeg could not decode: " + r.err);
    std::ifstream in(raw, std::ios::binary);
    std::vector<std::vector<uint8_t>> frames;
    const size_t frameBytes = size_t(width) * height * 3;
    std::vector<uint8_t> frame(frameBytes);
    while (in.read(reinterpret_cast<char*>(frame.data()), frameBytes))
        frames.push_back(frame);
    return frames;
}

std::vector<uint8_t> bgrBytes(const Bitmap& bitmap) {
    std::vector<uint8_t> out;
    out.reserve(size_t(bitmap.Width()) * bitmap.Height() * 3);
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            Color c = bitmap.pixel(x, y);
            out.push_back(uint8_t(blueOf(c)));
            out.push_back(uint8_t(greenOf(c)));
            out.push_back(uint8_t(redOf(c)));
        }
    return out;
}

} // namespace kelvara::test
