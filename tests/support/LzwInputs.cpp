// Pixel sequences that drive the GIF engine's LZW table into its limits.
#include "support/LzwInputs.h"

#include <map>
#include <random>

namespace kelvara::test {

namespace {

bool isResidue(uint32_t h) {
    // The powers of 2 modulo 8009.
    static const std::vector<bool> residue = [] {
        std::vector<bool> r(8009, false);
        uint32_t power = 1;
        for (int i = 0; i < 4004; ++i) {
            r[power] = true;
            power = power * 2 % 8009;
        }
        return r;
    }();
    return h != 0 && residue[h];
}

bool residueKey(int prefix, int pixel) {
    const uint32_t key = (static_cast<uint32_t>(prefix) << 8) | static_cast<uint32_t>(pixel);
    return isResidue(((key >> 4) ^ key) % 8009);
}

} // namespace

std::vector<uint8_t> fullChainIndexes(int bits, size_t tail, int width, uint32_t seed) {
    const int colours = 1 << bits;
    std::mt19937 random(seed);
    // The encoder's table as it grows (no string is left out before the class is full).
    std::map<std::pair<int, int>, int> table;
    int next = colours + 2;
    int residues = 0;
    std::vector<uint8_t> out;
    int prefix = 0;
    out.push_back(0);
    // The path from a string to a place where a new string hashing into the residues can begin:
    // the pixels that extend the string down the table, then the new string's last pixel.
    const auto pathFrom = [&](int start, std::vector<int>& path) {
        std::vector<std::pair<int, std::vector<int>>> frontier{{start, {}}};
        for (size_t i = 0; i < frontier.size(); ++i) {
            const auto [code, steps] = frontier[i];
            const int first = static_cast<int>(random() % static_cast<uint32_t>(colours));
            for (int j = 0; j < colours; ++j) {
                const int pixel = (first + j) % colours;
                const auto found = table.find({code, pixel});
                if (found == table.end() && residueKey(code, pixel)) {
                    path = steps;
                    path.push_back(pixel);
                    return true;
                }
            }
            for (int pixel = 0; pixel < colours; ++pixel) {
                const auto found = table.find({code, pixel});
                if (found != table.end()) {
                    std::vector<int> longer = steps;
                    longer.push_back(pixel);
                    frontier.emplace_back(found->second, std::move(longer));
                }
            }
        }
        return false;
    };
    while (residues < 4004 && next < 4095) {
        std::vector<int> path;
        if (!pathFrom(prefix, path))
            path = {static_cast<int>(random() % static_cast<uint32_t>(colours))};
        for (size_t i = 0; i + 1 < path.size(); ++i) {
            out.push_back(static_cast<uint8_t>(path[i]));
            prefix = table.at({prefix, path[i]});
        }
        const int pixel = path.back();
        out.push_back(static_cast<uint8_t>(pixel));
        if (!table.count({prefix, pixel})) {
            residues += residueKey(prefix, pixel) ? 1 : 0;
            table[{prefix, pixel}] = next++;
            prefix = pixel;
        } else {
            prefix = table.at({prefix, pixel});
        }
    }
    // A short random run again and again: the strings its first pass makes, some of them left
    // out, are what the later passes look for.
    std::vector<uint8_t> run(24);
    for (uint8_t& pixel : run)
        pixel = static_cast<uint8_t>(random() % static_cast<uint32_t>(colours));
    for (size_t i = 0; i < tail || out.size() % static_cast<size_t>(width) != 0; ++i)
        out.push_back(run[i % run.size()]);
    return out;
}

} // namespace kelvara::test
