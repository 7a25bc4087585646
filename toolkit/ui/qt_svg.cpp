// SVG pictures through Qt Svg.
#include "toolkit/ui/qt_graphics.h"

#include <QSvgRenderer>

namespace kv::ui {

namespace {

class SvgImage final : public VectorImage {
public:
    explicit SvgImage(const QByteArray& bytes) : renderer_(bytes) {}
    bool valid() const { return renderer_.isValid(); }
    QSize declaredSize() const override { return renderer_.defaultSize(); }
    QSizeF viewBox() const override { return renderer_.viewBoxF().size(); }
    void render(QPainter& painter, const QRectF& target) override {
        renderer_.render(&painter, target);
    }

private:
    QSvgRenderer renderer_;
};

} // namespace

std::unique_ptr<VectorImage> loadVectorImage(const QByteArray& bytes) {
    auto image = std::make_unique<SvgImage>(bytes);
    if (!image->valid())
        return nullptr;
    return image;
}

} // namespace kv::ui
