// Writing a command's output and telling its format from its name.
#include "cli/Output.h"
#include "cli/Arguments.h"
#include "cli/Commands.h"

#include "input/PictureReader.h"
#include "output/SaveOptions.h"
#include "raster/Error.h"
#include "raster/Stream.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvara::cli {

namespace {

const std::string& standardOutputName() {
    static const std::string name = "standard output";
    return name;
}

struct NamedFormat {
    const char* name;
    FormatChoice choice;
};

constexpr NamedFormat FormatNames[] = {
    {"bmp", {StillImageFormat::Bmp, false}},     {"jpg", {StillImageFormat::Jpeg, false}},
    {"jpeg", {StillImageFormat::Jpeg, false}},   {"gif", {StillImageFormat::Gif, false}},
    {"tif", {StillImageFormat::Tiff, false}},    {"tiff", {StillImageFormat::Tiff, false}},
    {"pcx", {StillImageFormat::Pcx, false}},     {"tga", {StillImageFormat::Tga, false}},
    {"targa", {StillImageFormat::Tga, false}},   {"jp2", {StillImageFormat::Jpeg2000, false}},
    {"j2k", {StillImageFormat::Jpeg2000, true}}, {"png", {StillImageFormat::Png, false}},
};

} // namespace

std::string existsMessage(const std::string& path) {
    return "\"" + path + "\" exists; use --overwrite to replace it";
}

void checkOutput(const std::string& path, bool overwrite) {
    if (isStandardOutput(path)) {
        if (::isatty(STDOUT_FILENO))
            throw UsageError("standard output is a terminal: redirect it to a file or a pipe, or name a "
                             "file with -o");
        return;
    }
    const OutputPath where = inspectOutputPath(path);
    if (where.kind == OutputPathKind::ExistingFile && !overwrite)
        throw Error(existsMessage(path));
}

std::unique_ptr<OutputFile> openOutput(const std::string& path, bool overwrite) {
    if (isStandardOutput(path))
        return std::make_unique<OutputFile>(STDOUT_FILENO, standardOutputName());
    return std::make_unique<OutputFile>(path, overwrite ? ExistingFile::Replace : ExistingFile::Keep);
}

void commitOutput(OutputFile& file, const std::string& path) {
    try {
        file.commit();
    } catch (const FileExistsError&) {
        throw Error(existsMessage(path)); // it appeared while this run worked
    }
}

void writeOutput(const std::string& path, const std::vector<uint8_t>& bytes, bool overwrite) {
    std::unique_ptr<OutputFile> file = openOutput(path, overwrite);
    file->write(bytes.data(), bytes.size());
    commitOutput(*file, path);
}

std::string spillFolder(const std::string& path) {
    if (isStandardOutput(path))
        return {};
    const OutputPath where = inspectOutputPath(path);
    if (where.kind == OutputPathKind::Direct)
        return {};
    const size_t slash = where.target.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : where.target.substr(0, slash);
}

std::FILE* messageStream(const std::string& output) {
    if (isStandardOutput(output))
        return stderr;
    // The output may be standard output under another name (/dev/stdout, /dev/fd/1).
    struct stat out, named;
    if (::fstat(STDOUT_FILENO, &out) == 0 && ::stat(output.c_str(), &named) == 0 &&
        out.st_dev == named.st_dev && out.st_ino == named.st_ino)
        return stderr;
    return stdout;
}

std::string shownName(const std::string& path) {
    return isStandardOutput(path) ? standardOutputName() : path;
}

void summary(const std::string& output, const std::string& facts) {
    if (quiet())
        return;
    sayOn(messageStream(output), "wrote " + shownName(output) + ": " + facts);
}

bool readNamingFile(const std::string& path, const std::function<bool()>& read) {
    try {
        return read();
    } catch (const Error& e) {
        if (std::string(e.what()).find(path) != std::string::npos)
            throw;
        throw Error("\"" + path + "\": " + e.what());
    }
}

void readInputPicture(const std::string& path, Bitmap& picture) {
    if (!readNamingFile(path, [&] { return readPictureFile(path, picture); }))
        throw Error("\"" + path + "\" " + PictureReaderMessages::UnknownType);
}

FormatChoice formatFromName(const std::string& name) {
    const std::string lower = lowerCase(name);
    for (const NamedFormat& f : FormatNames)
        if (lower == f.name)
            return f.choice;
    throw UsageError("--format must be one of bmp, jpg, gif, tif, pcx, tga, jp2, j2k, png, not '" + name +
                     "'");
}

std::optional<FormatChoice> formatFromExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::nullopt;
    const std::string extension = lowerCase(path.substr(dot + 1));
    for (const NamedFormat& f : FormatNames)
        if (extension == f.name && extension != "targa")
            return f.choice;
    return std::nullopt;
}

std::string formatChoiceName(const FormatChoice& choice) {
    return choice.codeStream ? "j2k" : stillImageFormatName(choice.format);
}

FormatChoice outputFormat(const std::string& output, const std::string& formatName) {
    const std::optional<FormatChoice> fromExtension =
        isStandardOutput(output) ? std::nullopt : formatFromExtension(output);
    if (formatName.empty()) {
        if (!fromExtension) {
            const size_t slash = output.find_last_of('/');
            const size_t dot = output.find_last_of('.');
            const bool hasExtension = !isStandardOutput(output) && dot != std::string::npos &&
                                      (slash == std::string::npos || dot > slash);
            if (hasExtension)
                throw UsageError(
                    "'" + output + "': " + output.substr(dot) +
                    " is not a format kelvara-cli writes; it writes .bmp .jpg .jpeg .gif .tif .tiff "
                    ".pcx .tga .jp2 .j2k .png");
            throw UsageError("cannot tell the format of '" + output + "' from its name: give --format");
        }
        return *fromExtension;
    }
    FormatChoice named = formatFromName(formatName);
    if (fromExtension && fromExtension->format != named.format)
        throw UsageError("--format " + formatName + " does not agree with '" + output +
                         "', whose extension asks for " + formatChoiceName(*fromExtension) +
                         ": drop --format or change the name");
    // JPEG 2000 either way: .j2k names the bare code stream.
    named.codeStream = named.codeStream || (fromExtension && fromExtension->codeStream);
    return named;
}

void checkGifOutputName(const std::string& command, const std::string& output) {
    if (isStandardOutput(output))
        return;
    const std::optional<FormatChoice> format = formatFromExtension(output);
    if (format && format->format != StillImageFormat::Gif)
        throw UsageError("'" + output + "' is named as a " + formatChoiceName(*format) + " file: the " +
                         command + " command writes GIF files");
    // Another extension would give GIF bytes under a name that promises something else; a name
    // without one, and a pipe or device whatever its name, are written as they are.
    const size_t slash = output.find_last_of('/');
    const size_t dot = output.find_last_of('.');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const bool hasExtension = dot != std::string::npos && dot > nameStart && dot + 1 < output.size();
    std::error_code error;
    const auto status = std::filesystem::status(output, error);
    const bool special =
        !error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
    if (!format && hasExtension && !special)
        throw UsageError("'" + output + "': " + output.substr(dot) + " is not a format the " + command +
                         " command writes; it writes .gif");
}

} // namespace kelvara::cli
