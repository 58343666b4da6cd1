#pragma once

class QString;
class QWidget;

// The viewer's one kind of message box: a modal warning over `parent`, captioned with the
// program's name, that returns once it has been seen.
void showWarningBox(QWidget* parent, const QString& text);
