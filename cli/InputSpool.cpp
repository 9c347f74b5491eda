// Copying an input that cannot seek into a temporary file.
#include "cli/InputSpool.h"

#include "raster/Error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvara::cli {

bool needsSpool(const std::string& input) {
    if (input == "-")
        return true;
    struct stat st;
    if (::stat(input.c_str(), &st) != 0)
        return false; // the frame source says what is wrong with it
    return S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode);
}

InputSpool::InputSpool(const std::string& input) : m_path(input) {
    if (!needsSpool(input))
        return;
    const std::string shown = input == "-" ? "standard input" : input;
    const int in = input == "-" ? STDIN_FILENO : ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw Error(shown + ": cannot read it: " + std::strerror(errno));
    if (input == "-" && ::isatty(in))
        throw Error("standard input is a terminal: pipe a video into it, or name a file");
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/kelvara-input-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int out = ::mkstemp(name.data());
    if (out < 0) {
        const int error = errno;
        if (in != STDIN_FILENO)
            ::close(in);
        throw Error(shown + ": cannot copy it to a temporary file in " +
                    pattern.substr(0, pattern.rfind('/')) + ": " + std::strerror(error));
    }
    m_temporary.set(name.data());
    m_path = name.data();
    std::vector<char> buffer(1 << 16);
    std::string failure;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failure = shown + ": cannot read it: " + std::strerror(errno);
            break;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                failure = shown + ": cannot copy it to a temporary file: " + std::strerror(errno);
                break;
            }
            done += w;
        }
        if (!failure.empty())
            break;
    }
    if (in != STDIN_FILENO)
        ::close(in);
    if (::close(out) != 0 && failure.empty())
        failure = shown + ": cannot copy it to a temporary file: " + std::strerror(errno);
    if (!failure.empty()) {
        ::unlink(m_path.c_str());
        m_temporary.clear();
        throw Error(failure);
    }
}

InputSpool::~InputSpool() {
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.path().c_str());
        m_temporary.clear();
    }
}

} // namespace kelvara::cli
