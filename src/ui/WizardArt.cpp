#include "ui/WizardArt.h"

#include "ui/HealthIcons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <utility>

namespace qm::ui {

namespace {
QPixmap Canvas(int width, int height, qreal dpr)
{
    QPixmap pm(QSize(width, height) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    return pm;
}

void DrawLight(QPainter& p, const QPointF& centre, qreal side, int level)
{
    const QRectF r(centre.x() - side / 2, centre.y() - side / 2, side, side);
    HealthIcons::icon(level).paint(&p, r.toAlignedRect());
}
} // namespace

QPixmap WizardArt::watermark(qreal dpr)
{
    QPixmap pm = Canvas(kWatermarkWidth, kWatermarkHeight, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, kWatermarkHeight);
    sky.setColorAt(0.0, QColor(18, 42, 86));
    sky.setColorAt(1.0, QColor(22, 110, 128));
    p.fillRect(QRectF(0, 0, kWatermarkWidth, kWatermarkHeight), sky);

    // A faint grid, as on a network diagram.
    p.setPen(QPen(QColor(255, 255, 255, 18), 1));
    for (int x = 12; x < kWatermarkWidth; x += 24)
        p.drawLine(x, 0, x, kWatermarkHeight);
    for (int y = 12; y < kWatermarkHeight; y += 24)
        p.drawLine(0, y, kWatermarkWidth, y);

    // Hosts (position, health level) and the links between them.
    const std::array<std::pair<QPointF, int>, 7> hosts{{
        {{82, 70}, HealthIcons::kGreen},
        {{34, 128}, HealthIcons::kGreen},
        {{128, 122}, 4},
        {{58, 196}, HealthIcons::kGreen},
        {{124, 206}, HealthIcons::kRed},
        {{36, 262}, HealthIcons::kNoResult},
        {{110, 276}, 9},
    }};
    const std::array<std::pair<int, int>, 8> links{{{0, 1}, {0, 2}, {1, 3}, {2, 3}, {2, 4}, {3, 5}, {3, 6}, {4, 6}}};
    p.setPen(QPen(QColor(190, 225, 255, 150), 2, Qt::SolidLine, Qt::RoundCap));
    for (const auto& [a, b] : links)
        p.drawLine(hosts[static_cast<std::size_t>(a)].first, hosts[static_cast<std::size_t>(b)].first);

    for (const auto& [at, level] : hosts)
        DrawLight(p, at, 26, level);

    // A response-time trace along the bottom.
    QPainterPath trace(QPointF(0, 300));
    const std::array<qreal, 9> peaks{300, 296, 300, 286, 302, 300, 292, 300, 300};
    for (std::size_t i = 0; i < peaks.size(); ++i)
        trace.lineTo(QPointF(20.0 * static_cast<qreal>(i + 1), peaks[i]));
    p.setPen(QPen(QColor(120, 230, 140, 200), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trace);
    return pm;
}

QPixmap WizardArt::logo(qreal dpr)
{
    QPixmap pm = Canvas(kLogoSide, kLogoSide, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF hub(kLogoSide / 2.0, kLogoSide / 2.0);
    const std::array<std::pair<QPointF, int>, 3> leaves{{
        {{9, 11}, HealthIcons::kGreen}, {{40, 12}, 5}, {{25, 42}, HealthIcons::kRed}}};
    p.setPen(QPen(QColor(60, 90, 140), 2, Qt::SolidLine, Qt::RoundCap));
    for (const auto& [at, level] : leaves)
        p.drawLine(hub, at);
    for (const auto& [at, level] : leaves)
        DrawLight(p, at, 14, level);
    DrawLight(p, hub, 20, HealthIcons::kGreen);
    return pm;
}

} // namespace qm::ui
