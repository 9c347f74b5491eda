// Byte streams: an abstract stream with a position, a memory stream and a file stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
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
    std::FILE* m_file = nullptr;
    std::string m_path;
};

// Reads a whole file into memory; throws StreamError when it cannot be read.
std::vector<uint8_t> readFile(const std::string& path);

// Writes a file atomically: the bytes go to a temporary name in the same folder, which is
// then renamed over the target. A failure never leaves a partial target behind.
void writeFileAtomically(const std::string& path, const void* data, size_t size);

} // namespace kelvara
