// The media player on the frame source, with a display window and Qt audio output.
#include "app/MediaPlayer.h"

#include "app/AudioTrack.h"
#include "preview/qt/ImageView.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

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

MediaPlayer::MediaPlayer(QObject* parent) : QObject(parent) {
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &MediaPlayer::tick);
}

MediaPlayer::~MediaPlayer() = default;

void MediaPlayer::open(const std::string& path) {
    auto reader = std::make_unique<FrameReader>();
    reader->open(path); // throws the frame source's message
    close();
    m_reader = std::move(reader);
    m_facts = m_reader->facts();
    m_displayRect = QRect(0, 0, m_facts.width, m_facts.height);
    m_mode = Stopped;
    m_frame = 0;
    m_shown = -1;
    m_error = 0;
    m_start.reset();
    m_end.reset();
    m_audio = AudioTrack::open(path);
    if (m_audio)
        m_audio->setVolume(m_volume);
    showFrame(0);
}

void MediaPlayer::close() {
    m_timer.stop();
    m_audio.reset();
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

int64_t MediaPlayer::frameToMs(int64_t frame) const {
    return m_facts.frameCount > 0 ? frame * m_facts.lengthMs / m_facts.frameCount : 0;
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
    }
}

int64_t MediaPlayer::clockFrame() const {
    if (m_facts.lengthMs <= 0)
        return m_playFrom;
    return m_playFrom + m_clock.elapsed() * m_facts.frameCount / m_facts.lengthMs;
}

void MediaPlayer::play() {
    if (!m_reader)
        return;
    int64_t last = m_facts.frameCount - 1;
    if (m_start)
        m_frame = std::clamp<int64_t>(toFrames(*m_start), 0, std::max<int64_t>(0, last));
    m_playTo = m_end ? std::clamp<int64_t>(toFrames(*m_end), 0, last) : last;
    m_start.reset();
    m_end.reset();
    if (m_frame >= m_playTo && m_frame >= last)
        m_frame = m_playTo; // at the end: nothing to play
    m_playFrom = m_frame;
    m_clock.start();
    m_mode = Playing;
    if (m_audio)
        m_audio->start(frameToMs(m_frame));
    m_timer.start();
    showFrame(m_frame);
}

void MediaPlayer::pauseOperation() {
    if (m_mode == Playing) {
        m_frame = std::min(clockFrame(), m_playTo);
        m_timer.stop();
        if (m_audio)
            m_audio->stop();
        m_mode = Paused;
        showFrame(m_frame);
    } else if (m_mode == Paused) {
        m_playFrom = m_frame;
        m_clock.start();
        m_mode = Playing;
        if (m_audio)
            m_audio->start(frameToMs(m_frame));
        m_timer.start();
    }
}

void MediaPlayer::stop() {
    if (m_mode == Playing)
        m_frame = std::min(clockFrame(), m_playTo);
    m_timer.stop();
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
    int64_t frame = clockFrame();
    if (frame >= m_playTo) {
        frame = m_playTo;
        m_timer.stop();
        if (m_audio)
            m_audio->stop();
        m_mode = Stopped;
    }
    m_frame = frame;
    showFrame(frame);
    if (m_audio && m_mode == Playing)
        m_audio->feed();
}

} // namespace kelvara
