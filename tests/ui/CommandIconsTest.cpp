#include "ui/CommandIcons.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include <vector>

namespace {

using qm::ui::CommandIcon;

// Mean HSV saturation of the visible pixels, and how many there are.
std::pair<double, int> Saturation(const QImage& image)
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

// Every toolbar icon and the application icon, at the sizes and scales the
// toolbar and menus ask for: drawn at full device resolution, coloured,
// greyed when disabled, and no two alike.
TEST(CommandIcons, DrawsEveryIconVisiblyDistinctlyAndGreyedWhenDisabled)
{
    std::vector<QIcon> icons;
    for (int i = 0; i <= static_cast<int>(CommandIcon::Help); ++i)
        icons.push_back(qm::ui::commandIcon(static_cast<CommandIcon>(i)));
    icons.push_back(qm::ui::applicationIcon());

    std::vector<QImage> normal;
    for (const QIcon& icon : icons) {
        for (const int size : {16, 32})
            for (const qreal dpr : {1.0, 2.0}) {
                const QPixmap pm = icon.pixmap(QSize(size, size), dpr);
                const int device = static_cast<int>(size * dpr);
                EXPECT_EQ(pm.size(), QSize(device, device)) << size << "@" << dpr;
                EXPECT_GT(Saturation(pm.toImage()).second, device * device / 5)
                    << "too few drawn pixels at " << size << "@" << dpr;
            }
        normal.push_back(icon.pixmap(24).toImage());
        const double colourful = Saturation(normal.back()).first;
        EXPECT_GT(colourful, 0.15);
        EXPECT_LT(Saturation(icon.pixmap(24, QIcon::Disabled).toImage()).first, colourful / 4);
    }
    for (std::size_t a = 0; a < normal.size(); ++a)
        for (std::size_t b = a + 1; b < normal.size(); ++b)
            EXPECT_NE(normal[a], normal[b]) << "icons " << a << " and " << b << " look the same";
}

} // namespace
