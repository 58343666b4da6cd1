// The dialog's window: Enter and Escape, the ways it closes, the About box, the template's
// controls, the list's placement and the icon.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "resources/resource.h"
#include "tests/viewer/QuorvaneDlgFixture.h"
#include "viewer/live/CQuorvaneDlg.h"
#include "viewer/windows/CAboutDlg.h"
#include "viewer/windows/DialogTemplates.h"
#include "viewer/windows/DialogUnits.h"

namespace {

using viewertest::drainNow;
using viewertest::makeRecord;
using viewertest::QuorvaneDlgTest;

TEST_F(QuorvaneDlgTest, EscapeAndEnterDoNothingInTheMainDialog) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    for (QWidget* target :
         {static_cast<QWidget*>(&dialog->logList()), static_cast<QWidget*>(&dialog->reverseCheck()),
          static_cast<QWidget*>(&dialog->saveButton())}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->hasEnded());
    dialog->reject();
    dialog->accept();
    EXPECT_TRUE(dialog->isVisible());
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->text().toStdString();
    }
}

TEST_F(QuorvaneDlgTest, EnterPressesTheFocusedPushButtonAndOnlyThatOne) {
    post({makeRecord("f", "one", "p", 1)});
    drainNow(*dialog);
    ASSERT_EQ(shown().size(), 1u);
    QSignalSpy finished(dialog.get(), &QDialog::finished);

    // Enter on the list or the check box leaves the lines; on Clear it clears them.
    for (QWidget* target : {static_cast<QWidget*>(&dialog->logList()),
                            static_cast<QWidget*>(&dialog->reverseCheck())}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    EXPECT_EQ(shown().size(), 1u);
    dialog->clearButton().setFocus();
    QTest::keyClick(&dialog->clearButton(), Qt::Key_Return);
    EXPECT_TRUE(shown().empty());

    // Enter on Save asks where to save; Enter on Close ends the dialog.
    post({makeRecord("f", "two", "p", 1)});
    drainNow(*dialog);
    int asked = 0;
    dialog->setSavePathChooser([&](QWidget*, const QString&) {
        ++asked;
        return QString();
    });
    dialog->saveButton().setFocus();
    QTest::keyClick(&dialog->saveButton(), Qt::Key_Enter);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(finished.count(), 0);

    dialog->closeButton().setFocus();
    QTest::keyClick(&dialog->closeButton(), Qt::Key_Return);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(dialog->hasEnded());
}

TEST_F(QuorvaneDlgTest, ACloseRequestedByCodeIsIgnored) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    EXPECT_FALSE(dialog->close());
    EXPECT_FALSE(dialog->windowHandle()->close());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(dialog->WindowProc(0x0010, 0));
    EXPECT_TRUE(dialog->WindowProc(0x0112, 0xF061));
    EXPECT_TRUE(dialog->WindowProc(0x0218, 7));
    EXPECT_FALSE(dialog->hasEnded());
}

TEST_F(QuorvaneDlgTest, TheWindowManagersCloseEndsTheDialog) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    // What the platform sends for the title-bar button or Alt+F4.
    QCloseEvent close;
    QCoreApplication::sendEvent(dialog->windowHandle(), &close);
    EXPECT_TRUE(dialog->hasEnded());
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), QDialog::Rejected);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(QuorvaneDlgTest, TheCloseButtonEndsTheDialog) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    QTest::mouseClick(&dialog->closeButton(), Qt::LeftButton);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(dialog->hasEnded());
}

TEST_F(QuorvaneDlgTest, ExactCloseCommandAndSuspendAndLowBatteryEndTheDialog) {
    EXPECT_TRUE(dialog->WindowProc(0x0112, 0xF060));
    EXPECT_TRUE(dialog->hasEnded());
    dialog.reset();
    dialog = std::make_unique<CQuorvaneDlg>();
    dialog->WindowProc(0x0218, 0);
    EXPECT_TRUE(dialog->hasEnded());
    dialog = nullptr;
    dialog = std::make_unique<CQuorvaneDlg>();
    dialog->WindowProc(0x0218, 9);
    EXPECT_TRUE(dialog->hasEnded());
}

TEST_F(QuorvaneDlgTest, TerminationSignalEndsTheDialogLikeTheCloseButton) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    ::raise(SIGTERM);
    ASSERT_TRUE(viewertest::waitForValue(
        "dialogs finished", [&] { return finished.count(); }, 1, 2000));
    EXPECT_TRUE(dialog->hasEnded());
}

TEST_F(QuorvaneDlgTest, ContextMenuOpensTheAboutBoxWhichEnterAndEscapeClose) {
    QString menuText;
    QString version;
    QStringList makerLines;
    bool okIsDefault = false;
    int aboutBoxesSeen = 0;
    int finishedInAbout = 0;
    bool nextKeyIsEscape = false;

    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            menuText = menu->actions().value(0)->text();
            QTest::keyClick(menu, Qt::Key_A);  // the item's mnemonic
            return;
        }
        if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
            ++aboutBoxesSeen;
            version = about->findChild<QLabel*>(QStringLiteral("IDC_VERSION"))->text();
            makerLines.clear();
            for (const char* name : {"IDC_MAKER1", "IDC_MAKER2", "IDC_MAKER3"}) {
                makerLines << about->findChild<QLabel*>(QString::fromLatin1(name))->text();
            }
            okIsDefault = about->findChild<QPushButton*>(QStringLiteral("IDOK"))->isDefault();
            QObject::connect(about, &QDialog::finished, [&] { ++finishedInAbout; });
            QTest::keyClick(about, nextKeyIsEscape ? Qt::Key_Escape : Qt::Key_Return);
        }
    });
    watcher.start();

    QWidget* viewport = dialog->logList().viewport();
    QContextMenuEvent onList(QContextMenuEvent::Mouse, QPoint(10, 10),
                             viewport->mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(viewport, &onList);
    EXPECT_EQ(menuText, QStringLiteral("&About Quorvane..."));
    EXPECT_EQ(aboutBoxesSeen, 1);
    EXPECT_EQ(finishedInAbout, 1) << "Enter closes the About box";
    EXPECT_EQ(version, QStringLiteral("Quorvane Version 2.0"));
    EXPECT_EQ(makerLines.size(), 3);
    for (const QString& line : makerLines) {
        EXPECT_FALSE(line.isEmpty());
    }
    EXPECT_TRUE(okIsDefault);

    nextKeyIsEscape = true;
    menuText.clear();
    QContextMenuEvent onDialog(QContextMenuEvent::Keyboard, QPoint(5, 5),
                               dialog->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(dialog.get(), &onDialog);
    EXPECT_EQ(menuText, QStringLiteral("&About Quorvane..."));
    EXPECT_EQ(aboutBoxesSeen, 2);
    EXPECT_EQ(finishedInAbout, 2) << "Escape closes the About box";
    EXPECT_FALSE(dialog->hasEnded());
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(QuorvaneDlgTest, ControlsFollowTheTemplateInTextIdPlaceAndTabOrder) {
    const DialogUnits units = DialogUnits::fromFont(dialog->font());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Quorvane"));
    EXPECT_EQ(dialog->reverseCheck().text(), QStringLiteral("Reverse Output"));
    EXPECT_EQ(dialog->clearButton().text(), QStringLiteral("Clear"));
    EXPECT_EQ(dialog->saveButton().text(), QStringLiteral("Save"));
    EXPECT_EQ(dialog->closeButton().text(), QStringLiteral("Close"));
    EXPECT_EQ(dialog->logList().property(kControlIdProperty).toInt(), IDC_LOG_LIST);
    EXPECT_EQ(dialog->reverseCheck().property(kControlIdProperty).toInt(), IDC_REVERSE);
    EXPECT_EQ(dialog->clearButton().property(kControlIdProperty).toInt(), IDC_CLEAR);
    EXPECT_EQ(dialog->closeButton().property(kControlIdProperty).toInt(), IDC_CLOSE);
    EXPECT_EQ(dialog->saveButton().property(kControlIdProperty).toInt(), IDC_SAVE);
    EXPECT_EQ(dialog->reverseCheck().geometry(), units.toPixels(9, 3, 66, 12));
    EXPECT_EQ(dialog->clearButton().geometry(), units.toPixels(84, 3, 66, 12));
    EXPECT_EQ(dialog->saveButton().geometry(), units.toPixels(159, 3, 66, 12));
    EXPECT_EQ(dialog->closeButton().geometry(), units.toPixels(237, 3, 66, 12));
    EXPECT_EQ(dialog->size(), QSize(units.toPixelsX(310), units.toPixelsY(289)));
    EXPECT_EQ(dialog->logList().tabStopDistance(), units.toPixelsX(32));
    // Left to right on screen: Reverse Output, Clear, Save, Close.
    EXPECT_LT(dialog->clearButton().x(), dialog->saveButton().x());
    EXPECT_LT(dialog->saveButton().x(), dialog->closeButton().x());

    // Tab goes in screen order: from the list to the row above it, left to right, and back.
    dialog->activateWindow();
    dialog->logList().setFocus();
    std::vector<QWidget*> visited;
    for (int i = 0; i < 5; ++i) {
        visited.push_back(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, (std::vector<QWidget*>{&dialog->logList(), &dialog->reverseCheck(),
                                              &dialog->clearButton(), &dialog->saveButton(),
                                              &dialog->closeButton()}));
    EXPECT_EQ(QApplication::focusWidget(), &dialog->logList());
}

TEST_F(QuorvaneDlgTest, TheListFollowsTheWindowSize) {
    const int checkHeight = dialog->reverseCheck().height();
    EXPECT_EQ(dialog->logList().geometry(), QRect(5, checkHeight + 10, dialog->width() - 10,
                                                  dialog->height() - checkHeight - 15));
    dialog->resize(700, 520);
    EXPECT_EQ(dialog->logList().geometry(),
              QRect(5, checkHeight + 10, 690, 520 - checkHeight - 15));
    const int narrowest = dialog->minimumWidth();
    dialog->resize(narrowest, 200);
    EXPECT_EQ(dialog->logList().geometry(),
              QRect(5, checkHeight + 10, narrowest - 10, 200 - checkHeight - 15));
}

TEST_F(QuorvaneDlgTest, TheWindowIconComesInSmallAndLargeSizes) {
    const QList<QSize> sizes = dialog->windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(256, 256)));
    EXPECT_FALSE(dialog->windowIcon().pixmap(32, 32).toImage().isNull());
}

}  // namespace
