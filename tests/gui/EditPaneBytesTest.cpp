// SPDX-License-Identifier: AGPL-3.0-or-later
// The edit pane gives back, byte for byte, every field the user did not change:
// undecodable bytes, a lone lead byte at the end, a memo over its limit and
// NEC-selected IBM extension codes; only a changed field is encoded anew.
#include <string>

#include <gtest/gtest.h>
#include <QLineEdit>

#include "GuiTestSupport.h"
#include "editpane/HagakiEditDialog.h"
#include "editpane/MemoEdit.h"
#include "postcard/HagakiInfo.h"
#include "postcard/HagakiRecordSource.h"

namespace {

class CRecordSource : public IHagakiRecordSource {
public:
    int GetHagakiInfo(CHagakiInfo& cInfo, int) override {
        cInfo = m_cInfo;
        return 0;
    }
    int SetHagakiInfo(const CHagakiInfo& cInfo) override {
        m_cInfo = cInfo;
        return 0;
    }
    BOOL HasHagakiManage() const override { return TRUE; }
    BOOL IsEditable() const override { return TRUE; }
    CHagakiInfo m_cInfo;
};

TEST(EditPaneBytes, UntouchedFieldsGoBackAsStoredAndAChangedOneIsEncodedAnew) {
    CRecordSource source;
    CHagakiInfo& rec = source.m_cInfo;
    rec.m_strFrom = std::string(
        "\xff\xfe\x80\xa0"
        "abc\xfd",
        8);                                      // does not decode
    rec.m_strFromkana = "\x8e\x52\x93\x63\x82";  // 山田 + a lone lead byte
    rec.m_strMemo = std::string(2000, 'm');      // over the 200-byte limit
    rec.m_strType = "\xed\x40\x87\x90";          // NEC-selected IBM codes
    rec.m_strYear = "2024";
    rec.m_strFile1 = "F.pdf";
    const CHagakiInfo stored = rec;

    guitest::App();
    CHagakiEditDialog pane;
    ASSERT_TRUE(pane.SetDocument(&source));
    ASSERT_EQ(0, pane.Load());
    auto* pFrom = qobject_cast<QLineEdit*>(pane.Control(IDC_HAGAKI_FROM));
    EXPECT_TRUE(pFrom->text().contains(QChar(0xFFFD)));  // shown, visibly replaced
    EXPECT_FALSE(pane.IsModified());

    ASSERT_EQ(0, pane.SaveToDoc());
    EXPECT_EQ(stored.m_strFrom, rec.m_strFrom);
    EXPECT_EQ(stored.m_strFromkana, rec.m_strFromkana);
    EXPECT_EQ(stored.m_strMemo, rec.m_strMemo);
    EXPECT_EQ(stored.m_strType, rec.m_strType);
    EXPECT_FALSE(stored.IsDiffUserFields(rec));

    // The user changes the year only: every other field keeps its bytes.
    auto* pYear = qobject_cast<QLineEdit*>(pane.Control(IDC_HAGAKI_YEAR));
    pYear->setText(QStringLiteral("2025"));
    ASSERT_EQ(0, pane.SaveToDoc());
    EXPECT_EQ("2025", rec.m_strYear);
    EXPECT_EQ(stored.m_strFrom, rec.m_strFrom);
    EXPECT_EQ(stored.m_strType, rec.m_strType);
    EXPECT_EQ(stored.m_strMemo, rec.m_strMemo);

    // A change next to the replacement character keeps the undecodable bytes and
    // never writes U+FFFD as text.
    pFrom->setText(pFrom->text() + QStringLiteral("d"));
    ASSERT_EQ(0, pane.SaveToDoc());
    EXPECT_EQ(stored.m_strFrom + "d", rec.m_strFrom);
}

}  // namespace
