// The media player on the frame source, with a display window and Qt audio output.
#include "app/MediaPlayer.h"

#include "app/SystemAudioOutput.h"
#include "preview/qt/ImageView.h"
#include "video/AudioTrack.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kelvara {

VideoDisplay::VideoDisplay(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void VideoDisplay::showPicture(const QImage& picture, const QRect& displayRect) {
    m_picture = picture;
    m_rect = displayRect;
    update();
}

void VideoDisplay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!m_picture.isNull())
        painter.drawImage(m_rect, m_picture);
}

void VideoDisplay::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

namespace {
// The longest time between two ticks of a play.
constexpr int TickMs = 10;
// The sound's clock counts as stuck when it has not moved for this long while playing.
constexpr qint64 SoundStallMs = 2000;
} // namespace

MediaPlayer::MediaPlayer(QObject* parent) : QObject(parent) {
    m_timer.setInterval(TickMs);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &MediaPlayer::tick);
}

MediaPlayer::~MediaPlayer() = default;

void MediaPlayer::open(const std::string& path) {
    auto reader = std::make_unique<FrameReader>();
    reader->open(path); // throws the frame source's message
    close();
    m_reader = std::move(reader);
    m_facts = m_reader->facts();
    m_times = m_reader->frameTimes();
    m_displayRect = QRect(0, 0, m_facts.width, m_facts.height);
    m_mode = Stopped;
    m_frame = 0;
    m_shown = -1;
    m_error = 0;
    m_start.reset();
    m_end.reset();
    // A video whose sound cannot be played still plays its pictures, and says why it is silent.
    QString problem;
    try {
        m_audio = AudioTrack::open(path, m_makeOutput ? m_makeOutput : makeSystemAudioOutput);
        if (m_audio)
            m_audio->setVolume(m_volume);
    } catch (const SoundError& e) {
        problem = QString::fromUtf8(e.what());
    }
    setSoundProblem(problem);
    showFrame(0);
}

void MediaPlayer::close() {
    m_timer.stop();
    m_soundClock = false;
    m_audio.reset();
    m_times = nullptr;
    m_reader.reset();
    m_mode = NotReady;
}

int64_t MediaPlayer::toFrames(int64_t value) const {
    if (m_format == TimeFormat::Frames || m_facts.lengthMs <= 0)
        return value;
    return value * m_facts.frameCount / m_facts.lengthMs;
}

int64_t MediaPlayer::fromFrames(int64_t frames) const {
    if (m_format == TimeFormat::Frames || m_facts.frameCount <= 0)
        return frames;
    return frames * m_facts.lengthMs / m_facts.frameCount;
}

int64_t MediaPlayer::frameToUs(int64_t frame) const {
    if (m_times) {
        // The picture's own time, in the clock of the file's timestamps that the sound shares.
        const std::vector<int64_t>& starts = m_times->startUs;
        if (frame >= static_cast<int64_t>(starts.size()))
            return m_times->endUs;
        return starts[size_t(std::max<int64_t>(frame, 0))];
    }
    if (m_facts.fps > 0)
        return std::llround(static_cast<double>(frame) * 1e6 / m_facts.fps);
    return m_facts.frameCount > 0 ? frame * m_facts.lengthMs * 1000 / m_facts.frameCount : 0;
}

int64_t MediaPlayer::frameAtUs(int64_t us) const {
    if (m_times) {
        const std::vector<int64_t>& starts = m_times->startUs;
        return std::max<int64_t>(0,
                                 (std::upper_bound(starts.begin(), starts.end(), us) - starts.begin()) - 1);
    }
    if (m_facts.fps > 0)
        return static_cast<int64_t>(std::floor(static_cast<double>(us) * m_facts.fps / 1e6 + 1e-6));
    return m_facts.lengthMs > 0 ? us * m_facts.frameCount / (m_facts.lengthMs * 1000) : 0;
}

int64_t MediaPlayer::length() const {
    return m_format == TimeFormat::Frames ? m_facts.frameCount : m_facts.lengthMs;
}

int64_t MediaPlayer::position() const {
    return fromFrames(m_frame);
}

void MediaPlayer::setDisplayRect(const QRect& rect) {
    m_displayRect = rect.width() == 0 && rect.height() == 0
                        ? QRect(rect.left(), rect.top(), m_facts.width, m_facts.height)
                        : rect;
    m_shown = -1;
    showFrame(m_frame);
}

void MediaPlayer::setDisplayWindow(VideoDisplay* window) {
    m_window = window;
    m_shown = -1;
    showFrame(m_frame);
}

void MediaPlayer::showFrame(int64_t frame) {
    if (!m_reader || !m_window || frame == m_shown)
        return;
    if (Bitmap* picture = m_reader->frame(frame)) {
        m_window->showPicture(toQImage(*picture), m_displayRect);
        m_shown = frame;
        emit frameShown(frame);
    }
}

int64_t MediaPlayer::clockUs() const {
    if (m_soundClock)
        return m_audio->playedUs();
    return m_timerFromUs + m_clock.nsecsElapsed() / 1000;
}

void MediaPlayer::startTimerClock(int64_t us) {
    m_timerFromUs = us;
    m_clock.start();
}

void MediaPlayer::startSound(int64_t fromUs) {
    m_soundClock = false;
    if (!m_audio)
        return;
    try {
        m_audio->start(fromUs, std::max(fromUs, m_endUs));
        m_soundClock = true;
        m_lastSoundUs = fromUs;
        m_soundMoved.start();
        setSoundProblem({});
    } catch (const SoundError& e) {
        m_audio->stop();
        setSoundProblem(QString::fromUtf8(e.what()));
    }
}

void MediaPlayer::loseSound(const QString& why) {
    m_soundClock = false;
    startTimerClock(m_lastSoundUs);
    if (m_audio)
        m_audio->stop();
    setSoundProblem(why);
}

void MediaPlayer::setSoundProblem(const QString& text) {
    if (text == m_soundProblem)
        return;
    m_soundProblem = text;
    emit soundProblemChanged(text);
}

void MediaPlayer::play() {
    if (!m_reader)
        return;
    int64_t last = m_facts.frameCount - 1;
    // A paused play goes on from the sample it stopped at, unless a start position moves it.
    const bool resumes = m_mode == Paused && !m_start;
    if (m_start)
        m_frame = std::clamp<int64_t>(toFrames(*m_start), 0, std::max<int64_t>(0, last));
    m_playTo = m_end ? std::clamp<int64_t>(toFrames(*m_end), 0, last) : last;
    m_start.reset();
    m_end.reset();
    if (m_frame >= m_playTo && m_frame >= last)
        m_frame = m_playTo; // at the end: nothing to play
    const int64_t endUs = frameToUs(m_playTo + 1);
    if (resumes && m_soundClock && endUs == m_endUs) {
        pauseOperation();
        return;
    }
    m_playFrom = m_frame;
    m_endUs = endUs;
    const int64_t fromUs = resumes ? m_pausedUs : frameToUs(m_frame);
    m_mode = Playing;
    startSound(fromUs);
    startTimerClock(fromUs);
    m_timer.start();
    showFrame(m_frame);
}

void MediaPlayer::pauseOperation() {
    if (m_mode == Playing) {
        m_pausedUs = std::min(clockUs(), m_endUs);
        m_frame = std::clamp(frameAtUs(m_pausedUs), m_playFrom, m_playTo);
        m_timer.stop();
        if (m_soundClock)
            m_audio->pause();
        m_mode = Paused;
        showFrame(m_frame);
    } else if (m_mode == Paused) {
        m_mode = Playing;
        if (m_soundClock) {
            m_audio->resume();
            m_soundMoved.start();
        } else {
            startTimerClock(m_pausedUs);
        }
        m_timer.start();
    }
}

void MediaPlayer::stop() {
    if (m_mode == Playing)
        m_frame = std::min(std::max(frameAtUs(clockUs()), m_playFrom), m_playTo);
    m_timer.stop();
    m_soundClock = false;
    if (m_audio)
        m_audio->stop();
    if (m_reader)
        m_mode = Stopped;
}

void MediaPlayer::seek(int64_t position) {
    if (!m_reader)
        return;
    int64_t frame = toFrames(position);
    if (position < 0 || frame < 0 || frame >= m_facts.frameCount) {
        m_error = OutOfRangeError;
        return;
    }
    m_error = 0;
    m_timer.stop();
    m_soundClock = false;
    if (m_audio)
        m_audio->stop();
    m_frame = frame;
    m_mode = Stopped;
    showFrame(m_frame);
}

void MediaPlayer::setVolume(int level) {
    m_volume = std::clamp(level, 0, 65535);
    if (m_audio)
        m_audio->setVolume(m_volume);
}

bool MediaPlayer::hasAudio() const {
    return m_audio != nullptr;
}

void MediaPlayer::tick() {
    if (m_mode != Playing)
        return;
    if (m_soundClock) {
        try {
            m_audio->feed();
            std::string failure = m_audio->failure();
            int64_t us = m_audio->playedUs();
            if (!failure.empty()) {
                loseSound(QString(SoundMessages::OutputFailed) + " (" + QString::fromStdString(failure) +
                          ")");
            } else if (m_audio->drained()) {
                // The sound is over (its stream may end before the pictures do): the timer goes on
                // from where it ended.
                m_lastSoundUs = us;
                m_soundClock = false;
                startTimerClock(us);
            } else if (us != m_lastSoundUs) {
                m_lastSoundUs = us;
                m_soundMoved.start();
            } else if (m_soundMoved.elapsed() > SoundStallMs) {
                loseSound(SoundMessages::OutputStalled);
            }
        } catch (const SoundError& e) {
            loseSound(QString::fromUtf8(e.what()));
        }
    }
    const int64_t us = clockUs();
    int64_t frame;
    if (us >= m_endUs) {
        frame = m_playTo;
        m_timer.stop();
        m_soundClock = false;
        m_mode = Stopped;
    } else {
        frame = std::clamp(frameAtUs(us), m_playFrom, m_playTo);
    }
    m_frame = frame;
    showFrame(frame);
    if (m_mode == Playing) {
        // Wake when the next picture is due, and at least every 10 ms to feed the sound.
        int64_t untilNextUs = frameToUs(frame + 1) - clockUs();
        m_timer.setInterval(int(std::clamp<int64_t>((untilNextUs + 999) / 1000, 1, TickMs)));
    }
}

} // namespace kelvara
