#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTextOption>

#include "viewer/list/TabbedText.h"

namespace {

constexpr qreal kTabStop = 64;

// `text` drawn from x = 0 in an image `width` pixels wide, tabs at kTabStop.
QImage drawn(const QString& text, int width, const QFont& font) {
    const int height = QFontMetrics(font).height();
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    QTextOption option(Qt::AlignLeft | Qt::AlignVCenter);
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(kTabStop);
    painter.drawText(QRectF(0, 0, 100000, height), text, option);
    return image;
}

TEST(TabbedText, TabsMoveToTheNextStopAndLatin1TextMeasuresAtLeastItsShapedWidth) {
    const QFont font = QApplication::font();
    const QFontMetricsF metrics(font);
    const TabbedText text(font, kTabStop);
    EXPECT_EQ(text.measure(u"\t", 0).width, kTabStop);
    EXPECT_EQ(text.measure(u"\t\t", 0).width, 2 * kTabStop);
    const QString word = QStringLiteral("AVATAR Tower, 0123");
    const qreal shaped = metrics.horizontalAdvance(word);
    EXPECT_GE(text.measure(word, 0).width, shaped - 0.01);
    EXPECT_LT(text.measure(word, 0).width, shaped + word.size());
    EXPECT_GE(text.measure(QStringLiteral("x\t") + word, 0).width, kTabStop + shaped - 0.01);
}

TEST(TabbedText, ALineCutAtTheEdgeDrawsTheSamePixelsInSightAsTheWholeLine) {
    const QFont font = QApplication::font();
    const TabbedText text(font, kTabStop);
    const QString line = QStringLiteral("00042\t4100\t10:00:00\trender\t\t\tRenderQueue::flush(") +
                         QString(400, QLatin1Char('W')) + QStringLiteral("Tail)");
    constexpr int kWidth = 300;
    const TabbedText::Extent extent = text.measure(line, kWidth);
    ASSERT_LT(extent.needed, line.size() / 2) << "most of the line lies beyond the edge";
    EXPECT_EQ(drawn(line.left(extent.needed), kWidth, font), drawn(line, kWidth, font));
    // Nothing is left out of a line that ends inside the edge.
    EXPECT_EQ(text.measure(u"short\tline", kWidth).needed, 10);
}

TEST(TabbedText, OtherCharactersAreMeasuredByShapingAndDrawnInFull) {
    const QFont font = QApplication::font();
    const QFontMetricsF metrics(font);
    const TabbedText text(font, kTabStop);
    const QString line =
        QStringLiteral("\t\u20ac") + QString(300, QLatin1Char('x')) + QStringLiteral("\u0001");
    const TabbedText::Extent extent = text.measure(line, 10);
    EXPECT_EQ(extent.needed, line.size());
    EXPECT_DOUBLE_EQ(extent.width, kTabStop + metrics.horizontalAdvance(line.mid(1)));
}

}  // namespace
