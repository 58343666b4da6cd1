#include "viewer/windows/SavedLogOpener.h"

#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QUrl>

#include "viewer/windows/CSavedLogDlg.h"
#include "viewer/windows/WarningBox.h"

SavedLogOpener::SavedLogOpener(QWidget& window)
    : QObject(&window),
      m_window(window),
      m_choose(&SavedLogOpener::chooseWithDialog),
      m_show(&showWarningBox) {
    m_window.setAcceptDrops(true);
    m_window.installEventFilter(this);
}

void SavedLogOpener::addMenuAction(QMenu& menu) {
    menu.addAction(QStringLiteral("Open Saved &Log..."), this, [this] { chooseAndOpen(); });
}

void SavedLogOpener::chooseAndOpen() {
    const QStringList paths = m_choose(&m_window);
    if (!paths.isEmpty()) {
        open(paths);
    }
}

int SavedLogOpener::open(const QStringList& paths) {
    QWidget* owner = QApplication::activeModalWidget();
    QStringList failures;
    int opened = 0;
    for (const QString& path : paths) {
        QString failure;
        if (CSavedLogDlg::open(path, owner, failure) != nullptr) {
            ++opened;
        } else {
            failure[0] = failure[0].toUpper();
            failures.append(failure + QLatin1Char('.'));
        }
    }
    if (!failures.isEmpty()) {
        m_show(&m_window, failures.join(QLatin1Char('\n')));
    }
    return opened;
}

void SavedLogOpener::setFileChooser(FileChooser choose) {
    m_choose = choose ? std::move(choose) : &SavedLogOpener::chooseWithDialog;
}

void SavedLogOpener::setMessageBox(MessageBox show) {
    m_show = show ? std::move(show) : &showWarningBox;
}

QStringList SavedLogOpener::chooseWithDialog(QWidget* parent) {
    return QFileDialog::getOpenFileNames(parent, QStringLiteral("Open Saved Log"), QString(),
                                         QStringLiteral("Saved logs (*.txt *.log);;All files (*)"));
}

QStringList SavedLogOpener::localFiles(const QMimeData* data) {
    QStringList files;
    if (data == nullptr || !data->hasUrls()) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            files.append(url.toLocalFile());
        }
    }
    return files;
}

bool SavedLogOpener::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &m_window) {
        return false;
    }
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (!localFiles(drag->mimeData()).isEmpty()) {
                drag->acceptProposedAction();
                return true;
            }
            return false;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList files = localFiles(drop->mimeData());
            if (files.isEmpty()) {
                return false;
            }
            drop->acceptProposedAction();
            // Opened after the drop has ended, so that a message box does not hold up the source.
            QMetaObject::invokeMethod(
                this, [this, files] { open(files); }, Qt::QueuedConnection);
            return true;
        }
        default:
            return false;
    }
}
