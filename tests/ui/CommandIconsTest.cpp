#include "ui/CommandIcons.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <gtest/gtest.h>

#include <vector>

namespace {

using qm::ui::CommandIcon;

std::vector<QIcon> allIcons()
{
    std::vector<QIcon> icons;
    for (int i = 0; i <= static_cast<int>(CommandIcon::Help); ++i)
        icons.push_back(qm::ui::commandIcon(static_cast<CommandIcon>(i)));
    icons.push_back(qm::ui::applicationIcon());
    return icons;
}

// The device pixels of an icon (a ratio of 1, so that painting shows every pixel).
QImage render(const QIcon& icon, int size, qreal dpr, QIcon::Mode mode = QIcon::Normal)
{
    QImage image =
        icon.pixmap(QSize(size, size), dpr, mode).toImage().convertToFormat(QImage::Format_ARGB32);
    image.setDevicePixelRatio(1);
    return image;
}

// Mean HSV saturation of the visible pixels, and how many there are.
std::pair<double, int> saturation(const QImage& image)
{
    double sum = 0;
    int visible = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 32)
                continue;
            sum += c.hsvSaturationF();
            ++visible;
        }
    return {visible ? sum / visible : 0.0, visible};
}

// Sizes and scales as the toolbar and menus ask for them, drawn once into a
// contact sheet for a look by eye when QM_ICON_SHEET names a PNG file.
void writeSheet(const std::vector<QIcon>& icons, const QString& file)
{
    const int sizes[] = {16, 24, 32, 48};
    const int cell = 104;
    QImage sheet(cell * 11, cell * static_cast<int>(icons.size()), QImage::Format_ARGB32);
    sheet.fill(QColor(239, 240, 241));
    QPainter p(&sheet);
    for (std::size_t row = 0; row < icons.size(); ++row) {
        const int y = static_cast<int>(row) * cell + 4;
        int x = 4;
        for (const qreal dpr : {1.0, 2.0})
            for (const int size : sizes) {
                p.drawImage(x, y, render(icons[row], size, dpr));
                x += cell;
            }
        p.drawImage(x, y, render(icons[row], 24, 1, QIcon::Disabled));
        x += cell;
        p.drawImage(QRect(x, y, 96, 96), render(icons[row], 16, 1)); // six times, pixel by pixel
        x += cell;
        p.fillRect(x - 4, y - 4, cell, cell, QColor(49, 54, 59));
        p.drawImage(x, y, render(icons[row], 32, 1));
    }
    p.end();
    sheet.save(file);
}

TEST(CommandIcons, DrawsEveryIconVisiblyDistinctlyAndGreyedWhenDisabled)
{
    const std::vector<QIcon> icons = allIcons();
    std::vector<QImage> normal;
    for (const QIcon& icon : icons) {
        for (const int size : {16, 32})
            for (const qreal dpr : {1.0, 2.0}) {
                const QPixmap pm = icon.pixmap(QSize(size, size), dpr);
                const int device = static_cast<int>(size * dpr);
                EXPECT_EQ(pm.size(), QSize(device, device)) << size << "@" << dpr;
                const auto [sat, visible] = saturation(pm.toImage());
                EXPECT_GT(visible, device * device / 5)
                    << "too few drawn pixels at " << size << "@" << dpr;
            }
        normal.push_back(render(icon, 24, 1));
        const double colourful = saturation(normal.back()).first;
        const double grey = saturation(render(icon, 24, 1, QIcon::Disabled)).first;
        EXPECT_GT(colourful, 0.15);
        EXPECT_LT(grey, colourful / 4);
    }
    for (std::size_t a = 0; a < normal.size(); ++a)
        for (std::size_t b = a + 1; b < normal.size(); ++b)
            EXPECT_NE(normal[a], normal[b]) << "icons " << a << " and " << b << " look the same";

    if (const QString file = qEnvironmentVariable("QM_ICON_SHEET"); !file.isEmpty())
        writeSheet(icons, file);
}

} // namespace
