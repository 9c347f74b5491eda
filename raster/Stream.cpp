// Byte streams: memory and file streams, and the atomic file write.
#include "raster/Stream.h"

#include "raster/Error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace kelvara {

void Stream::readExactly(void* buffer, size_t count) {
    if (read(buffer, count) != count)
        throw StreamError("Stream read error");
}

size_t MemoryStream::read(void* buffer, size_t count) {
    if (m_position >= m_bytes.size())
        return 0;
    size_t n = std::min(count, m_bytes.size() - m_position);
    std::memcpy(buffer, m_bytes.data() + m_position, n);
    m_position += n;
    return n;
}

void MemoryStream::write(const void* buffer, size_t count) {
    if (count == 0)
        return;
    if (m_position + count > m_bytes.size())
        m_bytes.resize(m_position + count);
    std::memcpy(m_bytes.data() + m_position, buffer, count);
    m_position += count;
}

void MemoryStream::seek(uint64_t position) {
    if (position > m_bytes.size())
        m_bytes.resize(position);
    m_position = position;
}

void MemoryStream::clear() {
    m_bytes.clear();
    m_position = 0;
}

FileStream::FileStream(const std::string& path, Mode mode) : m_path(path) {
    m_file = std::fopen(path.c_str(), mode == Mode::Read ? "rb" : "wb");
    if (!m_file)
        throw StreamError("Cannot open file \"" + path + "\": " + std::strerror(errno));
}

FileStream::~FileStream() {
    if (m_file)
        std::fclose(m_file);
}

size_t FileStream::read(void* buffer, size_t count) {
    return std::fread(buffer, 1, count, m_file);
}

void FileStream::write(const void* buffer, size_t count) {
    if (count && std::fwrite(buffer, 1, count, m_file) != count)
        throw StreamError("Cannot write file \"" + m_path + "\": " + std::strerror(errno));
}

uint64_t FileStream::position() const {
    return static_cast<uint64_t>(ftello(m_file));
}

void FileStream::seek(uint64_t position) {
    if (fseeko(m_file, static_cast<off_t>(position), SEEK_SET) != 0)
        throw StreamError("Cannot seek in file \"" + m_path + "\"");
}

uint64_t FileStream::size() const {
    off_t here = ftello(m_file);
    fseeko(m_file, 0, SEEK_END);
    off_t end = ftello(m_file);
    fseeko(m_file, here, SEEK_SET);
    return static_cast<uint64_t>(end);
}

void FileStream::close() {
    if (!m_file)
        return;
    bool ok = std::fflush(m_file) == 0;
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    if (!ok)
        throw StreamError("Cannot write file \"" + m_path + "\"");
}

std::vector<uint8_t> readFile(const std::string& path) {
    FileStream file(path, FileStream::Mode::Read);
    uint64_t size = file.size();
    std::vector<uint8_t> bytes(size);
    file.readExactly(bytes.data(), bytes.size());
    return bytes;
}

void writeFileAtomically(const std::string& path, const void* data, size_t size) {
    std::string temp = path + ".part-" + std::to_string(getpid());
    try {
        FileStream file(temp, FileStream::Mode::Create);
        file.write(data, size);
        file.close();
    } catch (...) {
        std::remove(temp.c_str());
        throw;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        std::remove(temp.c_str());
        throw StreamError("Cannot write file \"" + path + "\": " + std::strerror(err));
    }
}

} // namespace kelvara
