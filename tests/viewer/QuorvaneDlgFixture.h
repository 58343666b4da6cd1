#pragma once
// The fixture the dialog's tests share: a shown CQuorvaneDlg, records posted from a child, the
// rows on screen and a save through the Save button into a private folder.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/live/CQuorvaneDlg.h"

namespace viewertest {

using Lines = std::vector<std::string>;

class QuorvaneDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog = std::make_unique<CQuorvaneDlg>();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }

    void TearDown() override { dialog.reset(); }

    void post(std::initializer_list<TraceRecord> records) {
        ASSERT_TRUE(postFromChild(std::vector<TraceRecord>(records)));
    }

    Lines shown() const { return rows(dialog->logList().model()); }

    // Saves through the Save button with a chooser that answers `path`; returns how often the
    // chooser was asked.
    int saveTo(const QString& path) {
        int asked = 0;
        dialog->setSavePathChooser([&](QWidget*, const QString& defaultName) {
            ++asked;
            proposedName = defaultName;
            return path;
        });
        QTest::mouseClick(&dialog->saveButton(), Qt::LeftButton);
        return asked;
    }

    std::unique_ptr<CQuorvaneDlg> dialog;
    QTemporaryDir folder;
    QString proposedName;
};

}  // namespace viewertest
