// Byte streams: an abstract stream with a position, a memory stream, a file stream, and the output
// file that takes its name only when complete.
#pragma once

#include "raster/Error.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kelvara {

// A seekable byte stream. read() returns how many bytes it could read (fewer at the end);
// write() writes all bytes or throws StreamError.
class Stream {
public:
    virtual ~Stream() = default;
    virtual size_t read(void* buffer, size_t count) = 0;
    virtual void write(const void* buffer, size_t count) = 0;
    virtual uint64_t position() const = 0;
    virtual void seek(uint64_t position) = 0;
    virtual uint64_t size() const = 0;

    uint64_t remaining() const { return size() > position() ? size() - position() : 0; }
    // Reads exactly count bytes or throws StreamError.
    void readExactly(void* buffer, size_t count);
};

// A stream over a growable byte buffer it owns.
class MemoryStream final : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

    size_t read(void* buffer, size_t count) override;
    void write(const void* buffer, size_t count) override;
    uint64_t position() const override { return m_position; }
    void seek(uint64_t position) override;
    uint64_t size() const override { return m_bytes.size(); }

    // Drops the contents and rewinds.
    void clear();
    // Makes room for at least this many bytes without changing the size.
    void reserve(size_t bytes) { m_bytes.reserve(bytes); }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }
    std::vector<uint8_t>& bytes() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_position = 0;
};

// A stream on a file opened for reading or for writing (created or truncated).
class FileStream final : public Stream {
public:
    enum class Mode { Read, Create };
    FileStream(const std::string& path, Mode mode);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    size_t read(void* buffer, size_t count) override;
    void write(const void* buffer, size_t count) override;
    uint64_t position() const override;
    void seek(uint64_t position) override;
    uint64_t size() const override;
    // Flushes and closes; throws StreamError when the data could not be written.
    void close();

private:
    friend class OutputFile;
    // Takes over an open file; the name is the one errors report.
    FileStream(std::FILE* file, const std::string& name) : m_file(file), m_path(name) {}

    std::FILE* m_file = nullptr;
    std::string m_path;
};

// Reads a whole file into memory; throws StreamError when it cannot be read.
std::vector<uint8_t> readFile(const std::string& path);

// What an output file does when its name is already taken.
enum class ExistingFile { Keep, Replace };

// Raised by OutputFile when its name is taken and ExistingFile::Keep was asked for.
class FileExistsError : public StreamError {
public:
    using StreamError::StreamError;
};

// The message of every failed write: "Cannot write file NAME: REASON", the reason in the
// system's words for the error number.
std::string cannotWriteMessage(const std::string& path, int error);

// A file that takes its name only once it is complete. Until commit() it has no name at all
// where the file system allows (an O_TMPFILE file in the target's folder, linked in by
// commit()); elsewhere it lives under a hidden temporary name in that folder that carries the
// process id, and the first temporary file a later process makes in the folder removes those
// of processes that are gone. So neither an error nor a kill leaves a partial file under the
// target's name, nor, where O_TMPFILE works, any file at all. Destroying an uncommitted file
// discards it. Every failure raises StreamError with cannotWriteMessage().
class OutputFile final : public Stream {
public:
    // How the file is kept until commit(). Anonymous falls back to Named where the file
    // system cannot make nameless files.
    enum class Temporary { Anonymous, Named };

    OutputFile(const std::string& path, ExistingFile existing, Temporary temporary = Temporary::Anonymous);
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    size_t read(void* buffer, size_t count) override;
    void write(const void* buffer, size_t count) override;
    uint64_t position() const override;
    void seek(uint64_t position) override;
    uint64_t size() const override;

    // Writes out what is buffered and gives the file its name: over an existing file with
    // ExistingFile::Replace, else only if the name is free (FileExistsError otherwise). A
    // failed commit discards the file.
    void commit();

    const std::string& path() const { return m_path; }
    // The temporary name while the file has one (empty for an anonymous file).
    const std::string& temporaryPath() const { return m_temporaryPath; }

private:
    void discard();
    // Gives the finished file at from (a temporary name or /proc/self/fd/N) the target's name.
    void linkInto(const std::string& from);

    std::string m_path;
    ExistingFile m_existing;
    std::unique_ptr<FileStream> m_stream;
    std::string m_temporaryPath;
    bool m_committed = false;
};

// Writes a whole file through an OutputFile, replacing what has the name.
void writeFileAtomically(const std::string& path, const void* data, size_t size);

// The hidden temporary name OutputFile gives a file in folder (which ends in '/' or is empty).
std::string temporaryFileName(const std::string& folder);
// Removes the temporary files of processes of this machine that are gone from folder; those of
// live processes stay. Returns how many were removed.
int removeStaleTemporaryFiles(const std::string& folder);

} // namespace kelvara
