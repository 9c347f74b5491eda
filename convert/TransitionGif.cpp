// The transition job's GIF document.
#include "convert/TransitionGif.h"

#include "gif/GifDocument.h"

#include <memory>

namespace kelvara {

namespace {

class GifFrameSink final : public TransitionFrameSink {
public:
    explicit GifFrameSink(TGIFDocument& document) : m_document(document) {}

    void addFrame(const Bitmap& frame, int, int delayHundredths) override {
        const int index = m_document.AddFrame(frame);
        TGIFSubImage& image = m_document.Frame(index);
        if (index == 0) {
            auto loop = std::make_unique<TGIFAppExtNSLoop>(&image);
            loop->SetLoopCount(0);
            image.Extensions().Append(std::move(loop));
        }
        auto control = std::make_unique<TGIFGraphicControlExtension>(&image);
        control->SetDelayHundredths(static_cast<uint16_t>(delayHundredths));
        image.Extensions().Append(std::move(control));
    }

private:
    TGIFDocument& m_document;
};

} // namespace

TransitionRunResult buildTransitionGif(TransitionTab& tab, FrameTable& table, TGIFDocument& built,
                                       JobObserver& observer) {
    auto document = std::make_unique<TGIFDocument>();
    document->SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    document->SetDitherKind(GifDitherKind::FloydSteinberg);
    GifFrameSink sink(*document);
    const TransitionRunResult result = runTransition(tab, table, sink, observer);
    built.Assign(document.get());
    return result;
}

} // namespace kelvara
