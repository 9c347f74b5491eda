// Changes to a GIF made as its bytes pass on to the output: the looping block dropped (a GIF
// that plays once), and every frame's delay divided by a speed, the rounding error carried from
// frame to frame so that the whole keeps its length.
#pragma once

#include "raster/Stream.h"

#include <cstdint>
#include <vector>

namespace kelvara::cli {

struct GifRewrite {
    bool dropLoop = false;
    double speed = 1;
    bool any() const { return dropLoop || speed != 1; }
};

// The delay of each frame at the speed, in hundredths: delay / speed with the error carried, at
// least 2 hundredths (browsers play less as 10) unless the delay was 0, at most 65535; a frame
// made longer so carries nothing on.
class SpeedDelays {
public:
    explicit SpeedDelays(double speed) : m_speed(speed) {}
    uint16_t next(uint16_t delay);

private:
    double m_speed;
    double m_carry = 0;
};

// A write-only stream that rewrites the GIF written into it and passes it on to out. Bytes that
// do not look like a GIF's blocks are passed on as they are.
class GifRewriter final : public Stream {
public:
    GifRewriter(Stream& out, const GifRewrite& rewrite);
    size_t read(void* buffer, size_t count) override;
    void write(const void* buffer, size_t count) override;
    uint64_t position() const override { return m_accepted; }
    void seek(uint64_t position) override;
    uint64_t size() const override { return m_accepted; }
    // Passes on whatever is still held (a GIF cut short).
    void finish();

private:
    enum class State { Header, Blocks, SubBlocks, Through };
    bool step(); // handles one unit of the pending bytes; false when more are needed
    void emit(size_t count);
    void drop(size_t count);

    Stream& m_out;
    GifRewrite m_rewrite;
    SpeedDelays m_delays;
    State m_state = State::Header;
    bool m_dropping = false; // the sub-blocks being read belong to a dropped block
    std::vector<uint8_t> m_pending;
    size_t m_offset = 0; // bytes of m_pending already handled
    std::vector<uint8_t> m_ready;
    uint64_t m_accepted = 0;
};

// The GIF's bytes rewritten.
std::vector<uint8_t> rewriteGif(const std::vector<uint8_t>& bytes, const GifRewrite& rewrite);

} // namespace kelvara::cli
