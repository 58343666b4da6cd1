#include "viewer/windows/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <algorithm>

#include "resources/Strings.h"
#include "viewer/windows/DialogTemplates.h"
#include "viewer/windows/DialogUnits.h"

namespace {
QLabel* addTextLine(QDialog* dialog, const DialogUnits& units, const ControlTemplate& control,
                    const char* text) {
    auto* label = new QLabel(QString::fromLatin1(text), dialog);
    // Shown as written: no mnemonic, no markup.
    label->setTextFormat(Qt::PlainText);
    label->setObjectName(QString::fromLatin1(control.name));
    label->setGeometry(units.toPixels(control.x, control.y, control.width, control.height));
    // A line a little taller than the template's is not cut by larger fonts.
    label->resize(label->width(), std::max(label->height(), label->sizeHint().height()));
    return label;
}
}  // namespace

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    using namespace AboutDialogTemplate;
    setObjectName(QStringLiteral("IDD_ABOUTBOX"));
    setProperty(kControlIdProperty, IDD_ABOUTBOX);
    setWindowTitle(QString::fromLatin1(QuorvaneStrings::kAboutCaption));
    setWindowIcon(icon);
    const DialogUnits units = DialogUnits::fromFont(font());

    // Child widgets belong to the dialog, which deletes them.
    auto* iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("IDR_MAINFRAME"));
    const int iconSize = style()->pixelMetric(QStyle::PM_LargeIconSize);
    iconLabel->setPixmap(icon.pixmap(iconSize, iconSize));
    iconLabel->setGeometry(units.toPixelsX(kIconX), units.toPixelsY(kIconY), iconSize, iconSize);

    addTextLine(this, units, kVersion, QuorvaneStrings::kAboutVersion);
    addTextLine(this, units, kMakerLines[0], QuorvaneStrings::kAboutMaker1);
    addTextLine(this, units, kMakerLines[1], QuorvaneStrings::kAboutMaker2);
    addTextLine(this, units, kMakerLines[2], QuorvaneStrings::kAboutMaker3);

    auto* ok = new QPushButton(QString::fromLatin1(QuorvaneStrings::kOk), this);
    placeControl(*ok, kOk, units);
    ok->setDefault(true);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(units.toPixelsX(kWidth), units.toPixelsY(kHeight));
}
