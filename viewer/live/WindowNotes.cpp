#include "viewer/live/WindowNotes.h"

namespace {
constexpr int kNoteMarginPixels = 3;
const QString kDismissLink = QStringLiteral("dismiss");
}  // namespace

WindowNotes::WindowNotes(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("windowNotes"));
    setTextFormat(Qt::RichText);
    setWordWrap(true);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    setMargin(kNoteMarginPixels);
    connect(this, &QLabel::linkActivated, this, [this] { dismiss(); });
    hide();
}

void WindowNotes::say(Topic topic, const QString& text) {
    m_lines[static_cast<std::size_t>(topic)] = text;
    refresh();
}

const QString& WindowNotes::said(Topic topic) const {
    return m_lines[static_cast<std::size_t>(topic)];
}

void WindowNotes::dismiss() {
    for (QString& line : m_lines) {
        line.clear();
    }
    refresh();
}

void WindowNotes::takeRoomFrom(ListPlacement& list) {
    if (isHidden()) {
        return;
    }
    // A wrapped note is as tall as its lines need at the list's width.
    const int height = heightForWidth(list.width);
    const ListPlacement place =
        takeFromBottom(list, height > 0 ? height : sizeHint().height(), kGapAboveNote);
    setGeometry(place.x, place.y, place.width, place.height);
}

void WindowNotes::refresh() {
    QString html;
    for (const QString& line : m_lines) {
        if (!line.isEmpty()) {
            html += (html.isEmpty() ? QString() : QStringLiteral("<br>")) + line.toHtmlEscaped();
        }
    }
    const bool wasShown = !isHidden();
    if (html.isEmpty()) {
        setText(QString());
        hide();
        if (wasShown) {
            emit shownOrHidden();
        }
        return;
    }
    setText(html + QStringLiteral(" <a href=\"%1\">Dismiss</a>").arg(kDismissLink));
    if (wasShown) {
        // The new text may need another height.
        emit shownOrHidden();
        return;
    }
    show();
    emit shownOrHidden();
}
