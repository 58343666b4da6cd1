#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/live/CQuorvaneDlg.h"
#include "viewer/windows/CSaveAsDialog.h"

namespace {

TEST(SaveAsDialogTest, OffersTheTitleFilterDefaultNameAndExtensionInQtsOwnDialog) {
    CSaveAsDialog dialog(nullptr, QStringLiteral("20240305140709"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Save Quorvane As Tabbed Text File"));
    EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("Tab Delimited File (*.txt)")});
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("txt"));
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(),
              QStringLiteral("20240305140709"));
}

TEST(SaveAsDialogTest, RefusesAMissingFolderAFolderAndAReadOnlyFile) {
    QTemporaryDir folder;
    EXPECT_TRUE(CSaveAsDialog::refusalReason(folder.filePath(QStringLiteral("new.txt"))).isEmpty());
    EXPECT_FALSE(
        CSaveAsDialog::refusalReason(folder.filePath(QStringLiteral("no/new.txt"))).isEmpty());
    EXPECT_FALSE(CSaveAsDialog::refusalReason(folder.path()).isEmpty());
    const QString readOnly = folder.filePath(QStringLiteral("locked.txt"));
    viewertest::writeFile(readOnly.toStdString(), "x");
    const QString writable = folder.filePath(QStringLiteral("open.txt"));
    viewertest::writeFile(writable.toStdString(), "x");
    ASSERT_EQ(::chmod(readOnly.toLocal8Bit().constData(), 0444), 0);
    EXPECT_FALSE(CSaveAsDialog::refusalReason(readOnly).isEmpty());
    EXPECT_TRUE(CSaveAsDialog::refusalReason(writable).isEmpty());
}

// Drives the real save dialog: `steps` run one after another whenever the modal window they
// expect is on top.
class SaveDialogDriver {
  public:
    using Step = std::function<bool(QWidget* modal)>;  // true when done with this step

    explicit SaveDialogDriver(std::vector<Step> steps) : m_steps(std::move(steps)) {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && m_next < m_steps.size() && m_steps[m_next](modal)) {
                ++m_next;
            }
        });
        m_timer.start();
    }
    std::size_t stepsDone() const { return m_next; }

  private:
    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    QTimer m_timer;
};

bool typeIntoSaveDialog(QWidget* modal, const QString& text) {
    auto* dialog = qobject_cast<CSaveAsDialog*>(modal);
    if (dialog == nullptr) {
        return false;
    }
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    // Typing into the focused name field drops the selection in the file list; offscreen, focus
    // does not come back after a message box, so drop it here.
    if (auto* files = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"))) {
        files->clearSelection();
    }
    edit->setText(text);
    auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QPushButton* save = buttons->button(QDialogButtonBox::Save);
    if (save == nullptr || !save->isEnabled()) {
        return false;
    }
    // Queued: the click may open a nested modal loop, which must not run inside the driver.
    QMetaObject::invokeMethod(
        save, [save] { save->click(); }, Qt::QueuedConnection);
    return true;
}

bool answerMessageBox(QWidget* modal, QMessageBox::StandardButton answer, QString* text) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
        return false;
    }
    *text = box->text();
    QPushButton* button = qobject_cast<QPushButton*>(box->button(answer));
    if (button == nullptr) {
        return false;
    }
    QMetaObject::invokeMethod(
        button, [button] { button->click(); }, Qt::QueuedConnection);
    return true;
}

TEST(SaveAsDialogTest, AskingBeforeReplacingAFileAndAddingTheExtension) {
    QTemporaryDir folder;
    const QString existing = folder.filePath(QStringLiteral("log.txt"));
    viewertest::writeFile(existing.toStdString(), "old");
    QString question;
    SaveDialogDriver driver({
        [&](QWidget* modal) {
            return typeIntoSaveDialog(modal, folder.filePath(QStringLiteral("log")));
        },
        [&](QWidget* modal) { return answerMessageBox(modal, QMessageBox::Yes, &question); },
    });
    const QString chosen =
        CQuorvaneDlg::chooseSavePathWithDialog(nullptr, QStringLiteral("20240305140709"));
    EXPECT_EQ(driver.stepsDone(), 2u);
    EXPECT_TRUE(question.contains(QStringLiteral("log.txt")));
    EXPECT_EQ(chosen, existing);
}

TEST(SaveAsDialogTest, DecliningToReplaceOrAMissingFolderKeepsTheDialogOpen) {
    QTemporaryDir folder;
    const QString existing = folder.filePath(QStringLiteral("keep.txt"));
    viewertest::writeFile(existing.toStdString(), "old");
    QString question;
    QString refusal;
    SaveDialogDriver driver({
        [&](QWidget* modal) { return typeIntoSaveDialog(modal, existing); },
        [&](QWidget* modal) { return answerMessageBox(modal, QMessageBox::No, &question); },
        [&](QWidget* modal) {
            return typeIntoSaveDialog(modal, folder.filePath(QStringLiteral("missing/new.txt")));
        },
        [&](QWidget* modal) { return answerMessageBox(modal, QMessageBox::Ok, &refusal); },
        [&](QWidget* modal) {
            if (qobject_cast<CSaveAsDialog*>(modal) == nullptr) {
                return false;
            }
            QMetaObject::invokeMethod(
                modal, [modal] { QTest::keyClick(modal, Qt::Key_Escape); }, Qt::QueuedConnection);
            return true;
        },
    });
    const QString chosen = CQuorvaneDlg::chooseSavePathWithDialog(nullptr, QStringLiteral("x"));
    EXPECT_EQ(driver.stepsDone(), 5u);
    EXPECT_FALSE(question.isEmpty());
    EXPECT_TRUE(refusal.contains(QStringLiteral("does not exist")));
    EXPECT_TRUE(chosen.isEmpty());
    EXPECT_EQ(viewertest::readFile(existing.toStdString()), "old");
}

}  // namespace
