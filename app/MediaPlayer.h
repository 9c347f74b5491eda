// The media player: plays a video in a display window, with the operations of a media control
// device (open, time formats, length, position, mode, display rectangle, play, pause, stop,
// seek). Pictures come from the frame source, so the player reports the same frame count and
// length as the conversions see; sound goes to Qt's audio output, and while it plays its clock
// is the one the pictures follow.
#pragma once

#include "video/AudioTrack.h"
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
    // Why the open video's sound is not heard; empty when it plays or the video has none.
    const QString& soundProblem() const { return m_soundProblem; }
    // Where the sound of videos opened from now on goes; the default output device unless set.
    void setAudioOutputFactory(AudioOutputFactory factory) { m_makeOutput = std::move(factory); }

    const VideoFacts& facts() const { return m_facts; }

signals:
    // A picture went onto the display window.
    void frameShown(qint64 frame);
    void soundProblemChanged(const QString& text);

private:
    void tick();
    void showFrame(int64_t frame);
    int64_t toFrames(int64_t value) const;
    int64_t fromFrames(int64_t frames) const;
    // Media time of a frame's start, and the frame showing at a media time, in microseconds.
    int64_t frameToUs(int64_t frame) const;
    int64_t frameAtUs(int64_t us) const;
    // The media time of a running play: the sound's while it plays, else the timer's.
    int64_t clockUs() const;
    void startTimerClock(int64_t us);
    // Starts the sound of the play at a media time; the timer keeps the time when it cannot.
    void startSound(int64_t fromUs);
    // Gives the clock to the timer at the last time the sound reached, saying why.
    void loseSound(const QString& why);
    void setSoundProblem(const QString& text);

    std::unique_ptr<FrameReader> m_reader;
    std::unique_ptr<AudioTrack> m_audio;
    VideoFacts m_facts;
    // When each picture shows, for files whose pictures carry timestamps (owned by the reader);
    // AVI files show theirs at their rate.
    const FrameTimes* m_times = nullptr;
    TimeFormat m_format = TimeFormat::Milliseconds;
    Mode m_mode = NotReady;
    VideoDisplay* m_window = nullptr;
    QRect m_displayRect;
    std::optional<int64_t> m_start;
    std::optional<int64_t> m_end;
    int64_t m_frame = 0;    // current position in frames
    int64_t m_playFrom = 0; // first frame of the running play
    int64_t m_playTo = 0;   // last frame of the running play
    int64_t m_endUs = 0;    // where the running play ends: the end of its last frame
    int64_t m_pausedUs = 0; // the media time a pause stopped at
    int64_t m_shown = -1;   // frame on display
    // The timer clock: media time m_timerFromUs when m_clock started.
    QElapsedTimer m_clock;
    int64_t m_timerFromUs = 0;
    bool m_soundClock = false;  // the sound keeps the time
    int64_t m_lastSoundUs = 0;  // the last media time the sound reported
    QElapsedTimer m_soundMoved; // since that time last moved
    QTimer m_timer;
    int m_error = 0;
    int m_volume = 65535;
    AudioOutputFactory m_makeOutput;
    QString m_soundProblem;
};

} // namespace kelvara
