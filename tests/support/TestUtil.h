// Shared helpers of the tests: scratch folders, running programs, fixtures and decoded frames.
#pragma once

#include "raster/Bitmap.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelvara::test {

// A fresh folder under the system's temporary folder, removed when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A folder of fixtures made once per build and shared by the test processes that need it: the
// first call for a key makes it with make (given a fresh folder; false when something could not
// be made), under the build's test cache; later calls, in this process or another, find it. The
// key names everything the fixtures depend on. A folder make could not complete is not kept for
// the others.
std::string cachedFixtureDir(const std::string& key, const std::function<bool(const std::string& dir)>& make);

// Copies every file of one folder into another.
void copyFolderFiles(const std::string& from, const std::string& to);

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line, capturing standard output and standard error.
ProcessResult runProcess(const std::string& commandLine);
std::string shellQuoted(const std::string& text);

// The path of a sample under the shared samples folder.
std::string samplePath(const std::string& name);
bool samplesAvailable();

// Makes a test video with ffmpeg's test source: codec is an ffmpeg encoder name (mjpeg, mpeg4,
// msrle, msvideo1, rawvideo); a PCM audio track is added when audio is true.
void makeCodecFixture(const std::string& path, const std::string& codec, int width, int height, int frames,
                      bool audio);

// Every picture ffmpeg decodes from the file's first video stream, in display order, as top-down
// BGR rows without padding.
std::vector<std::vector<uint8_t>> ffmpegFramesBgr(const std::string& path, int width, int height);

// The stream positions (chunk numbers) of the first video stream's chunks that hold data.
std::vector<int64_t> ffprobePacketPositions(const std::string& path);

// The picture as tightly packed top-down BGR bytes, whatever its format.
std::vector<uint8_t> bgrBytes(const Bitmap& bitmap);

} // namespace kelvara::test
