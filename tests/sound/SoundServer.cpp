// A private PulseAudio server and a recorder of its null sink's monitor.
#include "SoundServer.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelvara::test {

namespace {

// The environment with some variables replaced and some removed.
std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& set,
                                         const std::vector<std::string>& remove) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool drop = false;
        for (const auto& [key, value] : set)
            drop = drop || name == key;
        for (const auto& key : remove)
            drop = drop || name == key;
        if (!drop)
            env.push_back(entry);
    }
    for (const auto& [key, value] : set)
        env.push_back(key + "=" + value);
    return env;
}

// Starts a program with its standard output going to outFd and its standard error to errFd;
// returns its process id, or -1 with errno's text in failure.
int spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, int outFd, int errFd,
          std::string& failure) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::vector<char*> argv, envp;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    int err = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) {
        failure = args[0] + ": " + std::strerror(err);
        return -1;
    }
    return pid;
}

// Ends a child: politely, then for sure.
void endChild(int pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(10'000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool socketAnswers(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

std::string lastLines(const std::string& path, int count) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    std::ostringstream out;
    for (size_t i = lines.size() > size_t(count) ? lines.size() - count : 0; i < lines.size(); ++i)
        out << lines[i] << (i + 1 < lines.size() ? " | " : "");
    return out.str();
}

} // namespace

bool SoundServer::start() {
    stop();
    char pattern[] = "/tmp/kelvara-pulse-XXXXXX";
    if (!mkdtemp(pattern)) {
        m_failure = std::string("no folder for the server: ") + std::strerror(errno);
        return false;
    }
    m_dir = pattern;
    const std::string log = m_dir + "/pulseaudio.log";
    int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // A user-mode server that keeps its runtime, state and configuration in its own folder and
    // stays off the session bus (another server may own the names there). It runs as root too:
    // it only warns that it was not meant to.
    std::vector<std::string> args = {
        "pulseaudio", "-n", "--daemonize=no", "--use-pid-file=no", "--system=no", "--exit-idle-time=-1",
        "--disable-shm=yes", "--high-priority=no", "--realtime=no", "--log-target=stderr", "-L",
        // Without rewinds the monitor records what the sink played,
        // not what it played before it took some sound back.
        std::string("module-null-sink norewinds=1 sink_name=") + SinkName, "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + m_dir + "/native"};
    auto env = environmentWith({{"HOME", m_dir},
                                {"XDG_RUNTIME_DIR", m_dir},
                                {"XDG_CONFIG_HOME", m_dir + "/config"},
                                {"PULSE_RUNTIME_PATH", m_dir + "/runtime"},
                                {"PULSE_STATE_PATH", m_dir + "/state"}},
                               {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER"});
    m_pid = spawn(args, env, logFd, logFd, m_failure);
    if (logFd >= 0)
        close(logFd);
    if (m_pid < 0) {
        m_failure = "pulseaudio cannot run (" + m_failure + ")";
        stop();
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_failure = "pulseaudio stopped at once: " + lastLines(log, 3);
            stop();
            return false;
        }
        if (socketAnswers(m_dir + "/native"))
            return true;
        usleep(20'000);
    }
    m_failure = "pulseaudio did not open its socket within 10 s: " + lastLines(log, 3);
    stop();
    return false;
}

void SoundServer::stop() {
    endChild(m_pid);
    m_pid = -1;
    if (!m_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
        m_dir.clear();
    }
}

int64_t SoundRecorder::nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool SoundRecorder::start() {
    stop();
    {
        std::lock_guard lock(m_mutex);
        m_samples.clear();
        m_arrivals.clear();
        m_fitted = false;
    }
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    int devNull = open("/dev/null", O_WRONLY);
    std::string failure;
    // A short latency makes the sink hand its sound to the monitor soon after it is played.
    m_pid = spawn({"parec", "--server=" + m_server.address(),
                   std::string("--device=") + SoundServer::SinkName + ".monitor", "--format=s16le",
                   "--rate=44100", "--channels=2", "--latency-msec=5"},
                  environmentWith({}, {}), fds[1], devNull, failure);
    close(fds[1]);
    if (devNull >= 0)
        close(devNull);
    if (m_pid < 0) {
        close(fds[0]);
        return false;
    }
    m_reader = std::thread([this, fd = fds[0]] { readLoop(fd); });
    // Recording has begun once the first sound (silence at first) arrives.
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard lock(m_mutex);
            if (m_samples.size() >= 2 * 441)
                return true;
        }
        usleep(10'000);
    }
    stop();
    return false;
}

void SoundRecorder::readLoop(int fd) {
    std::vector<uint8_t> buffer(4096);
    uint8_t carry[4];
    size_t carried = 0;
    int64_t frames = 0;
    for (;;) {
        ssize_t n = read(fd, buffer.data() + carried, buffer.size() - carried);
        if (n <= 0)
            break;
        const int64_t now = nowUs();
        std::memcpy(buffer.data(), carry, carried);
        size_t total = carried + size_t(n);
        size_t whole = total - total % 4;
        std::lock_guard lock(m_mutex);
        for (size_t i = 0; i < whole; i += 2)
            m_samples.push_back(int16_t(buffer[i] | (buffer[i + 1] << 8)));
        frames += int64_t(whole / 4);
        m_arrivals.emplace_back(now, frames);
        m_fitted = false;
        carried = total - whole;
        std::memcpy(carry, buffer.data() + whole, carried);
    }
    close(fd);
}

void SoundRecorder::stop() {
    endChild(m_pid);
    m_pid = -1;
    if (m_reader.joinable())
        m_reader.join();
}

std::vector<int16_t> SoundRecorder::samples() const {
    std::lock_guard lock(m_mutex);
    return m_samples;
}

void SoundRecorder::fit() const {
    if (m_fitted)
        return;
    // A block arrives no sooner than its last sample was played, and most arrive soon after:
    // the earliest arrivals of each tenth of the recording lie on the line of play times.
    const double nominal = 1e6 / Rate;
    std::vector<std::pair<double, double>> points; // frame, time
    const size_t parts = m_arrivals.size() >= 100 ? 10 : 1;
    for (size_t p = 0; p < parts; ++p) {
        size_t from = m_arrivals.size() * p / parts, to = m_arrivals.size() * (p + 1) / parts;
        std::pair<double, double> best{0, 0};
        double bestLead = 1e300;
        for (size_t i = from; i < to; ++i) {
            double lead = double(m_arrivals[i].first) - double(m_arrivals[i].second) * nominal;
            if (lead < bestLead) {
                bestLead = lead;
                best = {double(m_arrivals[i].second), double(m_arrivals[i].first)};
            }
        }
        if (to > from)
            points.push_back(best);
    }
    m_fitUsPerFrame = nominal;
    if (points.size() >= 2) {
        double mn = 0, mt = 0;
        for (auto [n, t] : points)
            mn += n, mt += t;
        mn /= double(points.size());
        mt /= double(points.size());
        double num = 0, den = 0;
        for (auto [n, t] : points)
            num += (n - mn) * (t - mt), den += (n - mn) * (n - mn);
        if (den > 0)
            m_fitUsPerFrame = num / den;
        m_fitUs = mt - mn * m_fitUsPerFrame;
    } else if (points.size() == 1) {
        m_fitUs = points[0].second - points[0].first * nominal;
    }
    m_fitted = true;
}

int64_t SoundRecorder::playedAtUs(size_t frame) const {
    std::lock_guard lock(m_mutex);
    fit();
    return int64_t(m_fitUs + double(frame) * m_fitUsPerFrame);
}

double SoundRecorder::sinkClockPpm() const {
    std::lock_guard lock(m_mutex);
    fit();
    return (1e6 / Rate / m_fitUsPerFrame - 1) * 1e6;
}

SoundServer& soundServer() {
    static SoundServer server;
    return server;
}

} // namespace kelvara::test
