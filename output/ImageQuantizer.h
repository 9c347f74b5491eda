// The still-image writers' colour quantizer and the two reduction rules built on it.
#pragma once

#include "output/WriterSupport.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kelvara {

// Where the picture handed to the quantizer comes from. Only a Bitmap shown by the
// save-parameters preview can take the grey identity palette; the writers hand over their own
// working picture, which never does.
enum class QuantizerSource { WriterPicture, Bitmap };

// Reduces a true-colour picture to n colours (2..256) and maps colours to palette indexes:
// grey identity for an all-grey Bitmap asked for 256 colours, NeuQuant for 128 colours or more,
// histogram box splitting below.
class TImageQuantizer {
public:
    enum class Kind { GreyIdentity, NeuQuant, BoxSplitting };

    TImageQuantizer(const RgbPicture& picture, int colorCount,
                    QuantizerSource source = QuantizerSource::WriterPicture);

    Kind kind() const { return m_kind; }
    // n entries; entries an algorithm does not produce are black.
    const std::vector<Color>& palette() const { return m_palette; }
    int index(Color color) const;
    int index(int red, int green, int blue) const;

    // The NeuQuant sampling factor for a picture of this many pixels.
    static int samplingFactor(int64_t pixelCount);

private:
    void learnNeuQuant(const RgbPicture& picture);
    void buildNeuQuantIndex();
    int searchNeuQuant(int blue, int green, int red) const;
    void splitBoxes(const RgbPicture& picture);

    Kind m_kind = Kind::BoxSplitting;
    int m_count = 0;
    std::vector<Color> m_palette;
    // NeuQuant: neurons as blue, green, red and the neuron's number before ordering by green.
    std::vector<std::array<int, 4>> m_network;
    std::array<int, 256> m_greenIndex{};
    // Box splitting: palette index of each 5-5-5 bit cell (red, green, blue).
    std::vector<uint8_t> m_cellIndex;
};

// A picture reduced to palette indexes: one byte per pixel, rows from the top.
struct IndexedPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> indexes;
    std::vector<Color> palette;
};

// Palette quantization: a quantizer over the whole picture, then every pixel replaced by its index.
IndexedPicture quantizePicture(const RgbPicture& picture, int colorCount);

// The two-colour conversion to one bit per pixel. indexes holds 0 or 1 per pixel.
struct TwoColorPicture {
    IndexedPicture picture;
    // The picture held one colour only: palette is that colour and black, every pixel entry 0.
    bool singleColor = false;
};
TwoColorPicture twoColorPicture(const RgbPicture& picture);

// The two-colour picture for a format whose bilevel image has no palette of its own and shows
// bit 0 black and bit 1 white. Two colours keep their bits (the darker is already bit 0); a
// single colour becomes white when it is nearer white than black, else black.
std::vector<uint8_t> blackWhiteBits(const TwoColorPicture& twoColor);

// The 8 x 8 ordered-dither matrix, indexed [x mod 8][y mod 8].
extern const uint8_t BayerMatrix[8][8];

// Packs one row of indexes of the given bit depth, most significant bits first, into bytes.
void packIndexRow(const uint8_t* indexes, int width, int bits, uint8_t* out);

} // namespace kelvara
