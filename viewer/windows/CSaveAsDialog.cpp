#include "viewer/windows/CSaveAsDialog.h"

#include <QFileInfo>
#include <QMessageBox>

#include "resources/Strings.h"

CSaveAsDialog::CSaveAsDialog(QWidget* parent, const QString& defaultName) : QFileDialog(parent) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setWindowTitle(QString::fromLatin1(QuorvaneStrings::kSaveTitle));
    setNameFilter(QString::fromLatin1(QuorvaneStrings::kSaveFilter));
    setDefaultSuffix(QString::fromLatin1(QuorvaneStrings::kSaveDefaultSuffix));
    setOption(QFileDialog::DontConfirmOverwrite, false);
    selectFile(defaultName);
}

QString CSaveAsDialog::refusalReason(const QString& path) {
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists() || !folder.isDir()) {
        return QStringLiteral("The folder %1 does not exist.").arg(info.absolutePath());
    }
    if (info.exists()) {
        if (info.isDir()) {
            return QStringLiteral("%1 is a folder.").arg(info.absoluteFilePath());
        }
        // Read-only is the file's own marking (no write permission for its owner), whoever runs
        // the viewer.
        if (!info.permissions().testFlag(QFile::WriteOwner)) {
            return QStringLiteral("%1 is read-only.\nChoose another name.").arg(info.fileName());
        }
    }
    return {};
}

void CSaveAsDialog::accept() {
    const QStringList files = selectedFiles();
    if (!files.isEmpty()) {
        const QFileInfo info(files.first());
        // A typed folder name is entered into, as the base dialog does.
        if (!info.isDir()) {
            const QString reason = refusalReason(files.first());
            if (!reason.isEmpty()) {
                QMessageBox::warning(this, windowTitle(), reason);
                return;
            }
        }
    }
    QFileDialog::accept();
}
