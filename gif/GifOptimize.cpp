// Inter-frame optimisation: changed rectangles, transparent unchanged pixels, compact tables.
#include "gif/GifOptimize.h"

#include "gif/GifDocument.h"
#include "gif/GifEncoder.h"
#include "raster/Lzw.h"
#include "raster/OrderedPipeline.h"
#include "raster/Stream.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <numeric>
#include <optional>

namespace kelvara {

namespace {

uint32_t packed(const GifRGB& c) {
    return (uint32_t(c.red) << 16) | (uint32_t(c.green) << 8) | uint32_t(c.blue);
}

// One way of storing a rectangle of the frame: its indices into a table of its own.
struct Stored {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint8_t> pixels;
    std::vector<GifRGB> table;
    int transparent = -1; // the transparent index, or none
    size_t bytes = 0;     // the table and the compressed pixels
};

// The bytes the stored form costs in the file: its table and its LZW data.
size_t storedBytes(const Stored& stored) {
    const int bits = TGIFColorMap::bitsFor(static_cast<int>(stored.table.size()));
    MemoryStream data;
    encodeGIFImage(0, data, bits, stored.width, stored.height, false, stored.pixels.data(),
                   static_cast<int>(stored.table.size()));
    return (size_t(3) << bits) + data.size();
}

// Chooses, for each pixel that may show either of two indices (the transparent one, or the colour
// the picture already has there), the one that makes the LZW strings longest. It runs the
// compressor's own greedy parse (GIF89a, Appendix F: strings of up to 4095 codes, then a clear
// code) with both choices open at such pixels; the compressor then finds the same strings in the
// pixels chosen. other[k] is the second index of pixel k, or -1 when it has only its own.
void chooseForLzw(std::vector<uint8_t>& pixels, const std::vector<int16_t>& other, int tableSize) {
    if (pixels.empty())
        return;
    const int clearCode = 1 << std::max(2, TGIFColorMap::bitsFor(tableSize));
    LzwStringTable strings(LzwStringTable::Chains::Unbounded, LzwStringTable::SimulationSizeBits);
    const auto find = [&](int prefix, int pixel) { return strings.find(prefix, pixel); };
    // How many pixels from k on a string that has reached code can take in, either choice of
    // each pixel allowed.
    const auto reach = [&](int code, size_t k) {
        size_t n = 0;
        for (; k + n < pixels.size(); ++n) {
            int next = find(code, pixels[k + n]);
            if (next < 0 && other[k + n] >= 0)
                next = find(code, other[k + n]);
            if (next < 0)
                break;
            code = next;
        }
        return n;
    };
    int next = clearCode + 2;
    int prefix = pixels[0];
    for (size_t k = 1; k < pixels.size(); ++k) {
        const int own = pixels[k], alternative = other[k];
        // Either choice that continues the string will do; the one the pixel before took first.
        int first = own, second = alternative;
        if (alternative >= 0 && alternative == pixels[k - 1])
            std::swap(first, second);
        int code = find(prefix, first);
        int chosen = first;
        const int secondCode = second >= 0 ? find(prefix, second) : -1;
        if (code < 0 && secondCode >= 0) {
            code = secondCode;
            chosen = second;
        } else if (code >= 0 && secondCode >= 0) {
            // Both continue it: the one whose string runs on longer.
            if (reach(secondCode, k + 1) > reach(code, k + 1)) {
                code = secondCode;
                chosen = second;
            }
        }
        if (code >= 0) {
            prefix = code;
            pixels[k] = static_cast<uint8_t>(chosen);
            continue;
        }
        // The string ends here; the next one starts with the choice whose string runs on longer
        // (the first choice when they run as far).
        if (second >= 0 && reach(second, k + 1) > reach(first, k + 1))
            std::swap(first, second);
        pixels[k] = static_cast<uint8_t>(first);
        if (next >= 4095) {
            strings.clear();
            next = clearCode + 2;
        } else {
            strings.insert(prefix, first, next);
            ++next;
        }
        prefix = first;
    }
}

// The rectangle of the frame with a table of only the entries it uses. With canvas given, the
// pixels equal to it become transparent, unless the table is full, or keep their colour where that
// makes longer LZW strings. Pixels that show nothing are transparent. False when there is no room
// for the transparent entry.
bool store(const std::vector<uint32_t>& colours, int screenWidth, const std::vector<uint8_t>& indices,
           const std::vector<GifRGB>& table, const uint32_t* canvas, Stored& out) {
    std::vector<int> newIndex(256, -1);
    std::vector<uint8_t> used;
    bool showsNothing = false;
    for (int y = out.top; y < out.top + out.height; ++y)
        for (int x = out.left; x < out.left + out.width; ++x) {
            const size_t at = size_t(y) * size_t(screenWidth) + size_t(x);
            if (colours[at] == ShowsNothing) {
                showsNothing = true;
                continue;
            }
            if (canvas && canvas[at] == colours[at])
                continue;
            if (newIndex[indices[at]] < 0) {
                newIndex[indices[at]] = static_cast<int>(used.size());
                used.push_back(indices[at]);
            }
        }
    const bool transparent = canvas || showsNothing;
    if (transparent && used.size() >= 256)
        return false;
    for (const uint8_t old : used)
        out.table.push_back(old < table.size() ? table[old] : GifRGB{});
    if (transparent) {
        out.transparent = static_cast<int>(out.table.size());
        out.table.push_back({});
    }
    if (out.table.empty())
        out.table.push_back({});
    out.pixels.resize(size_t(out.width) * size_t(out.height));
    // An unchanged pixel is transparent, or the entry of its colour when the table has one.
    std::vector<int16_t> other(canvas ? out.pixels.size() : 0, -1);
    std::vector<std::pair<uint32_t, int>> entryOf;
    for (size_t e = 0; e < used.size(); ++e)
        entryOf.emplace_back(packed(out.table[e]), static_cast<int>(e));
    std::sort(entryOf.begin(), entryOf.end());
    bool twice = false;
    for (size_t e = 1; e < entryOf.size(); ++e)
        twice = twice || entryOf[e].first == entryOf[e - 1].first;
    uint8_t* p = out.pixels.data();
    for (int y = out.top; y < out.top + out.height; ++y)
        for (int x = out.left; x < out.left + out.width; ++x, ++p) {
            const size_t at = size_t(y) * size_t(screenWidth) + size_t(x);
            if (colours[at] == ShowsNothing) {
                *p = static_cast<uint8_t>(out.transparent);
            } else if (canvas && canvas[at] == colours[at]) {
                *p = static_cast<uint8_t>(out.transparent);
                // The entry of the pixel's colour: its own index's, unless the table holds a
                // colour twice, when it is the first entry of that colour.
                int entry = twice ? -1 : newIndex[indices[at]];
                if (twice) {
                    const auto found =
                        std::lower_bound(entryOf.begin(), entryOf.end(), std::make_pair(colours[at], 0));
                    if (found != entryOf.end() && found->first == colours[at])
                        entry = found->second;
                }
                if (entry >= 0)
                    other[size_t(p - out.pixels.data())] = static_cast<int16_t>(entry);
            } else {
                *p = static_cast<uint8_t>(newIndex[indices[at]]);
            }
        }
    if (canvas)
        chooseForLzw(out.pixels, other, static_cast<int>(out.table.size()));
    out.bytes = storedBytes(out);
    return true;
}

// A rectangle, inclusive; empty while right is below left.
struct Box {
    int left = 0, top = 0, right = -1, bottom = -1;

    bool empty() const { return right < left; }
    void add(int x0, int x1, int y) {
        if (empty()) {
            *this = {x0, y, x1, y};
            return;
        }
        left = std::min(left, x0);
        right = std::max(right, x1);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    void add(const Box& other) {
        if (!other.empty()) {
            add(other.left, other.right, other.top);
            add(other.left, other.right, other.bottom);
        }
    }
};

// The rectangle that holds every pixel where now and previous differ.
Box changedBox(int width, const std::vector<uint32_t>& now, const std::vector<uint32_t>& previous) {
    Box box;
    const int height = width > 0 ? static_cast<int>(now.size() / size_t(width)) : 0;
    for (int y = 0; y < height; ++y) {
        const uint32_t* a = now.data() + size_t(y) * size_t(width);
        const uint32_t* b = previous.data() + size_t(y) * size_t(width);
        int x0 = 0;
        while (x0 < width && a[x0] == b[x0])
            ++x0;
        if (x0 == width)
            continue;
        int x1 = width - 1;
        while (a[x1] == b[x1])
            --x1;
        box.add(x0, x1, y);
    }
    return box;
}

} // namespace

std::vector<uint32_t> changeColours(const TGIFSubImage& frame) {
    const TGIFDocument* document = frame.Document();
    const int width = frame.Width(), height = frame.Height();
    const std::vector<GifRGB>& table = frame.ColorMap().Entries();
    const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    const int clear =
        frame.Transparent() && control && control->Transparent() ? control->TransparentColorIndex() : -1;
    const bool whole = document && frame.Left() == 0 && frame.Top() == 0 && width == document->Width() &&
                       height == document->Height() && !frame.Empty() &&
                       (!frame.Transparent() || clear >= 0) && !table.empty();
    if (!whole)
        return {};
    const size_t count = size_t(width) * size_t(height);
    const uint8_t* indices = frame.Data();
    std::vector<uint32_t> colours(count);
    for (size_t i = 0; i < count; ++i)
        colours[i] = indices[i] == clear         ? ShowsNothing
                     : indices[i] < table.size() ? packed(table[indices[i]])
                                                 : 0; // past the table: black
    return colours;
}

ChangePlan planChange(int width, const std::vector<uint32_t>& colours, const std::vector<uint32_t>& before,
                      const std::vector<uint32_t>& next, std::vector<uint32_t>* after) {
    ChangePlan plan;
    if (width <= 0 || colours.empty() || next.size() != colours.size())
        return plan;
    // The pixels this frame shows and the next one does not.
    Box uncovered;
    const int height = static_cast<int>(colours.size() / size_t(width));
    for (int y = 0; y < height; ++y) {
        const uint32_t* now = colours.data() + size_t(y) * size_t(width);
        const uint32_t* then = next.data() + size_t(y) * size_t(width);
        for (int x = 0; x < width; ++x)
            if (then[x] == ShowsNothing && now[x] != ShowsNothing)
                uncovered.add(x, x, y);
    }
    if (uncovered.empty())
        return plan;
    // Cleared after it shows: the rectangle the frame is stored as goes back to nothing, so it
    // holds the uncovered pixels as well as the changes.
    Box box = uncovered;
    if (before.size() == colours.size())
        box.add(changedBox(width, colours, before));
    else
        box = {0, 0, width - 1, height - 1}; // stored whole
    plan = {true, box.left, box.top, box.right, box.bottom};
    if (after) {
        *after = colours;
        for (int y = box.top; y <= box.bottom; ++y)
            std::fill_n(after->data() + size_t(y) * size_t(width) + size_t(box.left),
                        box.right - box.left + 1, ShowsNothing);
    }
    return plan;
}

void storeAsChange(TGIFSubImage& frame, const std::vector<uint32_t>& colours,
                   const std::vector<uint32_t>& before, const ChangePlan& plan) {
    const int width = frame.Width(), height = frame.Height();
    const std::vector<GifRGB>& table = frame.ColorMap().Entries();
    const size_t count = size_t(width) * size_t(height);
    const std::vector<uint8_t> indices(frame.Data(), frame.Data() + count);
    const bool known = !before.empty() && before.size() == count;

    Stored best;
    if (!known) {
        best.width = width;
        best.height = height;
        store(colours, width, indices, table, nullptr, best);
    } else {
        // The rectangle that holds every changed pixel, and what the plan adds.
        Box box = changedBox(width, colours, before);
        if (plan.clearAfter)
            box.add(Box{std::clamp(plan.left, 0, width - 1), std::clamp(plan.top, 0, height - 1),
                        std::clamp(plan.right, 0, width - 1), std::clamp(plan.bottom, 0, height - 1)});
        const int left = box.left, right = box.right, top = box.top, bottom = box.bottom;
        if (box.empty()) {
            // Nothing changed: one transparent pixel keeps the frame and its delay.
            best.width = best.height = 1;
            best.table = {GifRGB{}, GifRGB{}};
            best.transparent = 0;
            best.pixels = {0};
        } else {
            Stored opaque, clear;
            opaque.left = clear.left = left;
            opaque.top = clear.top = top;
            opaque.width = clear.width = right - left + 1;
            opaque.height = clear.height = bottom - top + 1;
            store(colours, width, indices, table, nullptr, opaque);
            const bool clearStored = store(colours, width, indices, table, before.data(), clear);
            if (clearStored && clear.bytes < opaque.bytes)
                best = std::move(clear);
            else
                best = std::move(opaque);
        }
    }

    if (plan.clearAfter && best.transparent < 0 && best.table.size() < 256) {
        // A frame cleared after it shows names a transparent colour even when it shows none: a
        // player may clear a frame without one to the background colour instead of to nothing.
        best.transparent = static_cast<int>(best.table.size());
        best.table.push_back({});
    }
    frame.SetBounds(static_cast<uint16_t>(best.left), static_cast<uint16_t>(best.top),
                    static_cast<uint16_t>(best.width), static_cast<uint16_t>(best.height));
    std::copy(best.pixels.begin(), best.pixels.end(), frame.Data());
    TGIFLocalColorMap& map = frame.ColorMap();
    map.Clear();
    for (const GifRGB& c : best.table)
        map.Add(c);
    TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    if (!control) {
        auto made = std::make_unique<TGIFGraphicControlExtension>(&frame);
        control = made.get();
        frame.Extensions().Append(std::move(made));
    }
    // Do not dispose: the next frame is drawn over this one; or restore to background, when the
    // next frame shows nothing where this one shows a colour.
    control->SetDisposal(plan.clearAfter ? 2 : 1);
    control->SetTransparent(best.transparent >= 0);
    control->SetTransparentColorIndex(static_cast<uint8_t>(std::max(best.transparent, 0)));
}

bool shareColorTable(TGIFDocument& document) {
    const int frames = document.FrameCount();
    if (frames < 2 || document.Header().ColorMap().Count() > 0)
        return false;
    // Every colour the frames show, with the number of frames that show it, and whether any
    // frame needs a transparent entry.
    std::vector<std::pair<uint32_t, int>> colours; // colour, frames
    std::vector<std::vector<uint32_t>> shownBy(static_cast<size_t>(frames));
    bool transparent = false;
    for (int i = 0; i < frames; ++i) {
        const TGIFSubImage& frame = document.Frame(i);
        const std::vector<GifRGB>& table = frame.ColorMap().Entries();
        if (frame.Empty() || table.empty())
            return false;
        const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
        const int clear = control && control->Transparent() ? control->TransparentColorIndex() : -1;
        transparent = transparent || clear >= 0;
        std::vector<bool> seen(256, false);
        const uint8_t* p = frame.Data();
        for (size_t k = 0; k < frame.DataSize(); ++k) {
            const int index = p[k];
            if (index == clear || seen[size_t(index)])
                continue;
            if (index >= int(table.size()))
                return false;
            seen[size_t(index)] = true;
            shownBy[size_t(i)].push_back(packed(table[size_t(index)]));
        }
        for (const uint32_t c : shownBy[size_t(i)]) {
            auto found =
                std::find_if(colours.begin(), colours.end(), [&](const auto& e) { return e.first == c; });
            if (found == colours.end()) {
                if (colours.size() >= 256)
                    return false;
                colours.emplace_back(c, 1);
            } else {
                ++found->second;
            }
        }
    }
    // The transparent entry first, then the colours most frames show: a frame that uses only the
    // first entries is written with fewer bits per code.
    const size_t first = transparent ? 1 : 0;
    if (colours.size() + first > 256)
        return false;
    std::stable_sort(colours.begin(), colours.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    TGIFColorMap& global = document.Header().ColorMap();
    if (transparent)
        global.Add({});
    for (const auto& c : colours)
        global.Add({uint8_t(c.first >> 16), uint8_t(c.first >> 8), uint8_t(c.first)});
    auto globalIndex = [&](uint32_t c) {
        const auto at =
            std::find_if(colours.begin(), colours.end(), [&](const auto& e) { return e.first == c; });
        return static_cast<int>(first + size_t(at - colours.begin()));
    };
    for (int i = 0; i < frames; ++i) {
        TGIFSubImage& frame = document.Frame(i);
        const std::vector<GifRGB>& table = frame.ColorMap().Entries();
        TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
        const int clear = control && control->Transparent() ? control->TransparentColorIndex() : -1;
        std::vector<int> map(256, 0);
        for (size_t e = 0; e < table.size(); ++e)
            if (int(e) != clear && std::find(shownBy[size_t(i)].begin(), shownBy[size_t(i)].end(),
                                             packed(table[e])) != shownBy[size_t(i)].end())
                map[e] = globalIndex(packed(table[e]));
        int highest = 0;
        uint8_t* p = frame.Data();
        for (size_t k = 0; k < frame.DataSize(); ++k) {
            p[k] = static_cast<uint8_t>(p[k] == clear ? 0 : map[p[k]]);
            highest = std::max<int>(highest, p[k]);
        }
        frame.ColorMap().Clear();
        if (clear >= 0)
            control->SetTransparentColorIndex(0);
        frame.SetCodeBits(TGIFColorMap::bitsFor(highest + 1));
    }
    return true;
}

void mergeUnchangedFrames(TGIFDocument& document) {
    for (int i = document.FrameCount() - 1; i >= 1; --i) {
        TGIFSubImage& frame = document.Frame(i);
        const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
        if (!control || !control->Transparent() || ((control->Packed() >> 2) & 7) != 1 ||
            frame.Extensions().Count() != 1)
            continue;
        const uint8_t* p = frame.Data();
        if (!std::all_of(p, p + frame.DataSize(),
                         [&](uint8_t v) { return v == control->TransparentColorIndex(); }))
            continue;
        TGIFGraphicControlExtension* before = document.Frame(i - 1).GraphicControlExtension();
        if (!before || int(before->DelayHundredths()) + control->DelayHundredths() > 65535)
            continue;
        // A frame before that is cleared after it shows does not show on through this one.
        if (((before->Packed() >> 2) & 7) == 2)
            continue;
        before->SetDelayHundredths(
            static_cast<uint16_t>(before->DelayHundredths() + control->DelayHundredths()));
        document.Frames().Delete(i);
    }
}

bool shareColorTablePartly(TGIFDocument& document) {
    const int frames = document.FrameCount();
    if (frames < 2 || document.Header().ColorMap().Count() > 0)
        return false;
    // Each frame's table, its transparent index and the entries its pixels use.
    struct Use {
        std::vector<uint32_t> table;
        int clear = -1;
        std::vector<bool> used;
    };
    std::vector<Use> uses(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const TGIFSubImage& frame = document.Frame(i);
        Use& use = uses[size_t(i)];
        for (const GifRGB& c : frame.ColorMap().Entries())
            use.table.push_back(packed(c));
        if (frame.Empty() || use.table.empty())
            return false;
        const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
        use.clear = control && control->Transparent() ? control->TransparentColorIndex() : -1;
        use.used.assign(use.table.size(), false);
        const uint8_t* p = frame.Data();
        for (size_t k = 0; k < frame.DataSize(); ++k) {
            if (p[k] == use.clear)
                continue;
            if (p[k] >= use.table.size())
                return false;
            use.used[p[k]] = true;
        }
    }
    // The global table: the colours of as many frames as fit in 255 entries, the frames that
    // show the fewest colours first. A frame can use it when it holds every colour the frame
    // shows and, when it has transparent pixels, an entry the frame does not show (the table is
    // padded to a power of two).
    auto fitsIn = [](const Use& use, const std::vector<uint32_t>& table, std::vector<int>* map) {
        const size_t slots = size_t(1) << TGIFColorMap::bitsFor(static_cast<int>(table.size()));
        std::vector<bool> taken(slots, false);
        if (map)
            map->assign(use.table.size(), -1);
        for (size_t e = 0; e < use.table.size(); ++e) {
            if (!use.used[e])
                continue;
            const auto at = std::find(table.begin(), table.end(), use.table[e]);
            if (at == table.end())
                return -1;
            const size_t g = size_t(at - table.begin());
            taken[g] = true;
            if (map)
                (*map)[e] = static_cast<int>(g);
        }
        if (use.clear < 0)
            return 256; // no transparent entry needed
        const auto free = std::find(taken.begin(), taken.end(), false);
        return free == taken.end() ? -1 : static_cast<int>(free - taken.begin());
    };
    std::vector<size_t> order(uses.size());
    std::iota(order.begin(), order.end(), size_t(0));
    auto shown = [&](size_t i) { return std::count(uses[i].used.begin(), uses[i].used.end(), true); };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return shown(a) < shown(b); });
    std::vector<uint32_t> global;
    int sharing = 0;
    for (const size_t i : order) {
        std::vector<uint32_t> added;
        for (size_t e = 0; e < uses[i].table.size(); ++e)
            if (uses[i].used[e] &&
                std::find(global.begin(), global.end(), uses[i].table[e]) == global.end() &&
                std::find(added.begin(), added.end(), uses[i].table[e]) == added.end())
                added.push_back(uses[i].table[e]);
        if (global.size() + added.size() > 255)
            continue;
        global.insert(global.end(), added.begin(), added.end());
        ++sharing;
    }
    if (sharing < 2)
        return false;
    TGIFColorMap& map = document.Header().ColorMap();
    for (const uint32_t c : global)
        map.Add({uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    for (int i = 0; i < frames; ++i) {
        std::vector<int> remap;
        const int clear = fitsIn(uses[size_t(i)], global, &remap);
        if (clear < 0)
            continue; // keeps its own table
        TGIFSubImage& frame = document.Frame(i);
        const int oldClear = uses[size_t(i)].clear;
        int highest = 0;
        uint8_t* p = frame.Data();
        for (size_t k = 0; k < frame.DataSize(); ++k) {
            p[k] = static_cast<uint8_t>(p[k] == oldClear ? clear : remap[p[k]]);
            highest = std::max<int>(highest, p[k]);
        }
        frame.ColorMap().Clear();
        if (oldClear >= 0)
            frame.GraphicControlExtension()->SetTransparentColorIndex(static_cast<uint8_t>(clear));
        frame.SetCodeBits(TGIFColorMap::bitsFor(highest + 1));
    }
    return true;
}

void optimizeFrames(TGIFDocument& document, int threads,
                    const std::function<bool(int done, int total)>& keepGoing) {
    // Each frame's colours are taken, in display order, before it goes to the workers, which store
    // it as its change from the colours of the frame before it.
    struct Change {
        TGIFSubImage* frame;
        std::shared_ptr<const std::vector<uint32_t>> colours;
        std::shared_ptr<const std::vector<uint32_t>> before;
        ChangePlan plan;
    };
    const int workers = std::max(1, threads);
    OrderedPipeline<Change> changes(workers, 2 * workers + 2, [](Change& change) {
        if (!change.colours->empty())
            storeAsChange(*change.frame, *change.colours, *change.before, change.plan);
    });
    const auto takeOldest = [&changes] {
        while (!changes.takeNext(std::chrono::seconds(1))) {
        }
    };
    // A frame waits for the colours of the one after it, which tell whether it must be cleared
    // after it shows (the next frame shows nothing where it shows a colour), and so what the next
    // frame is drawn over.
    auto before = std::make_shared<const std::vector<uint32_t>>();
    std::optional<Change> waiting;
    std::shared_ptr<const std::vector<uint32_t>> first;
    const auto submit = [&](const std::vector<uint32_t>& next) {
        std::vector<uint32_t> after;
        waiting->plan = planChange(document.Width(), *waiting->colours, *waiting->before, next, &after);
        before = waiting->plan.clearAfter ? std::make_shared<const std::vector<uint32_t>>(std::move(after))
                                          : waiting->colours;
        if (changes.full())
            takeOldest();
        changes.submit(std::move(*waiting));
        waiting.reset();
    };
    const std::vector<uint32_t> none;
    bool stopped = false;
    for (int i = 0; i < document.FrameCount(); ++i) {
        // Stopped here: the frame waiting is stored against this one, which stays whole.
        stopped = keepGoing && !keepGoing(i, document.FrameCount());
        auto colours = std::make_shared<const std::vector<uint32_t>>(changeColours(document.Frame(i)));
        if (waiting)
            submit(document.Frame(i).Transparent() ? *colours : none);
        if (stopped)
            break;
        if (i == 0)
            first = colours;
        waiting = Change{&document.Frame(i), colours, before, {}};
    }
    // The last frame is followed by the first as the animation loops.
    if (waiting)
        submit(document.Frame(0).Transparent() ? *first : none);
    while (changes.inFlight() > 0)
        takeOldest();
    if (stopped)
        return;
    mergeUnchangedFrames(document);
    // Few colours in all: one global table may cost less than a table in every frame (its codes
    // can be wider, so both are measured). Most videos show too many colours for one table, and
    // then nothing is encoded here.
    TGIFDocument shared;
    shared.Assign(&document);
    if (!shareColorTable(shared)) {
        // Too many colours for one table: one that many frames can use instead of their own.
        shared.Assign(&document);
        if (!shareColorTablePartly(shared))
            return;
    }
    MemoryStream local, global;
    document.SaveToStream(local);
    shared.SaveToStream(global);
    if (global.size() < local.size())
        document.Take(shared);
}

} // namespace kelvara
