// Byte streams: memory and file streams, and the output file that takes its name when complete.
#include "raster/Stream.h"

#include "raster/Error.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
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

size_t BlockBufferStream::read(void*, size_t) {
    throw StreamError("The stream cannot be read: it only collects what is written.");
}

void BlockBufferStream::write(const void* buffer, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        if (m_blocks.empty() || m_blocks.back().size() == BlockSize) {
            m_blocks.emplace_back();
            m_blocks.back().reserve(BlockSize);
        }
        std::vector<uint8_t>& block = m_blocks.back();
        const size_t part = std::min(count, BlockSize - block.size());
        block.insert(block.end(), bytes, bytes + part);
        bytes += part;
        count -= part;
        m_size += part;
    }
}

void BlockBufferStream::seek(uint64_t position) {
    if (position != m_size)
        throw StreamError("The stream cannot be sought: it only collects what is written.");
}

std::vector<uint8_t> BlockBufferStream::take() {
    std::vector<uint8_t> whole;
    whole.reserve(m_size);
    for (std::vector<uint8_t>& block : m_blocks) {
        whole.insert(whole.end(), block.begin(), block.end());
        std::vector<uint8_t>().swap(block);
    }
    m_blocks.clear();
    m_size = 0;
    return whole;
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
        throw StreamError(cannotWriteMessage(m_path, errno));
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
    int error = std::fflush(m_file) == 0 ? 0 : errno;
    if (std::fclose(m_file) != 0 && error == 0)
        error = errno;
    m_file = nullptr;
    if (error)
        throw StreamError(cannotWriteMessage(m_path, error));
}

std::vector<uint8_t> readFile(const std::string& path) {
    FileStream file(path, FileStream::Mode::Read);
    uint64_t size = file.size();
    std::vector<uint8_t> bytes(size);
    file.readExactly(bytes.data(), bytes.size());
    return bytes;
}

std::string cannotWriteMessage(const std::string& path, int error) {
    return "Cannot write file " + path + ": " + std::strerror(error);
}

namespace {

// Temporary names: ".kelvara.PID.SEQUENCE.HOST.part". The host keeps a folder shared between
// machines from losing the files of a live process elsewhere.
constexpr const char* TemporaryPrefix = ".kelvara.";
constexpr const char* TemporarySuffix = ".part";

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

// The folder part of a path, ending in '/', or empty for the working folder.
std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string openableFolder(const std::string& folder) {
    return folder.empty() ? std::string(".") : folder;
}

// Cleans each folder once per process, before the first named temporary file goes there.
void removeStaleTemporaryFilesOnce(const std::string& folder) {
    static std::mutex lock;
    static std::set<std::string> cleaned;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!cleaned.insert(folder).second)
            return;
    }
    removeStaleTemporaryFiles(folder);
}

} // namespace

std::string temporaryFileName(const std::string& folder) {
    static std::atomic<unsigned> sequence{0};
    return folder + TemporaryPrefix + std::to_string(::getpid()) + "." + std::to_string(sequence++) + "." +
           hostName() + TemporarySuffix;
}

int removeStaleTemporaryFiles(const std::string& folder) {
    DIR* dir = ::opendir(openableFolder(folder).c_str());
    if (!dir)
        return 0;
    const std::string host = hostName();
    const size_t prefixLength = std::strlen(TemporaryPrefix), suffixLength = std::strlen(TemporarySuffix);
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= prefixLength + suffixLength ||
            name.compare(0, prefixLength, TemporaryPrefix) != 0 ||
            name.compare(name.size() - suffixLength, suffixLength, TemporarySuffix) != 0)
            continue;
        // PID.SEQUENCE.HOST between prefix and suffix.
        const std::string middle = name.substr(prefixLength, name.size() - prefixLength - suffixLength);
        const size_t dot1 = middle.find('.');
        const size_t dot2 = dot1 == std::string::npos ? dot1 : middle.find('.', dot1 + 1);
        if (dot2 == std::string::npos || dot1 == 0 || dot1 > 9 || middle.substr(dot2 + 1) != host ||
            middle.find_first_not_of("0123456789") != dot1 ||
            middle.find_first_not_of("0123456789", dot1 + 1) != dot2)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(middle.substr(0, dot1)));
        if (pid <= 0 || ::kill(pid, 0) == 0 || errno != ESRCH)
            continue; // its process lives (or may: we cannot tell)
        if (::unlinkat(::dirfd(dir), name.c_str(), 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

namespace stream_detail {

namespace {

// The temporary names the signal handler removes. Fixed storage, so that the handler reads
// nothing that is being freed; a slot is taken with a compare-exchange and its name written
// before it is marked used.
constexpr int TrackedSlots = 64;
constexpr size_t TrackedLength = 4096;
enum SlotState : int { SlotFree, SlotFilling, SlotUsed };
std::atomic<int> g_slotState[TrackedSlots];
char g_slotPath[TrackedSlots][TrackedLength];

} // namespace

void TemporaryName::set(const std::string& path) {
    clear();
    m_path = path;
    if (path.size() >= TrackedLength)
        return;
    for (int i = 0; i < TrackedSlots; ++i) {
        int expected = SlotFree;
        if (g_slotState[i].compare_exchange_strong(expected, SlotFilling)) {
            std::memcpy(g_slotPath[i], path.c_str(), path.size() + 1);
            g_slotState[i].store(SlotUsed);
            m_slot = i;
            return;
        }
    }
}

void TemporaryName::clear() {
    if (m_slot >= 0)
        g_slotState[m_slot].store(SlotFree);
    m_slot = -1;
    m_path.clear();
}

} // namespace stream_detail

namespace {

extern "C" void removeTemporariesAndExit(int signal) {
    using namespace stream_detail;
    for (int i = 0; i < TrackedSlots; ++i)
        if (g_slotState[i].load() == SlotUsed)
            ::unlink(g_slotPath[i]);
    ::_exit(128 + signal);
}

// The folder part of a path without its last '/', for messages: "nodir" of "nodir/out.gif".
std::string folderName(const std::string& path) {
    std::string folder = folderOf(path);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

} // namespace

void removeTemporaryFilesOnSignals() {
    struct sigaction action = {};
    action.sa_handler = removeTemporariesAndExit;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the caller ignores stays ignored: nohup, and a shell's background jobs.
        struct sigaction current = {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

OutputPath inspectOutputPath(const std::string& path) {
    OutputPath result;
    result.target = path;
    // /dev/stdout, /dev/fd/N and their like stand for a descriptor the caller opened, whatever
    // it leads to (often a file a shell has just made): they are written into, never replaced.
    struct stat st;
    if ((path.rfind("/dev/", 0) == 0 || path.rfind("/proc/self/fd/", 0) == 0) &&
        ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        result.kind = OutputPathKind::Direct;
        return result;
    }
    // Follow the links one by one: the file at the end is what gets replaced.
    for (int hops = 0;; ++hops) {
        if (::lstat(result.target.c_str(), &st) != 0) {
            if (errno != ENOENT)
                throw StreamError(cannotWriteMessage(path, errno));
            break;
        }
        if (S_ISLNK(st.st_mode)) {
            if (hops >= 40)
                throw StreamError(cannotWriteMessage(path, ELOOP));
            std::vector<char> link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4095) + 1);
            const ssize_t n = ::readlink(result.target.c_str(), link.data(), link.size());
            if (n < 0)
                throw StreamError(cannotWriteMessage(path, errno));
            const std::string to(link.data(), static_cast<size_t>(n));
            result.target = !to.empty() && to[0] == '/' ? to : folderOf(result.target) + to;
            continue;
        }
        if (S_ISDIR(st.st_mode))
            throw StreamError(cannotWriteMessage(path, EISDIR));
        result.kind = S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) ? OutputPathKind::Direct
                                                                  : OutputPathKind::ExistingFile;
        return result;
    }
    // A new name: its folder must be there.
    struct stat folder;
    const std::string folderPath = openableFolder(folderOf(result.target));
    if (::stat(folderPath.c_str(), &folder) != 0) {
        if (errno == ENOENT)
            throw StreamError("Cannot write file " + path + ": folder " + folderName(result.target) +
                              " does not exist");
        throw StreamError(cannotWriteMessage(path, errno));
    }
    if (!S_ISDIR(folder.st_mode))
        throw StreamError(cannotWriteMessage(path, ENOTDIR));
    return result;
}

OutputFile::OutputFile(const std::string& path, ExistingFile existing, Temporary temporary)
    : m_path(path), m_existing(existing) {
    const OutputPath where = inspectOutputPath(path);
    m_target = where.target;
    if (where.kind == OutputPathKind::Direct) {
        m_descriptor = ::open(m_target.c_str(), O_WRONLY | O_CLOEXEC);
        if (m_descriptor < 0)
            throw StreamError(cannotWriteMessage(path, errno));
        m_ownsDescriptor = true;
        m_buffer = std::make_unique<MemoryStream>();
        return;
    }
    const std::string folder = folderOf(m_target);
    int fd = -1;
    if (temporary == Temporary::Anonymous) {
        fd = ::open(openableFolder(folder).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            throw StreamError(cannotWriteMessage(path, errno));
        // commit() names the file through /proc; without it the file could never be named.
        if (fd >= 0 && ::access("/proc/self/fd", X_OK) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        removeStaleTemporaryFilesOnce(folder);
        for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
            m_temporary.set(temporaryFileName(folder));
            fd = ::open(m_temporary.path().c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        if (fd < 0) {
            const int error = errno;
            m_temporary.clear();
            throw StreamError(cannotWriteMessage(path, error));
        }
    }
    std::FILE* file = ::fdopen(fd, "w+b");
    if (!file) {
        const int error = errno;
        ::close(fd);
        discard();
        throw StreamError(cannotWriteMessage(path, error));
    }
    m_stream.reset(new FileStream(file, path));
}

OutputFile::OutputFile(int descriptor, const std::string& name)
    : m_path(name), m_target(name), m_existing(ExistingFile::Replace),
      m_buffer(std::make_unique<MemoryStream>()), m_descriptor(descriptor) {}

OutputFile::~OutputFile() {
    if (!m_committed)
        discard();
    if (m_ownsDescriptor && m_descriptor >= 0)
        ::close(m_descriptor);
}

void OutputFile::discard() {
    m_stream.reset();
    if (m_buffer)
        m_buffer->clear();
    if (!m_temporary.empty())
        ::unlink(m_temporary.path().c_str());
    m_temporary.clear();
}

Stream& OutputFile::out() const {
    if (m_buffer)
        return *m_buffer;
    return *m_stream;
}

size_t OutputFile::read(void* buffer, size_t count) {
    return out().read(buffer, count);
}

void OutputFile::write(const void* buffer, size_t count) {
    out().write(buffer, count);
    if (m_writeThrough && m_buffer && m_buffer->size() >= WriteThroughChunk)
        writeBuffered();
}

void OutputFile::setWriteThrough() {
    m_writeThrough = true;
}

uint64_t OutputFile::position() const {
    return out().position();
}

void OutputFile::seek(uint64_t position) {
    out().seek(position);
}

uint64_t OutputFile::size() const {
    return out().size();
}

void OutputFile::linkInto(const std::string& from) {
    auto fail = [this](int error) {
        if (error == EEXIST && m_existing == ExistingFile::Keep)
            throw FileExistsError(cannotWriteMessage(m_path, error));
        throw StreamError(cannotWriteMessage(m_path, error));
    };
    const bool named = from == m_temporary.path();
    if (named && m_existing == ExistingFile::Replace) {
        if (std::rename(from.c_str(), m_target.c_str()) != 0)
            fail(errno);
        m_temporary.clear();
        return;
    }
    // A link fails when the name is taken, so a file that appeared meanwhile is never replaced.
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        if (named) {
            ::unlink(from.c_str());
            m_temporary.clear();
        }
        return;
    }
    if (errno != EEXIST || m_existing == ExistingFile::Keep)
        fail(errno);
    // Replacing with a nameless file: link it in under a temporary name and rename that over
    // the old file, so the name always holds one complete file or the other.
    m_temporary.set(temporaryFileName(folderOf(m_target)));
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, m_temporary.path().c_str(), AT_SYMLINK_FOLLOW) != 0) {
        const int error = errno;
        m_temporary.clear();
        fail(error);
    }
    if (std::rename(m_temporary.path().c_str(), m_target.c_str()) != 0)
        fail(errno); // commit() removes the temporary name
    m_temporary.clear();
}

void OutputFile::writeBuffered() {
    const std::vector<uint8_t>& bytes = m_buffer->bytes();
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_descriptor, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw StreamError(cannotWriteMessage(m_path, n < 0 ? errno : EIO));
        done += static_cast<size_t>(n);
    }
    m_buffer->clear();
}

void OutputFile::writeDirect() {
    writeBuffered();
    if (m_ownsDescriptor) {
        const int descriptor = m_descriptor;
        m_descriptor = -1;
        if (::close(descriptor) != 0 && errno != EINTR)
            throw StreamError(cannotWriteMessage(m_path, errno));
    }
}

void OutputFile::commit() {
    if (m_committed)
        throw StreamError(cannotWriteMessage(m_path, EBADF));
    try {
        if (m_buffer) {
            writeDirect();
            m_committed = true;
            return;
        }
        std::FILE* file = m_stream->m_file;
        if (std::fflush(file) != 0)
            throw StreamError(cannotWriteMessage(m_path, errno));
        if (m_temporary.empty()) {
            linkInto("/proc/self/fd/" + std::to_string(::fileno(file)));
            m_committed = true;
            try {
                m_stream->close();
            } catch (...) {
                ::unlink(m_target.c_str());
                throw;
            }
            return;
        }
        m_stream->close();
        linkInto(m_temporary.path());
        m_committed = true;
    } catch (...) {
        // A failed file is gone at once, not when the object goes.
        discard();
        throw;
    }
}

void writeFileAtomically(const std::string& path, const void* data, size_t size) {
    OutputFile file(path, ExistingFile::Replace);
    file.write(data, size);
    file.commit();
}

} // namespace kelvara
