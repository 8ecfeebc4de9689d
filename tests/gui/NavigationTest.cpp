// SPDX-License-Identifier: AGPL-3.0-or-later
// Home, End and go-to over index sheets, the keys added to the toolbar's
// commands, the page indicator, and Qt's own texts in Japanese.
#include <cstdio>

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "GuiTestSupport.h"
#include "display/OrmaViewView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"

namespace {

class NavigationTest : public guitest::ViewerFixture {
protected:
    // Puts the five pages of the test document in another order (the page IDs
    // 3 and 4 are the index sheets).
    void SetPageOrder(const char* list) {
        ovtest::WriteFile(m_env.WorkDesk() + "/Doc000012/Doc.dat",
                          std::string("[DocInfo]\r\nPageTotal=3\r\nIndexTotal=2\r\nDocName=Test doc\r\n"
                                      "MaxPageID=5\r\nPageIDList=") +
                              list + "\r\n");
    }
    int CurrentPageID() const { return Doc()->GetPageID(Doc()->m_iCurPagePos); }
    QString Indicator() const { return Frame()->PageIndicator()->text(); }
    void Key(QKeyCombination key) {
        Frame()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
        QTest::keyClick(View(), key.key(), key.keyboardModifiers());
    }
};

TEST_F(NavigationTest, HomeEndAndGoToReachThePagesTheStepsReach) {
    struct Case {
        const char* list;  // page IDs in position order
        int iStartID;
        QKeyCombination key;  // Ctrl+G: go to number iNumber
        int iNumber;
        int iExpectedID;
        const char* indicator;
    };
    const Case cases[] = {
        {"1,2,3,4,5", 2, Qt::Key_End, 0, 5, "3 / 3"},
        {"1,2,3,4,5", 5, Qt::Key_Home, 0, 1, "1 / 3"},
        {"1,2,3,4,5", 1, Qt::Key_End, 0, 5, "3 / 3"},   // over the index sheets in one move
        {"3,4,1,2,5", 5, Qt::Key_Home, 0, 1, "1 / 3"},  // leading index sheets are not reached
        {"1,2,5,3,4", 1, Qt::Key_End, 0, 5, "3 / 3"},   // trailing ones neither
        {"1,2,3,4,5", 3, Qt::Key_Home, 0, 1, "1 / 3"},  // from an index sheet
        {"1,2,3,4,5", 1, Qt::CTRL | Qt::Key_G, 3, 5, "3 / 3"},
        {"3,1,4,2,5", 1, Qt::CTRL | Qt::Key_G, 2, 2, "2 / 3"},  // numbers count normal pages only
        {"1,2,3,4,5", 2, Qt::CTRL | Qt::Key_G, 1, 1, "1 / 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.list) + " from " + std::to_string(c.iStartID) + " to " +
                     std::to_string(c.iExpectedID));
        SetPageOrder(c.list);
        ASSERT_TRUE(StartOnPage(c.iStartID));
        int iOffered = -1;
        if (c.iNumber > 0) {
            QTimer::singleShot(0, [&] {
                auto* pDialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
                if (pDialog == nullptr)
                    return;
                iOffered = pDialog->intMaximum();
                pDialog->setIntValue(c.iNumber);
                pDialog->accept();
            });
        }
        Key(c.key);
        EXPECT_EQ(CurrentPageID(), c.iExpectedID);
        EXPECT_EQ(Indicator(), QString::fromLatin1(c.indicator));
        EXPECT_EQ(Frame()->windowTitle(),
                  QStringLiteral("Test doc ( %1 )").arg(QString(c.indicator).remove(' ')));
        if (c.iNumber > 0) {
            EXPECT_EQ(iOffered, 3);  // 1 to the page total
        }
        EXPECT_EQ(m_env.MessageLog(), "");
    }
}

TEST_F(NavigationTest, GoToOutsideTheRangeDoesNotMove) {
    ASSERT_TRUE(StartOnPage(2));
    for (int iNumber : {0, 4, -1, 1000000}) {
        EXPECT_EQ(Frame()->GoToPageNumber(iNumber), 0) << iNumber;
        EXPECT_EQ(CurrentPageID(), 2) << iNumber;
    }
    EXPECT_EQ(Frame()->GoToPageNumber(3), 0);
    EXPECT_EQ(CurrentPageID(), 5);
}

TEST_F(NavigationTest, IndicatorOnAnIndexSheetAndTheViewKeepsItsSize) {
    ASSERT_TRUE(StartOnPage(3));
    EXPECT_EQ(Indicator(), QStringLiteral("- / 3"));
    EXPECT_TRUE(Frame()->PageIndicator()->toolTip().contains(QStringLiteral("Home")));
    // The indicator sits in the toolbar under the buttons and widens nothing.
    EXPECT_EQ(Frame()->PageIndicator()->parentWidget(), Frame()->ToolBar());
    const QSize withIndicator = View()->size();
    Frame()->PageIndicator()->setText(QStringLiteral("99999 / 99999"));
    QApplication::processEvents();
    EXPECT_EQ(View()->size(), withIndicator);
    Frame()->PageIndicator()->hide();
    QApplication::processEvents();
    EXPECT_EQ(View()->size(), withIndicator);
}

TEST_F(NavigationTest, CtrlQAndCtrlWCloseAndAToggleTheAnnotations) {
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_TRUE(
        Frame()->CommandAction(ID_VIEW_CLOSE)->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Q)));
    EXPECT_TRUE(Frame()->CommandAction(ID_ANNOTATION)->shortcuts().contains(QKeySequence(Qt::Key_A)));
    const int iShown = Doc()->m_bShowEditInfo;
    Key(Qt::Key_A);
    EXPECT_NE(Doc()->m_bShowEditInfo, iShown);
    EXPECT_EQ(Frame()->CommandAction(ID_ANNOTATION)->isChecked(), Doc()->m_bShowEditInfo != 0);
    for (QKeyCombination key : {Qt::CTRL | Qt::Key_Q, Qt::CTRL | Qt::Key_W}) {
        std::remove(m_env.WorkDeskDat().c_str());
        if (!Frame()->isVisible()) {
            ASSERT_TRUE(StartOnPage(1));
        }
        Key(key);
        EXPECT_FALSE(Frame()->isVisible());
        EXPECT_EQ(Value("Width"), Frame()->width());  // the closing steps ran
    }
}

TEST(QtTranslations, QtsOwnTextsFollowTheJapaneseLocale) {
    guitest::App();
    {
        ovtest::EnvGuard all("LC_ALL", "ja_JP.UTF-8");
        ov::InstallQtTranslations();
        EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    }
    ovtest::EnvGuard all("LC_ALL", "C");
    ov::InstallQtTranslations();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

}  // namespace
