#pragma once
#include <QDialog>
#include <QIcon>
#include <cstdint>

// A dialog that meets the desktop as the viewer's main window does, by the frame rules
// (FrameRules.h): the window manager's close (title-bar button, Alt+F4) is the close command
// and ends it, a close asked for by code is the bare close message and leaves it running, and
// the About command opens the About box. Enter and Escape do nothing, except that Enter presses
// a focused push button. Minimised, it paints its icon. It ends only through endDialog(), which
// first closes the windows and menus opened over it.
class FrameDialog : public QDialog {
    Q_OBJECT
  public:
    explicit FrameDialog(QWidget* parent);

    // Opens the About box for the About command; other system commands do nothing here.
    void OnSysCommand(std::uintptr_t id);
    // Applies the frame rules to `message`; returns whether it was handled here.
    bool WindowProc(std::uint32_t message, std::uintptr_t wParam);

    bool hasEnded() const { return m_ended; }
    const QIcon& icon() const { return m_hIcon; }

    // Escape and Enter do nothing here (Enter presses a focused push button); the dialog ends
    // only through endDialog().
    void accept() override;
    void reject() override;

  protected:
    // Ends the dialog, once: ending() first, then the windows and menus over it, then the dialog.
    void endDialog();
    // What the window stops as it ends, before anything is closed.
    virtual void ending() {}

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QIcon m_hIcon;
    bool m_ended = false;
};
