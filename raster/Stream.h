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

// A write-only stream that collects what is written in blocks of 1 MiB and hands it over as one
// buffer of exactly its size, freeing each block as it is copied: large output (a whole GIF file
// kept to be saved later) is never held twice, as a growing buffer holds it while it moves. Reading
// raises StreamError; seeking is allowed only to the end.
class BlockBufferStream final : public Stream {
public:
    static constexpr size_t BlockSize = size_t(1) << 20;

    size_t read(void* buffer, size_t count) override;
    void write(const void* buffer, size_t count) override;
    uint64_t position() const override { return m_size; }
    void seek(uint64_t position) override;
    uint64_t size() const override { return m_size; }

    // Everything written, in one buffer; the stream is empty afterwards.
    std::vector<uint8_t> take();

private:
    std::vector<std::vector<uint8_t>> m_blocks;
    uint64_t m_size = 0;
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

namespace stream_detail {
// A temporary file name that the signal cleanup knows of while it is set (see
// removeTemporaryFilesOnSignals()).
class TemporaryName {
public:
    TemporaryName() = default;
    ~TemporaryName() { clear(); }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    void set(const std::string& path);
    void clear();
    const std::string& path() const { return m_path; }
    bool empty() const { return m_path.empty(); }

private:
    std::string m_path;
    int m_slot = -1;
};
} // namespace stream_detail

// What writing to a path would do, once symbolic links are followed.
enum class OutputPathKind {
    NewFile,      // nothing has the name yet
    ExistingFile, // a file has the name; it is replaced as a whole, or kept
    Direct,       // a character device or a FIFO: written straight into, never replaced
};

struct OutputPath {
    OutputPathKind kind = OutputPathKind::NewFile;
    std::string target; // the path at the end of the symbolic links
};

// Follows the symbolic links of path and tells what writing it would do. Throws StreamError with
// cannotWriteMessage() for what cannot be written: a folder ("Is a directory"), a name whose
// folder does not exist ("folder NAME does not exist"), a loop of links.
OutputPath inspectOutputPath(const std::string& path);

// A file that takes its name only once it is complete. Until commit() it has no name at all
// where the file system allows (an O_TMPFILE file in the target's folder, linked in by
// commit()); elsewhere it lives under a hidden temporary name in that folder that carries the
// process id, and the first temporary file a later process makes in the folder removes those
// of processes that are gone. So neither an error nor a kill leaves a partial file under the
// target's name, nor, where O_TMPFILE works, any file at all. Destroying an uncommitted file
// discards it. Every failure raises StreamError with cannotWriteMessage().
//
// A symbolic link is followed: the file at its end is replaced and the link stays a link. A
// character device or a FIFO (/dev/null, a named pipe) has nothing to replace: the bytes are
// kept in memory and written into it by commit(), as they are into an open descriptor such as
// standard output. A folder is refused at once.
class OutputFile final : public Stream {
public:
    // How the file is kept until commit(). Anonymous falls back to Named where the file
    // system cannot make nameless files.
    enum class Temporary { Anonymous, Named };

    OutputFile(const std::string& path, ExistingFile existing, Temporary temporary = Temporary::Anonymous);
    // Writes into an open descriptor at commit(); name is what errors call it. The descriptor
    // stays open.
    OutputFile(int descriptor, const std::string& name);
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
    // From now on a descriptor, a device or a FIFO gets the bytes as they come, in chunks,
    // rather than all at commit(): for output too long to hold in memory. What was written
    // stays written if the writer fails later; a file is still named only by commit().
    void setWriteThrough();

    const std::string& path() const { return m_path; }
    // The temporary name while the file has one (empty for an anonymous file).
    const std::string& temporaryPath() const { return m_temporary.path(); }

private:
    void discard();
    // Gives the finished file at from (a temporary name or /proc/self/fd/N) the target's name.
    void linkInto(const std::string& from);
    // Writes the buffered bytes into the descriptor (writeBuffered), then closes it if it is ours.
    void writeDirect();
    void writeBuffered();
    static constexpr size_t WriteThroughChunk = 1 << 16;
    Stream& out() const;

    std::string m_path;   // as the caller named it; errors use it
    std::string m_target; // where it is written, at the end of the links
    ExistingFile m_existing;
    std::unique_ptr<FileStream> m_stream;
    std::unique_ptr<MemoryStream> m_buffer; // for descriptors, devices and FIFOs
    int m_descriptor = -1;
    bool m_ownsDescriptor = false;
    stream_detail::TemporaryName m_temporary;
    bool m_committed = false;
    bool m_writeThrough = false;
};

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary files of the output files being written
// before the process ends with status 128 + the signal's number (130, 143, 129). Files already
// complete stay, and so does anything that had the names before. A signal that is ignored when
// this is called (nohup, a shell's background job) stays ignored. For programs that end on these
// signals, such as the command line.
void removeTemporaryFilesOnSignals();

// Writes a whole file through an OutputFile, replacing what has the name.
void writeFileAtomically(const std::string& path, const void* data, size_t size);

// The hidden temporary name OutputFile gives a file in folder (which ends in '/' or is empty).
std::string temporaryFileName(const std::string& folder);
// Removes the temporary files of processes of this machine that are gone from folder; those of
// live processes stay. Returns how many were removed.
int removeStaleTemporaryFiles(const std::string& folder);

} // namespace kelvara
