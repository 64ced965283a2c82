#pragma once

#include <QPixmap>

namespace qm::ui {

// The pictures of the host wizard, drawn here rather than shipped: the tall
// side image of the first and last pages (a small network whose hosts carry
// the health lights of the host list) and the header logo of the others.
class WizardArt
{
public:
    static constexpr int kWatermarkWidth = 164;
    static constexpr int kWatermarkHeight = 314;
    static constexpr int kLogoSide = 49;

    // Both are drawn for the given device pixel ratio.
    static QPixmap watermark(qreal devicePixelRatio = 1.0);
    static QPixmap logo(qreal devicePixelRatio = 1.0);
};

} // namespace qm::ui
