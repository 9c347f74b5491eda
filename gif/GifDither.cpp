// Colour lookups: the cached nearest-entry search and the fixed cube palette.
#include "gif/GifDither.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace kelvara {

namespace {

ColorSearchPath bestSearchPath() {
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx2"))
        return ColorSearchPath::Avx2;
#endif
#if defined(__SSE2__)
    return ColorSearchPath::Sse2;
#else
    return ColorSearchPath::Scalar;
#endif
}

} // namespace

TFastColorLookup::TFastColorLookup(const GifRGB* palette, int count, ColorSearchPath path)
    : TColorLookup(std::clamp(count, 0, 256)),
      m_path(path != ColorSearchPath::Best && colorSearchPathAvailable(path) ? path : bestSearchPath()) {
    std::copy(palette, palette + m_colors, m_palette);
    m_padded = (m_colors + 7) / 8 * 8;
    for (int i = 0; i < 256; ++i) {
        // A padding entry is at least 3 * (2000 - 255) away from any colour: it never wins.
        m_red[i] = i < m_colors ? m_palette[i].red : 2000;
        m_green[i] = i < m_colors ? m_palette[i].green : 2000;
        m_blue[i] = i < m_colors ? m_palette[i].blue : 2000;
    }
    // The lowest index wins a cell that several entries share.
    for (int i = 0; i < m_colors; ++i) {
        const int cell = cellOf(m_palette[i].red, m_palette[i].green, m_palette[i].blue);
        if (!known(cell))
            remember(cell, i);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
namespace {

// The same search sixteen entries at a time, on processors that have AVX2.
__attribute__((target("avx2"))) int searchAvx2(const int16_t* reds, const int16_t* greens,
                                               const int16_t* blues, int count, int red, int green,
                                               int blue) {
    alignas(32) int16_t distance[256];
    const int padded = (count + 15) / 16 * 16; // the arrays hold far entries up to 256
    const __m256i r = _mm256_set1_epi16(static_cast<int16_t>(red));
    const __m256i g = _mm256_set1_epi16(static_cast<int16_t>(green));
    const __m256i b = _mm256_set1_epi16(static_cast<int16_t>(blue));
    __m256i smallest = _mm256_set1_epi16(0x7FFF);
    for (int i = 0; i < padded; i += 16) {
        const __m256i er = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(reds + i));
        const __m256i eg = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(greens + i));
        const __m256i eb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(blues + i));
        const __m256i d = _mm256_add_epi16(_mm256_add_epi16(_mm256_abs_epi16(_mm256_sub_epi16(er, r)),
                                                            _mm256_abs_epi16(_mm256_sub_epi16(eg, g))),
                                           _mm256_abs_epi16(_mm256_sub_epi16(eb, b)));
        _mm256_store_si256(reinterpret_cast<__m256i*>(distance + i), d);
        smallest = _mm256_min_epi16(smallest, d);
    }
    const __m128i half =
        _mm_min_epi16(_mm256_castsi256_si128(smallest), _mm256_extracti128_si256(smallest, 1));
    const __m256i target = _mm256_set1_epi16(static_cast<int16_t>(_mm_cvtsi128_si32(_mm_minpos_epu16(half))));
    for (int i = 0; i < padded; i += 16) {
        const unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(
            _mm256_cmpeq_epi16(_mm256_load_si256(reinterpret_cast<const __m256i*>(distance + i)), target)));
        if (mask)
            return i + __builtin_ctz(mask) / 2;
    }
    return 0;
}

} // namespace
#endif

bool colorSearchPathAvailable(ColorSearchPath path) {
    switch (path) {
    case ColorSearchPath::Best:
    case ColorSearchPath::Scalar:
        return true;
    case ColorSearchPath::Sse2:
#if defined(__SSE2__)
        return true;
#else
        return false;
#endif
    case ColorSearchPath::Avx2:
#if defined(__x86_64__) && defined(__GNUC__)
        return __builtin_cpu_supports("avx2");
#else
        return false;
#endif
    }
    return false;
}

uint32_t TFastColorLookup::search(int cell, int red, int green, int blue) {
    // Sum of absolute differences; an entry is taken only when strictly nearer, so the lowest
    // index wins among equals. The vectorised form finds the smallest distance, then the first
    // entry that has it: the same entry.
    int best = 0;
    switch (m_path) {
#if defined(__x86_64__) && defined(__GNUC__)
    case ColorSearchPath::Avx2:
        best = searchAvx2(m_red, m_green, m_blue, m_colors, red, green, blue);
        break;
#endif
#if defined(__SSE2__)
    case ColorSearchPath::Sse2: {
        alignas(16) int16_t distance[256];
        const __m128i r = _mm_set1_epi16(static_cast<int16_t>(red));
        const __m128i g = _mm_set1_epi16(static_cast<int16_t>(green));
        const __m128i b = _mm_set1_epi16(static_cast<int16_t>(blue));
        __m128i smallest = _mm_set1_epi16(0x7FFF);
        for (int i = 0; i < m_padded; i += 8) {
            const __m128i er = _mm_load_si128(reinterpret_cast<const __m128i*>(m_red + i));
            const __m128i eg = _mm_load_si128(reinterpret_cast<const __m128i*>(m_green + i));
            const __m128i eb = _mm_load_si128(reinterpret_cast<const __m128i*>(m_blue + i));
            const __m128i dr = _mm_max_epi16(_mm_sub_epi16(er, r), _mm_sub_epi16(r, er));
            const __m128i dg = _mm_max_epi16(_mm_sub_epi16(eg, g), _mm_sub_epi16(g, eg));
            const __m128i db = _mm_max_epi16(_mm_sub_epi16(eb, b), _mm_sub_epi16(b, eb));
            const __m128i d = _mm_add_epi16(_mm_add_epi16(dr, dg), db);
            _mm_store_si128(reinterpret_cast<__m128i*>(distance + i), d);
            smallest = _mm_min_epi16(smallest, d);
        }
        smallest = _mm_min_epi16(smallest, _mm_shuffle_epi32(smallest, _MM_SHUFFLE(1, 0, 3, 2)));
        smallest = _mm_min_epi16(smallest, _mm_shuffle_epi32(smallest, _MM_SHUFFLE(2, 3, 0, 1)));
        smallest = _mm_min_epi16(smallest, _mm_shufflelo_epi16(smallest, _MM_SHUFFLE(2, 3, 0, 1)));
        const __m128i target = _mm_set1_epi16(static_cast<int16_t>(_mm_cvtsi128_si32(smallest)));
        for (int i = 0; i < m_padded; i += 8) {
            const int mask = _mm_movemask_epi8(
                _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(distance + i)), target));
            if (mask) {
                best = i + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
                break;
            }
        }
        break;
    }
#endif
    default: {
        int bestDistance = 0x30000;
        for (int i = 0; i < m_colors; ++i) {
            const GifRGB& e = m_palette[i];
            const int distance = std::abs(e.red - red) + std::abs(e.green - green) + std::abs(e.blue - blue);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        break;
    }
    }
    remember(cell, best);
    return m_cache[cell];
}

TNetscapeColorLookup::TNetscapeColorLookup() : TColorLookup(216) {
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                m_palette[36 * r + 6 * g + b] = {static_cast<uint8_t>(51 * r), static_cast<uint8_t>(51 * g),
                                                 static_cast<uint8_t>(51 * b)};
}

} // namespace kelvara
