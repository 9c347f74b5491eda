// The exact nearest entry of a refined palette.
#include "gif/GifPaletteSearch.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace kelvara {

namespace {

// A padding entry is more than 3 * 1700^2 away from any colour and never wins; its squares still
// fit the multiply-add's 32-bit sums.
constexpr int16_t Far = 2000;

int findScalar(const int16_t* redGreen, const int16_t* blueZero, int count, int red, int green, int blue) {
    int best = INT_MAX, bestAt = 0;
    for (int i = 0; i < count; ++i) {
        const int d = squared(redGreen[2 * i] - red) + squared(redGreen[2 * i + 1] - green) +
                      squared(blueZero[2 * i] - blue);
        if (d < best) {
            best = d;
            bestAt = i;
        }
    }
    return bestAt;
}

#if defined(__x86_64__) && defined(__GNUC__)
// Eight entries a step: the differences of red and green side by side, squared and summed in one
// multiply-add, blue's in another; the smallest sum, then the first entry that has it.
__attribute__((target("avx2"))) int findAvx2(const int16_t* redGreen, const int16_t* blueZero, int count,
                                             int red, int green, int blue) {
    alignas(32) int32_t distance[256];
    const int padded = (count + 7) / 8 * 8;
    const __m256i rg = _mm256_set1_epi32(int32_t((uint32_t(uint16_t(green)) << 16) | uint16_t(red)));
    const __m256i b0 = _mm256_set1_epi32(blue);
    __m256i smallest = _mm256_set1_epi32(INT32_MAX);
    for (int i = 0; i < padded; i += 8) {
        const __m256i drg =
            _mm256_sub_epi16(_mm256_load_si256(reinterpret_cast<const __m256i*>(redGreen + 2 * i)), rg);
        const __m256i db =
            _mm256_sub_epi16(_mm256_load_si256(reinterpret_cast<const __m256i*>(blueZero + 2 * i)), b0);
        const __m256i d = _mm256_add_epi32(_mm256_madd_epi16(drg, drg), _mm256_madd_epi16(db, db));
        _mm256_store_si256(reinterpret_cast<__m256i*>(distance + i), d);
        smallest = _mm256_min_epi32(smallest, d);
    }
    __m128i m = _mm_min_epi32(_mm256_castsi256_si128(smallest), _mm256_extracti128_si256(smallest, 1));
    m = _mm_min_epi32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
    m = _mm_min_epi32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
    const __m256i target = _mm256_broadcastd_epi32(m);
    for (int i = 0; i < padded; i += 8) {
        const unsigned mask = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(
            _mm256_cmpeq_epi32(_mm256_load_si256(reinterpret_cast<const __m256i*>(distance + i)), target))));
        if (mask)
            return i + __builtin_ctz(mask);
    }
    return 0;
}

const bool HaveAvx2 = __builtin_cpu_supports("avx2");
#endif

} // namespace

NearestSearch::NearestSearch(const std::vector<GifRGB>& palette)
    : m_count(static_cast<int>(std::min<size_t>(palette.size(), 256))) {
    std::vector<int> order(static_cast<size_t>(m_count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return palette[size_t(a)].green < palette[size_t(b)].green; });
    for (int k = 0; k < m_count; ++k) {
        const GifRGB& c = palette[size_t(order[size_t(k)])];
        m_red[k] = c.red;
        m_green[k] = c.green;
        m_blue[k] = c.blue;
        m_index[k] = static_cast<uint8_t>(order[size_t(k)]);
        m_position[order[size_t(k)]] = k;
    }
    for (int i = 0; i < 256; ++i) {
        const bool entry = i < m_count;
        m_redGreen[2 * i] = entry ? palette[size_t(i)].red : Far;
        m_redGreen[2 * i + 1] = entry ? palette[size_t(i)].green : Far;
        m_blueZero[2 * i] = entry ? palette[size_t(i)].blue : Far;
        m_blueZero[2 * i + 1] = 0;
    }
}

int NearestSearch::findAll(int red, int green, int blue) const {
    if (m_count == 0)
        return 0;
#if defined(__x86_64__) && defined(__GNUC__)
    if (HaveAvx2)
        return findAvx2(m_redGreen, m_blueZero, m_count, red, green, blue);
#endif
    return findScalar(m_redGreen, m_blueZero, m_count, red, green, blue);
}

} // namespace kelvara
