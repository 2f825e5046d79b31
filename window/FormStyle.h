#pragma once

#include <QFont>
#include <QRect>

namespace quorvel {

// Window layouts are measured in twips, 15 to a pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;
constexpr QRect TwipsRect(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel);
}

// The windows' typeface: Verdana, or the closest sans serif the machine has.
QString FormFontFamily();
QFont FormFont(qreal pointSize, bool bold = false, bool italic = false);

}  // namespace quorvel
