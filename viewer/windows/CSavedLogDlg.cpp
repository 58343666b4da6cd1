#include "viewer/windows/CSavedLogDlg.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <algorithm>

#include "viewer/files/SavedLog.h"
#include "viewer/list/ListPlacement.h"
#include "viewer/windows/ApplicationIcon.h"
#include "viewer/windows/DialogTemplates.h"
#include "viewer/windows/DialogUnits.h"

namespace {
constexpr Qt::WindowFlags kWindowFlags = Qt::Window | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                                         Qt::WindowCloseButtonHint;
}  // namespace

CSavedLogDlg* CSavedLogDlg::open(const QString& path, QWidget* parent, QString& failure) {
    SavedLog log = SavedLog::open(QFile::encodeName(path).toStdString());
    if (!log.isOpen()) {
        failure = QStringLiteral("cannot open \"%1\": %2")
                      .arg(path, QString::fromLocal8Bit(log.failure().c_str()));
        return nullptr;
    }
    failure.clear();
    // Owned by its parent, or by nobody until closed: it deletes itself then.
    auto* window = new CSavedLogDlg(path, std::move(log.lines()), parent);
    window->show();
    return window;
}

CSavedLogDlg::CSavedLogDlg(const QString& path, LineStore lines, QWidget* parent)
    : QDialog(parent, kWindowFlags),
      m_path(path),
      m_logList(this),
      m_findBar(m_logList, this),
      m_filterNote(m_logList, this),
      m_opener(*this),
      m_exporter(*this, m_logList.model(), path),
      m_menu(m_logList, {&m_findBar, &m_opener, &m_exporter}) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("SavedLogWindow"));
    setWindowTitle(QFileInfo(path).fileName());
    setWindowIcon(loadApplicationIcon());
    const DialogUnits units = DialogUnits::fromFont(font());
    m_logList.setTabStopDistance(units.toPixelsX(MainDialogTemplate::kTabStop));
    // Save collapsed the indentation: a saved log's scopes are known by their names.
    m_logList.shownRows().setScopeRule(ScopeTree::Rule::Names);
    m_logList.model().adoptLines(std::move(lines));
    m_findBar.addShortcuts(*this);
    connect(&m_findBar, &FindBar::shownOrHidden, this, [this] { layoutLogList(); });
    connect(&m_filterNote, &FilterNote::shownOrHidden, this, [this] { layoutLogList(); });
    resize(units.toPixelsX(MainDialogTemplate::kWidth),
           units.toPixelsY(MainDialogTemplate::kHeight));
    layoutLogList();
    m_logList.setFocus(Qt::OtherFocusReason);
}

void CSavedLogDlg::layoutLogList() {
    ListPlacement placement{kListMargin, kListMargin, std::max(0, width() - 2 * kListMargin),
                            std::max(0, height() - 2 * kListMargin)};
    m_findBar.takeRoomFrom(placement);
    m_filterNote.takeRoomFrom(placement);
    m_logList.setGeometry(placement.x, placement.y, placement.width, placement.height);
}

void CSavedLogDlg::keyPressEvent(QKeyEvent* event) {
    // No button is a default button, and Escape does not close the window.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Return) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CSavedLogDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    layoutLogList();
}

void CSavedLogDlg::contextMenuEvent(QContextMenuEvent* event) {
    m_menu.exec(*this, *event);
}
