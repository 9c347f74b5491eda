// Where a command's output goes, as the user named it: "-" for standard output, else a path that
// OutputFile writes (a file replaced as a whole, the file at the end of a symbolic link, or a
// device or FIFO written straight into).
#pragma once

#include "output/FormatOptions.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvara {
class Bitmap;
class OutputFile;
} // namespace kelvara

namespace kelvara::cli {

inline bool isStandardOutput(const std::string& path) {
    return path == "-";
}

// Before any work: refuses an output that cannot be written (a folder, a missing folder), an
// existing file without --overwrite, and standard output on a terminal.
void checkOutput(const std::string& path, bool overwrite);
// The refusal of a file that exists when --overwrite was not given.
std::string existsMessage(const std::string& path);

// Writes the bytes to the output: standard output, or through an OutputFile.
void writeOutput(const std::string& path, const std::vector<uint8_t>& bytes, bool overwrite);
// The same in steps, for output written as it is made: open, write, then commit (which names a
// file; an output dropped without it leaves nothing behind).
std::unique_ptr<OutputFile> openOutput(const std::string& path, bool overwrite);
void commitOutput(OutputFile& file, const std::string& path);
// Where a job keeps scratch data as large as its output: the output's folder, or empty (the
// system's temporary folder) for standard output, a device or a FIFO.
std::string spillFolder(const std::string& path);

// Where a command's own lines go: standard output, or standard error when the output itself goes
// to standard output ("-", or a name of it such as /dev/stdout).
std::FILE* messageStream(const std::string& output);

// The line that tells what a command wrote, one form for all: "kelvara-cli gif: wrote OUT:
// FACTS", on messageStream(output); nothing with --quiet.
void summary(const std::string& output, const std::string& facts);
// How an output or input is named in messages: "standard output" for "-".
std::string shownName(const std::string& path);

// Reads a picture file of any kind the picture reader reads, by its extension; Error when the
// extension is not one it knows.
void readInputPicture(const std::string& path, Bitmap& picture);

// Runs read, a reading of the picture file path; a picture that cannot be decoded raises the
// reader's message with the file's name in front (errors opening the file name it already).
bool readNamingFile(const std::string& path, const std::function<bool()>& read);

// A still-image format as a name or an extension gives it: JPEG 2000 comes as a JP2 file or a
// bare code stream.
struct FormatChoice {
    StillImageFormat format = StillImageFormat::Bmp;
    bool codeStream = false;
    bool operator==(const FormatChoice&) const = default;
};

// The format of a --format name, compared without regard to case: bmp, jpg (jpeg), gif,
// tif (tiff), pcx, tga (targa), jp2, j2k (the code stream), png. UsageError otherwise.
FormatChoice formatFromName(const std::string& name);
// The format an output's extension names (.bmp .jpg .jpeg .gif .tif .tiff .pcx .tga .jp2 .j2k
// .png, without regard to case); none for another extension or none.
std::optional<FormatChoice> formatFromExtension(const std::string& path);
// The name of a format choice as --format takes it.
std::string formatChoiceName(const FormatChoice& choice);

// The format of a still-image output: from --format when given, which must agree with the
// extension when there is one (.j2k and .jp2 both agree with jp2 and j2k: the name or the
// extension j2k asks for the code stream); else from the extension. UsageError when neither
// tells.
FormatChoice outputFormat(const std::string& output, const std::string& formatName);

// Refuses an output of a GIF-writing command that is named as another picture format:
// "the gif command writes GIF files".
void checkGifOutputName(const std::string& command, const std::string& output);

} // namespace kelvara::cli
