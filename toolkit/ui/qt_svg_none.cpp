// A build without Qt Svg (the Windows build): no SVG is drawn at run time. Its pictures are PNG
// files rendered from the SVG sources at build time, found under the SVG's name.
#include "toolkit/ui/qt_graphics.h"

namespace kv::ui {

std::unique_ptr<VectorImage> loadVectorImage(const QByteArray&) {
    return nullptr;
}

} // namespace kv::ui
