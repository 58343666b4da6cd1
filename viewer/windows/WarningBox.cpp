#include "viewer/windows/WarningBox.h"

#include <QMessageBox>
#include <QString>

#include "resources/Strings.h"

void showWarningBox(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QString::fromLatin1(QuorvaneStrings::kMainCaption), text);
}
