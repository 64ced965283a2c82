#include "ui/HealthIcons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <array>

namespace qm::ui {

namespace {

// Paints one light: a shaded disc with a darker rim and a highlight; the
// no-result image carries a question mark.
class HealthIconEngine final : public QIconEngine
{
public:
    explicit HealthIconEngine(int level) : m_level(level) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const qreal side = std::min(rect.width(), rect.height());
        const QRectF disc(rect.x() + (rect.width() - side) / 2.0 + side * 0.06,
                          rect.y() + (rect.height() - side) / 2.0 + side * 0.06, side * 0.88, side * 0.88);
        QColor base = HealthIcons::color(m_level);
        if (mode == QIcon::Disabled)
            base = QColor::fromHsv(base.hsvHue(), base.hsvSaturation() / 4, base.value());

        QRadialGradient fill(disc.center() - QPointF(disc.width() * 0.18, disc.height() * 0.2), disc.width() * 0.7);
        fill.setColorAt(0.0, base.lighter(165));
        fill.setColorAt(0.55, base);
        fill.setColorAt(1.0, base.darker(135));
        painter->setBrush(fill);
        painter->setPen(QPen(base.darker(175), std::max(1.0, side / 16.0)));
        painter->drawEllipse(disc);

        if (m_level == HealthIcons::kNoResult) {
            QFont font = painter->font();
            font.setBold(true);
            font.setPixelSize(std::max(6, static_cast<int>(side * 0.68)));
            painter->setFont(font);
            painter->setPen(Qt::white);
            painter->drawText(disc, Qt::AlignCenter, QStringLiteral("?"));
        } else {
            // A soft highlight in the upper left gives the light its glass look.
            const QRectF shine(disc.x() + disc.width() * 0.2, disc.y() + disc.height() * 0.1,
                               disc.width() * 0.45, disc.height() * 0.3);
            QRadialGradient gloss(shine.center(), shine.width() / 2);
            gloss.setColorAt(0.0, QColor(255, 255, 255, 170));
            gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
            painter->setPen(Qt::NoPen);
            painter->setBrush(gloss);
            painter->drawEllipse(shine);
        }
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        // QIcon::pixmap() passes the device size before Qt 6.8, the logical size since.
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
        const QSize device = size;
#else
        const QSize device = size * scale;
#endif
        QPixmap pm(device);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            paint(&p, QRect(QPoint(0, 0), device), mode, state);
        }
        pm.setDevicePixelRatio(scale);
        return pm;
    }

    QIconEngine* clone() const override { return new HealthIconEngine(m_level); }
    QString key() const override { return QStringLiteral("qm-health"); }

private:
    int m_level;
};

} // namespace

QColor HealthIcons::color(int level)
{
    if (level == kGreen)
        return QColor(40, 180, 60);
    if (level >= 1 && level <= 10) {
        // Hue 56 (yellow) down to 28 (orange) in ten even steps.
        const int hue = 56 - (level - 1) * 28 / 9;
        return QColor::fromHsv(hue, 235, 250);
    }
    if (level == kRed)
        return QColor(215, 35, 35);
    return QColor(40, 100, 215);
}

QIcon HealthIcons::icon(int level)
{
    if (level < 0 || level >= kCount)
        level = kNoResult;
    static const std::array<QIcon, kCount> icons = [] {
        std::array<QIcon, kCount> all;
        for (int i = 0; i < kCount; ++i)
            all[static_cast<std::size_t>(i)] = QIcon(new HealthIconEngine(i));
        return all;
    }();
    return icons[static_cast<std::size_t>(level)];
}

} // namespace qm::ui
