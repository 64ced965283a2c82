#pragma once

#include <QIcon>

namespace qm::ui {

// The 13 health images of the host list, drawn as vectors so they stay crisp
// at any size and scale: 0 green, 1..10 ten steps from yellow to orange,
// 11 red, 12 the blue question mark of "no result yet".
class HealthIcons
{
public:
    static constexpr int kCount = 13;
    static constexpr int kGreen = 0;
    static constexpr int kRed = 11;
    static constexpr int kNoResult = 12;

    // The image of a health level; levels outside 0..12 give the no-result image.
    static QIcon icon(int level);
    // The fill colour of a level's light.
    static QColor color(int level);
};

} // namespace qm::ui
