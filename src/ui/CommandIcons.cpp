#include "ui/CommandIcons.h"

#include "ui/HealthIcons.h"

#include <QIconEngine>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace qm::ui {

namespace {

// One palette for every image.
const QColor kInk(44, 56, 70);
const QColor kSheetEdge(104, 116, 130);
const QColor kSteel(208, 218, 230);
const QColor kSlate(110, 130, 155);
const QColor kPaper(253, 253, 250);
const QColor kGreen(46, 164, 72);
const QColor kRed(214, 58, 52);
const QColor kBlue(44, 110, 210);
const QColor kAmber(234, 146, 28);
const QColor kHighlight(255, 214, 96);

// Maps a 16 x 16 design grid onto the device pixels of one image. Fills get
// whole-pixel edges and outlines are inset by half their width, so straight
// edges stay sharp at 16, 24, 32 and 48 pixels.
class Grid
{
public:
    explicit Grid(const QRect& rect)
    {
        const int side = std::min(rect.width(), rect.height());
        m_x = rect.x() + (rect.width() - side) / 2;
        m_y = rect.y() + (rect.height() - side) / 2;
        m_u = side / 16.0;
    }

    qreal unit() const { return m_u; }
    // Outlines: one pixel up to 24 px, two at 32 and 48 px.
    qreal line() const { return std::max(1.0, std::round(m_u * 0.75)); }
    // A stroke width in whole pixels.
    qreal width(qreal units) const { return std::max(1.0, std::round(units * m_u)); }
    qreal snap(qreal v) const { return std::round(v * m_u); }
    QPointF at(qreal x, qreal y) const { return {m_x + x * m_u, m_y + y * m_u}; }
    // The position of a horizontal or vertical line of the given pixel width
    // that keeps it on whole pixels.
    qreal crispX(qreal x, qreal w) const { return m_x + snap(x) + (odd(w) ? 0.5 : 0.0); }
    qreal crispY(qreal y, qreal w) const { return m_y + snap(y) + (odd(w) ? 0.5 : 0.0); }

    QRectF fill(qreal l, qreal t, qreal r, qreal b) const
    {
        return {QPointF(m_x + snap(l), m_y + snap(t)), QPointF(m_x + snap(r), m_y + snap(b))};
    }
    QRectF stroke(qreal l, qreal t, qreal r, qreal b) const
    {
        const qreal h = line() / 2;
        return fill(l, t, r, b).adjusted(h, h, -h, -h);
    }
    // A w x h rectangle centred on c whose edges fall on whole pixels.
    QRectF centred(QPointF c, qreal w, qreal h) const
    {
        const qreal pw = span(c.x(), w);
        const qreal ph = span(c.y(), h);
        return {c.x() - pw / 2, c.y() - ph / 2, pw, ph};
    }

private:
    static bool odd(qreal w) { return static_cast<int>(std::lround(w)) % 2 == 1; }
    // The whole-pixel length nearest to len units that centres on c: odd when
    // c lies in the middle of a pixel, even when on a pixel edge.
    qreal span(qreal c, qreal len) const
    {
        const qreal want = len * m_u;
        int n = std::max(1, static_cast<int>(std::lround(want)));
        const bool middle = std::abs(c - std::floor(c) - 0.5) < 0.01;
        if ((n % 2 == 1) != middle)
            n = (n > 1 && n > want) ? n - 1 : n + 1;
        return n;
    }

    int m_x = 0;
    int m_y = 0;
    qreal m_u = 1;
};

QBrush shade(const QRectF& r, const QColor& c)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, c.lighter(118));
    g.setColorAt(1, c.darker(106));
    return g;
}

QPen outline(const Grid& g, const QColor& c)
{
    return QPen(c, g.line(), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
}

// A shaded, outlined box filling a rectangle of the design grid.
void box(QPainter& p, const Grid& g, QRectF design, const QColor& fill, const QColor& edge,
         qreal radius = 0)
{
    const QRectF r = g.stroke(design.left(), design.top(), design.right(), design.bottom());
    p.setPen(outline(g, edge));
    p.setBrush(shade(r, fill));
    const qreal rr = std::min(radius * g.unit(), r.width() / 2);
    if (rr > 0.5)
        p.drawRoundedRect(r, rr, rr);
    else
        p.drawRect(r);
}

void bar(QPainter& p, const Grid& g, qreal l, qreal t, qreal r, qreal b, const QColor& c)
{
    p.fillRect(g.fill(l, t, r, b), c);
}

// Two stacked rack units, each with a power light and a drive bay.
void hostBox(QPainter& p, const Grid& g)
{
    for (const qreal top : {1.0, 8.0}) {
        box(p, g, QRectF(1, top, 12, 6), kSteel, kInk, 1);
        bar(p, g, 3, top + 2, 5, top + 4, kGreen);
        bar(p, g, 7, top + 2, 11, top + 4, kSlate);
    }
}

// A round badge in the lower right corner, set off from what lies beneath by
// a transparent ring. Returns the badge's rectangle.
QRectF badge(QPainter& p, const Grid& g, const QColor& c)
{
    const QRectF r = g.fill(8, 8, 16, 16);
    const qreal gap = g.line();
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(r.adjusted(-gap, -gap, gap, gap));
    p.restore();
    const qreal h = g.line() / 2;
    p.setPen(QPen(c.darker(140), g.line()));
    p.setBrush(shade(r, c));
    p.drawEllipse(r.adjusted(h, h, -h, -h));
    return r;
}

void plusGlyph(QPainter& p, const Grid& g, const QRectF& r)
{
    p.fillRect(g.centred(r.center(), 4.4, 1.6), Qt::white);
    p.fillRect(g.centred(r.center(), 1.6, 4.4), Qt::white);
}

void crossGlyph(QPainter& p, const Grid& g, const QRectF& r)
{
    const QPointF c = r.center();
    const qreal d = 1.6 * g.unit();
    p.setPen(QPen(Qt::white, std::max(1.3, 1.4 * g.unit()), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-d, -d), c + QPointF(d, d));
    p.drawLine(c + QPointF(-d, d), c + QPointF(d, -d));
}

// A sheet of paper with a folded upper right corner.
void sheet(QPainter& p, const Grid& g, qreal l, qreal t, qreal r, qreal b)
{
    const QRectF s = g.stroke(l, t, r, b);
    const qreal f = g.snap(3.5);
    const QPointF corner(s.right() - f, s.top() + f);
    p.setPen(outline(g, kSheetEdge));
    p.setBrush(shade(s, kPaper));
    p.drawPolygon(QPolygonF{s.topLeft(), QPointF(corner.x(), s.top()),
                            QPointF(s.right(), corner.y()), s.bottomRight(), s.bottomLeft()});
    p.setBrush(QColor(214, 222, 232));
    p.drawPolygon(QPolygonF{QPointF(corner.x(), s.top()), corner, QPointF(s.right(), corner.y())});
}

// A log: rows of a coloured state mark followed by a line of text.
void logSheet(QPainter& p, const Grid& g)
{
    sheet(p, g, 2, 1, 14, 15);
    const std::array<QColor, 4> marks{kGreen, kRed, kGreen, kGreen};
    for (int i = 0; i < 4; ++i) {
        const qreal y = 4 + 3 * i;
        bar(p, g, 4, y, 6, y + 1, marks[static_cast<std::size_t>(i)]);
        bar(p, g, 7, y, i == 0 ? 10 : 12, y + 1, kSlate);
    }
}

// A shaded disc filling the image, for the round signs.
QRectF disc(QPainter& p, const Grid& g, const QColor& c)
{
    const QRectF r = g.stroke(1, 1, 15, 15);
    QRadialGradient fill(r.center() - QPointF(r.width() * 0.2, r.height() * 0.25), r.width() * 0.8);
    fill.setColorAt(0, c.lighter(135));
    fill.setColorAt(0.6, c);
    fill.setColorAt(1, c.darker(112));
    p.setPen(QPen(c.darker(150), g.line()));
    p.setBrush(fill);
    p.drawEllipse(r);
    return g.fill(1, 1, 15, 15);
}

void drawInsert(QPainter& p, const Grid& g)
{
    hostBox(p, g);
    plusGlyph(p, g, badge(p, g, kGreen));
}

void drawDelete(QPainter& p, const Grid& g)
{
    hostBox(p, g);
    crossGlyph(p, g, badge(p, g, kRed));
}

void drawStart(QPainter& p, const Grid& g)
{
    const QRectF r = g.stroke(3, 1, 15, 15);
    const QPolygonF triangle{r.topLeft(), r.bottomLeft(), QPointF(r.right(), r.center().y())};
    p.setPen(QPen(kGreen.darker(150), g.line(), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(shade(r, kGreen));
    p.drawPolygon(triangle);
}

void drawStop(QPainter& p, const Grid& g)
{
    box(p, g, QRectF(2, 2, 12, 12), kRed, kRed.darker(150), 1.5);
}

void drawClearStats(QPainter& p, const Grid& g)
{
    const std::array<std::pair<qreal, qreal>, 3> bars{{{1, 8}, {5, 4}, {9, 1}}};
    for (const auto& [left, top] : bars) {
        const QRectF r = g.fill(left, top, left + 3, 15);
        p.fillRect(r, shade(r, kBlue));
    }
    const QRectF b = badge(p, g, kAmber);
    // A circular arrow: three quarters of a ring ending in an arrow head.
    const qreal radius = 2.2 * g.unit();
    const QRectF ring(b.center() - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius));
    QPainterPath arc;
    arc.arcMoveTo(ring, 90);
    arc.arcTo(ring, 90, 270);
    p.setPen(QPen(Qt::white, g.width(1.2), Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
    const QPointF tip = arc.pointAtPercent(1.0);
    const qreal a = std::max(1.5, 1.4 * g.unit());
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF{tip + QPointF(-a, 0), tip + QPointF(a, 0), tip + QPointF(0, -a * 1.1)});
}

void drawMessagePane(QPainter& p, const Grid& g)
{
    bar(p, g, 1, 1, 15, 15, kPaper);
    bar(p, g, 1, 1, 15, 4, kBlue);
    bar(p, g, 1, 8, 15, 15, kHighlight);
    bar(p, g, 1, 7, 15, 8, kInk);
    bar(p, g, 3, 5, 10, 6, kSlate.lighter(130));
    const QColor text(150, 100, 20);
    bar(p, g, 3, 10, 13, 11, text);
    bar(p, g, 3, 12, 10, 13, text);
    p.setPen(outline(g, kInk));
    p.setBrush(Qt::NoBrush);
    p.drawRect(g.stroke(1, 1, 15, 15));
}

void drawAbout(QPainter& p, const Grid& g)
{
    const QRectF r = disc(p, g, kBlue);
    const QPointF c = r.center();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    const QRectF column = g.centred(c, 2, 1);
    const QRectF rows = g.fill(0, 6.6, 0, 12);
    p.drawRect(QRectF(column.left(), rows.top(), column.width(), rows.height()));
    p.drawEllipse(g.centred(QPointF(c.x(), g.at(0, 4.4).y()), 2.2, 2.2));
}

void drawHelp(QPainter& p, const Grid& g)
{
    const QRectF r = disc(p, g, kBlue);
    const qreal u = g.unit();
    const QPointF c(r.center().x(), g.at(0, 6.2).y());
    const QRectF hook(c - QPointF(2.3 * u, 2.3 * u), QSizeF(4.6 * u, 4.6 * u));
    QPainterPath mark;
    mark.arcMoveTo(hook, 165);
    mark.arcTo(hook, 165, -235);
    mark.lineTo(c.x(), g.at(0, 10).y());
    p.setPen(QPen(Qt::white, std::max(1.5, 1.9 * u), Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(g.centred(QPointF(c.x(), g.at(0, 12.4).y()), 2.2, 2.2));
}

void drawTraceRoute(QPainter& p, const Grid& g)
{
    const std::array<QPointF, 3> nodes{g.at(3, 12.5), g.at(7.5, 6.5), g.at(10, 12.5)};
    const QPointF foot = g.at(12.5, 8.5);
    p.setPen(QPen(kSlate, g.width(1.3), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF{nodes[0], nodes[1], nodes[2], foot});
    // The flag at the destination.
    const qreal pole = g.width(1);
    const qreal x = g.crispX(12, pole);
    p.setPen(QPen(kSlate.darker(130), pole, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(x, g.at(0, 0.5).y()), QPointF(x, foot.y()));
    p.setPen(Qt::NoPen);
    p.setBrush(kAmber);
    p.drawPolygon(QPolygonF{QPointF(x + pole / 2, g.at(0, 0.5).y()), g.at(16, 2.75),
                            QPointF(x + pole / 2, g.at(0, 5).y())});
    const qreal d = 4.2 * g.unit();
    p.setPen(QPen(kBlue.darker(150), g.line()));
    p.setBrush(kBlue.lighter(115));
    for (const QPointF& n : nodes)
        p.drawEllipse(n, d / 2 - g.line() / 2, d / 2 - g.line() / 2);
}

void drawProperties(QPainter& p, const Grid& g)
{
    sheet(p, g, 2, 1, 14, 15);
    const std::array<std::pair<qreal, qreal>, 3> sliders{{{4, 8}, {8, 5}, {12, 9}}};
    for (const auto& [row, knob] : sliders) {
        bar(p, g, 4, row, 12, row + 1, kSlate);
        const QRectF k = g.fill(knob - 1, row - 1.5, knob + 1, row + 2.5);
        p.fillRect(k, kBlue.darker(115));
    }
}

void drawConfigure(QPainter& p, const Grid& g)
{
    const QPointF c = g.at(8, 8);
    const qreal u = g.unit();
    const qreal outer = 7.4 * u, root = 5.5 * u, hole = 2.3 * u;
    const auto polar = [&](qreal degrees, qreal radius) {
        const qreal a = degrees * std::numbers::pi / 180.0;
        return c + QPointF(radius * std::cos(a), radius * std::sin(a));
    };
    QPolygonF teeth;
    for (int i = 0; i < 8; ++i) {
        const qreal a = i * 45.0 + 22.5;
        teeth << polar(a - 16, root) << polar(a - 9, outer) << polar(a + 9, outer)
              << polar(a + 16, root);
    }
    QPainterPath gear;
    gear.addPolygon(teeth);
    gear.closeSubpath();
    gear.addEllipse(c, hole, hole);
    p.setPen(QPen(kInk, g.line(), Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    QRadialGradient fill(c - QPointF(2 * u, 2 * u), 8 * u);
    fill.setColorAt(0, kSlate.lighter(150));
    fill.setColorAt(1, kSlate);
    p.setBrush(fill);
    p.drawPath(gear);
}

void drawClearLogs(QPainter& p, const Grid& g)
{
    logSheet(p, g);
    crossGlyph(p, g, badge(p, g, kRed));
}

void drawViewLogs(QPainter& p, const Grid& g)
{
    logSheet(p, g);
    const QPointF c = g.at(10, 10);
    const qreal r = 3.4 * g.unit();
    const qreal gap = g.line();
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(QPen(Qt::black, g.width(2.6) + 2 * gap, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(r, r) * 0.7, g.at(15, 15));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(c, r + gap, r + gap);
    p.restore();
    p.setPen(QPen(kInk, g.width(2.4), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(r, r) * 0.7, g.at(14.8, 14.8));
    p.setPen(QPen(kInk, std::max(1.0, 1.2 * g.unit())));
    p.setBrush(QColor(190, 222, 255, 200));
    p.drawEllipse(c, r - 0.6 * g.unit(), r - 0.6 * g.unit());
}

// The program's tile: a dark blue rounded square with a pulse line across it
// and a green health light in the upper right corner.
void drawApplication(QPainter& p, const Grid& g)
{
    const qreal u = g.unit();
    const QRectF tile = g.stroke(0, 0, 16, 16);
    QLinearGradient back(tile.topLeft(), tile.bottomLeft());
    back.setColorAt(0, QColor(44, 88, 150));
    back.setColorAt(1, QColor(22, 44, 84));
    p.setPen(outline(g, QColor(16, 32, 62)));
    p.setBrush(back);
    p.drawRoundedRect(tile, 3 * u, 3 * u);

    const qreal w = g.width(1.3);
    const qreal base = g.crispY(10.5, w);
    const QPolygonF pulse{QPointF(g.at(1.5, 0).x(), base),
                          QPointF(g.at(4.5, 0).x(), base),
                          g.at(6, 5.5),
                          g.at(8.5, 13.5),
                          g.at(10, 8.5),
                          QPointF(g.at(11, 0).x(), base),
                          QPointF(g.at(14.5, 0).x(), base)};
    p.setPen(QPen(QColor(150, 230, 255), w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(pulse);

    const QColor green = HealthIcons::color(HealthIcons::kGreen);
    const QPointF light = g.at(11.8, 4.2);
    const qreal radius = 2.3 * u;
    QRadialGradient glow(light, radius * 1.9);
    glow.setColorAt(0.45, QColor(120, 255, 140, 140));
    glow.setColorAt(1, QColor(120, 255, 140, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(light, radius * 1.9, radius * 1.9);
    QRadialGradient lamp(light - QPointF(radius * 0.35, radius * 0.4), radius * 1.3);
    lamp.setColorAt(0, green.lighter(170));
    lamp.setColorAt(0.6, green);
    lamp.setColorAt(1, green.darker(130));
    p.setPen(QPen(green.darker(170), std::max(1.0, 0.6 * u)));
    p.setBrush(lamp);
    p.drawEllipse(light, radius, radius);
}

using DrawFunction = void (*)(QPainter&, const Grid&);

// The disabled look: grey, lighter and partly transparent.
void fade(QImage& image)
{
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 100 + qGray(line[x]) * 135 / 255;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) * 3 / 5);
        }
    }
}

class VectorIconEngine final : public QIconEngine
{
public:
    explicit VectorIconEngine(DrawFunction draw) : m_draw(draw) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        painter->drawImage(QRectF(rect), render(rect.size() * scale, mode));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        QPixmap pm = QPixmap::fromImage(render(size, mode));
        pm.setDevicePixelRatio(1.0);
        return pm;
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        // QIcon::pixmap() passes the device size before Qt 6.8, the logical size since.
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
        const QSize device = size;
#else
        const QSize device = size * scale;
#endif
        QPixmap pm = QPixmap::fromImage(render(device, mode));
        pm.setDevicePixelRatio(scale);
        return pm;
    }

    QIconEngine* clone() const override
    {
        return new VectorIconEngine(m_draw);
    }
    QString key() const override
    {
        return QStringLiteral("qm-command");
    }

private:
    QImage render(const QSize& device, QIcon::Mode mode) const
    {
        QImage image(device, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            m_draw(p, Grid(image.rect()));
        }
        if (mode == QIcon::Disabled)
            fade(image);
        return image;
    }

    DrawFunction m_draw;
};

} // namespace

QIcon commandIcon(CommandIcon which)
{
    static const std::array<QIcon, 13> icons = [] {
        const std::array<DrawFunction, 13> draw{
            drawInsert,      drawDelete,   drawStart,      drawStop,       drawClearStats,
            drawMessagePane, drawAbout,    drawTraceRoute, drawProperties, drawConfigure,
            drawClearLogs,   drawViewLogs, drawHelp};
        std::array<QIcon, 13> all;
        for (std::size_t i = 0; i < all.size(); ++i)
            all[i] = QIcon(new VectorIconEngine(draw[i]));
        return all;
    }();
    return icons[static_cast<std::size_t>(which)];
}

QIcon applicationIcon()
{
    static const QIcon icon(new VectorIconEngine(drawApplication));
    return icon;
}

} // namespace qm::ui
