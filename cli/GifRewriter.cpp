// Rewriting a GIF's blocks as they pass.
#include "cli/GifRewriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kelvara::cli {

uint16_t SpeedDelays::next(uint16_t delay) {
    if (delay == 0)
        return 0;
    const double exact = delay / m_speed + m_carry;
    const double rounded = std::round(exact);
    const double shown = std::clamp<double>(rounded, 2, 65535);
    // A frame made longer than its time carries nothing on.
    m_carry = shown == rounded ? exact - shown : 0;
    return static_cast<uint16_t>(shown);
}

GifRewriter::GifRewriter(Stream& out, const GifRewrite& rewrite)
    : m_out(out), m_rewrite(rewrite), m_delays(rewrite.speed) {}

size_t GifRewriter::read(void*, size_t) {
    throw StreamError("The GIF being written cannot be read");
}

void GifRewriter::seek(uint64_t position) {
    if (position != m_accepted)
        throw StreamError("The GIF being written cannot seek");
}

void GifRewriter::emit(size_t count) {
    m_ready.insert(m_ready.end(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_offset),
                   m_pending.begin() + static_cast<std::ptrdiff_t>(m_offset + count));
    m_offset += count;
}

void GifRewriter::drop(size_t count) {
    m_offset += count;
}

bool GifRewriter::step() {
    const size_t have = m_pending.size() - m_offset;
    const uint8_t* p = m_pending.data() + m_offset;
    switch (m_state) {
    case State::Through:
        emit(have);
        return false;
    case State::Header: {
        if (have < 13)
            return false;
        if (std::memcmp(p, "GIF8", 4) != 0) {
            m_state = State::Through;
            return true;
        }
        const size_t table = (p[10] & 0x80) ? 3u << ((p[10] & 7) + 1) : 0;
        if (have < 13 + table)
            return false;
        emit(13 + table);
        m_state = State::Blocks;
        return true;
    }
    case State::Blocks: {
        if (have < 1)
            return false;
        if (p[0] == 0x3B) {
            m_state = State::Through;
            return true;
        }
        if (p[0] == 0x2C) {
            if (have < 10)
                return false;
            const size_t table = (p[9] & 0x80) ? 3u << ((p[9] & 7) + 1) : 0;
            if (have < 11 + table)
                return false;
            emit(11 + table); // the descriptor, its colour table and the LZW code size
            m_state = State::SubBlocks;
            m_dropping = false;
            return true;
        }
        if (p[0] != 0x21) {
            m_state = State::Through;
            return true;
        }
        if (have < 2)
            return false;
        if (p[1] == 0xF9) {
            if (have < 8)
                return false;
            if (p[2] == 4 && p[7] == 0 && m_rewrite.speed != 1) {
                const uint16_t delay = m_delays.next(static_cast<uint16_t>(p[4] | (p[5] << 8)));
                m_pending[m_offset + 4] = static_cast<uint8_t>(delay & 0xFF);
                m_pending[m_offset + 5] = static_cast<uint8_t>(delay >> 8);
            }
            if (p[2] == 4 && p[7] == 0) {
                emit(8);
                return true;
            }
        }
        if (p[1] == 0xFF && m_rewrite.dropLoop) {
            if (have < 3 || have < 3u + p[2])
                return false;
            const bool loop = p[2] == 11 && (std::memcmp(p + 3, "NETSCAPE2.0", 11) == 0 ||
                                             std::memcmp(p + 3, "ANIMEXTS1.0", 11) == 0);
            if (loop)
                drop(3u + p[2]);
            else
                emit(3u + p[2]);
            m_dropping = loop;
            m_state = State::SubBlocks;
            return true;
        }
        emit(2);
        m_dropping = false;
        m_state = State::SubBlocks;
        return true;
    }
    case State::SubBlocks: {
        if (have < 1 || have < 1u + p[0])
            return false;
        const size_t length = 1u + p[0];
        if (p[0] == 0)
            m_state = State::Blocks;
        if (m_dropping)
            drop(length);
        else
            emit(length);
        return true;
    }
    }
    return false;
}

void GifRewriter::write(const void* buffer, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    m_accepted += count;
    if (m_state == State::Through && m_offset == m_pending.size()) {
        m_out.write(bytes, count);
        return;
    }
    m_pending.insert(m_pending.end(), bytes, bytes + count);
    while (m_offset < m_pending.size() && step()) {
    }
    if (m_offset > 0) {
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_offset));
        m_offset = 0;
    }
    if (!m_ready.empty()) {
        m_out.write(m_ready.data(), m_ready.size());
        m_ready.clear();
    }
}

void GifRewriter::finish() {
    if (m_offset < m_pending.size())
        m_out.write(m_pending.data() + m_offset, m_pending.size() - m_offset);
    m_pending.clear();
    m_offset = 0;
}

std::vector<uint8_t> rewriteGif(const std::vector<uint8_t>& bytes, const GifRewrite& rewrite) {
    MemoryStream out;
    GifRewriter rewriter(out, rewrite);
    rewriter.write(bytes.data(), bytes.size());
    rewriter.finish();
    return std::move(out.bytes());
}

} // namespace kelvara::cli
