#include "viewer/windows/DialogUnits.h"

#include <QFontMetrics>
#include <QString>
#include <QVariant>
#include <QWidget>

namespace {
constexpr int kHorizontalUnitsPerChar = 4;
constexpr int kVerticalUnitsPerChar = 8;
// The average character width is that of the 52 Latin letters, as dialog layouts measure it.
constexpr const char* kAverageWidthSample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAverageWidthSampleLength = 52;

// a * b / c rounded to the nearest integer, halves away from zero.
int mulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}
}  // namespace

DialogUnits::DialogUnits(int baseUnitX, int baseUnitY)
    : m_baseUnitX(baseUnitX), m_baseUnitY(baseUnitY) {}

DialogUnits DialogUnits::fromFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const int sampleWidth = metrics.horizontalAdvance(QString::fromLatin1(kAverageWidthSample));
    const int averageWidth =
        (sampleWidth / (kAverageWidthSampleLength / 2) + 1) / 2;  // rounded to nearest
    return DialogUnits(averageWidth > 0 ? averageWidth : 1, metrics.height());
}

int DialogUnits::toPixelsX(int dialogUnits) const {
    return mulDiv(dialogUnits, m_baseUnitX, kHorizontalUnitsPerChar);
}

int DialogUnits::toPixelsY(int dialogUnits) const {
    return mulDiv(dialogUnits, m_baseUnitY, kVerticalUnitsPerChar);
}

QRect DialogUnits::toPixels(int x, int y, int width, int height) const {
    return QRect(toPixelsX(x), toPixelsY(y), toPixelsX(width), toPixelsY(height));
}

void placeControl(QWidget& control, const ControlTemplate& controlTemplate,
                  const DialogUnits& units) {
    control.setObjectName(QString::fromLatin1(controlTemplate.name));
    control.setProperty(kControlIdProperty, controlTemplate.id);
    control.setGeometry(units.toPixels(controlTemplate.x, controlTemplate.y, controlTemplate.width,
                                       controlTemplate.height));
}
