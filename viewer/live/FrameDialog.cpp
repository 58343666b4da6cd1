#include "viewer/live/FrameDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

#include "resources/resource.h"
#include "viewer/live/FrameRules.h"
#include "viewer/windows/ApplicationIcon.h"
#include "viewer/windows/CAboutDlg.h"

namespace {
constexpr Qt::WindowFlags kMainWindowFlags =
    Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
    Qt::WindowCloseButtonHint;
}  // namespace

FrameDialog::FrameDialog(QWidget* parent)
    : QDialog(parent, kMainWindowFlags), m_hIcon(loadApplicationIcon()) {}

void FrameDialog::OnSysCommand(std::uintptr_t id) {
    if ((id & SysCommand::kMask) == IDM_ABOUTBOX) {
        CAboutDlg about(m_hIcon);
        about.exec();
    }
}

bool FrameDialog::WindowProc(std::uint32_t message, std::uintptr_t wParam) {
    switch (frameMessageAction(message, wParam)) {
        case FrameAction::EndDialog:
            endDialog();
            return true;
        case FrameAction::Swallow:
            return true;
        case FrameAction::OpenAbout:
            OnSysCommand(wParam);
            return true;
        case FrameAction::Default:
            break;
    }
    // The system's handling of a close command with extra low bits is a close message.
    if (message == FrameMessage::kSysCommand &&
        (wParam & SysCommand::kMask) == SysCommand::kClose) {
        return WindowProc(FrameMessage::kClose, 0);
    }
    return false;
}

void FrameDialog::accept() {}

void FrameDialog::reject() {}

void FrameDialog::endDialog() {
    if (m_ended) {
        return;
    }
    m_ended = true;
    ending();
    // Nested windows (About box, save dialog, menu) would keep their own loops running.
    while (QWidget* popup = QApplication::activePopupWidget()) {
        if (!popup->close()) {
            break;
        }
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog != nullptr && dialog != this && dialog->isVisible()) {
            dialog->done(QDialog::Rejected);
        }
    }
    QDialog::done(QDialog::Rejected);
}

void FrameDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Enter:
        case Qt::Key_Return:
            // Only a focused push button answers Enter; nothing is a default button.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget());
                button != nullptr && button->isEnabled() && event->modifiers() == Qt::NoModifier) {
                button->click();
            }
            event->accept();
            return;
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void FrameDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    // The window manager's close (title-bar button, Alt+F4) arrives as a spontaneous event and
    // is the close command; a close asked for by code is the bare close message.
    if (event->spontaneous()) {
        WindowProc(FrameMessage::kSysCommand, SysCommand::kClose);
    } else {
        WindowProc(FrameMessage::kClose, 0);
    }
}

void FrameDialog::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_LargeIconSize);
    const IconPosition at = minimizedIconPosition(width(), height(), iconSize, iconSize);
    m_hIcon.paint(&painter, QRect(at.x, at.y, iconSize, iconSize));
}
