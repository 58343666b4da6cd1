#pragma once
#include <QDialog>
#include <QIcon>

// The About box: the application icon, the version and three lines about the maker, with "OK"
// as the default button. OK, Enter and Escape close it.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);
};
