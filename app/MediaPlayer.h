// The media player: plays an AVI in a display window, with the operations of a media control
// device (open, time formats, length, position, mode, display rectangle, play, pause, stop,
// seek). Pictures come from the frame source, so the player reports the same frame count and
// length as the conversions see; sound goes to Qt's audio output.
#pragma once

#include "video/FrameSource.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

namespace kelvara {

class AudioTrack;

// The window the player draws into: the picture scaled into the display rectangle.
class VideoDisplay : public QWidget {
    Q_OBJECT
public:
    explicit VideoDisplay(QWidget* parent = nullptr);
    void showPicture(const QImage& picture, const QRect& displayRect);
    const QImage& picture() const { return m_picture; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage m_picture;
    QRect m_rect;
};

class MediaPlayer : public QObject {
    Q_OBJECT
public:
    enum class TimeFormat { Milliseconds = 0, Frames = 3 };
    // The device modes, as the media control interface numbers them (its value minus 524).
    enum Mode { NotReady = 0, Stopped = 1, Playing = 2, Recording = 3, Seeking = 4, Paused = 5, Open = 6 };
    // The error code a seek outside the video records.
    static constexpr int OutOfRangeError = 263;

    explicit MediaPlayer(QObject* parent = nullptr);
    ~MediaPlayer() override;

    // Opens the file; throws Error with the reason when it cannot be played.
    void open(const std::string& path);
    void close();
    bool isOpen() const { return m_reader != nullptr; }

    void setTimeFormat(TimeFormat format) { m_format = format; }
    TimeFormat timeFormat() const { return m_format; }
    // Length and position in the current time format.
    int64_t length() const;
    int64_t position() const;
    Mode mode() const { return m_mode; }

    // The display rectangle (left, top, width, height) inside the display window.
    QRect displayRect() const { return m_displayRect; }
    // A rectangle of width and height 0 means the video's own size.
    void setDisplayRect(const QRect& rect);
    void setDisplayWindow(VideoDisplay* window);

    // One-shot start and end positions that the next play uses and then forgets.
    void setStartPosition(int64_t position) { m_start = position; }
    void setEndPosition(int64_t position) { m_end = position; }
    void play();
    // Pauses a playing device and resumes a paused one; does nothing otherwise.
    void pauseOperation();
    void stop();
    // Moves the position and stops a playing device. A position outside the video only records
    // an error code.
    void seek(int64_t position);
    int lastError() const { return m_error; }

    // Output level of both channels, 0..65535.
    void setVolume(int level);
    int volume() const { return m_volume; }
    bool hasAudio() const;

    const VideoFacts& facts() const { return m_facts; }

private:
    void tick();
    void showFrame(int64_t frame);
    int64_t toFrames(int64_t value) const;
    int64_t fromFrames(int64_t frames) const;
    int64_t clockFrame() const;
    int64_t frameToMs(int64_t frame) const;

    std::unique_ptr<FrameReader> m_reader;
    std::unique_ptr<AudioTrack> m_audio;
    VideoFacts m_facts;
    TimeFormat m_format = TimeFormat::Milliseconds;
    Mode m_mode = NotReady;
    VideoDisplay* m_window = nullptr;
    QRect m_displayRect;
    std::optional<int64_t> m_start;
    std::optional<int64_t> m_end;
    int64_t m_frame = 0;    // current position in frames
    int64_t m_playFrom = 0; // where the clock started
    int64_t m_playTo = 0;   // last frame of the running play
    int64_t m_shown = -1;   // frame on display
    QElapsedTimer m_clock;
    QTimer m_timer;
    int m_error = 0;
    int m_volume = 65535;
};

} // namespace kelvara
