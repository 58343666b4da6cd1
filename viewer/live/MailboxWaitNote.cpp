#include "viewer/live/MailboxWaitNote.h"

#include <QPalette>

namespace {
constexpr int kMarginPixels = 4;
}  // namespace

MailboxWaitNote::MailboxWaitNote(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("waitNote"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    setMargin(kMarginPixels);
    // The sentence names the mailbox and the process holding it; it is wrapped, not cut.
    setWordWrap(true);
    hide();
}

void MailboxWaitNote::showWaiting(const std::string& failure) {
    setText(
        QStringLiteral("Waiting for the trace mailbox: %1")
            .arg(QString::fromLocal8Bit(failure.data(), static_cast<qsizetype>(failure.size()))));
    resize(width(), heightForWidth(width()));
    show();
    raise();
}

void MailboxWaitNote::placeOver(const QRect& area) {
    setGeometry(area.x(), area.y(), area.width(), heightForWidth(area.width()));
}
