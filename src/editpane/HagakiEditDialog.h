// SPDX-License-Identifier: AGPL-3.0-or-later
// The postcard edit pane, left of the page view in postcard mode: the sender's
// name, its kana reading, the lot number, the year, the class and the memo of the
// current postcard, with a reset button. It keeps the values as loaded, tracks
// whether the user changed any (which enables the reset button), shows the lot
// number half-width and in red while it is ill-formed, and hands its values to
// the working record of its record source when the frame asks. It writes no file.
#pragma once

#include <string>

#include <QWidget>

#include "base/WinTypes.h"
#include "editpane/HagakiText.h"
#include "postcard/HagakiInfo.h"
#include "postcard/HagakiRecordSource.h"

class QLabel;
class QLineEdit;
class QPushButton;
class CMemoEdit;

// Control IDs of the pane.
enum : int {
    IDC_HAGAKI_RESET = 160,
    IDC_HAGAKI_FROM = 161,
    IDC_HAGAKI_NUMBER = 162,
    IDC_HAGAKI_YEAR = 163,
    IDC_HAGAKI_TYPE = 164,
    IDC_HAGAKI_MEMO = 165,
    IDC_HAGAKI_FROMKANA = 166,
};

class CHagakiEditDialog : public QWidget {
    Q_OBJECT

public:
    explicit CHagakiEditDialog(QWidget* parent = nullptr);
    ~CHagakiEditDialog() override;

    // Where the record comes from and goes back to (not owned); FALSE for null.
    BOOL SetDocument(IHagakiRecordSource* pSource);
    // Shows the source's working record: 0, -5 without a postcard manager,
    // -1 for an exception.
    int Load();
    // Hands the shown values to the source's working record: 0 or -1.
    int SaveToDoc();
    void SetReadOnly(BOOL bReadOnly);
    // Controls to members (TRUE) or members to controls (FALSE).
    BOOL UpdateValues(BOOL bSave);
    // A shown value differs from the loaded record (byte-wise).
    BOOL IsModified();
    void CheckNumber();
    // The reset button: the loaded values back into the fields.
    void OnReset();

    // The control of an ID (the six fields and the reset button); null for others.
    QWidget* Control(int nID) const;
    CMemoEdit* MemoEdit() const { return m_cMemoEdit; }
    QLabel* NumberHint() const { return m_pNumberHint; }

    std::string m_strType;
    std::string m_strFromkana;
    std::string m_strFrom;
    std::string m_strNumber;  // as shown, half-width
    std::string m_strYear;
    IHagakiRecordSource* m_pSource = nullptr;
    CHagakiInfo m_cOrgRecord;       // as loaded, lot number half-width
    std::string m_strNumberStored;  // the lot number exactly as the record held it
    CHagakiFields m_cLoaded;        // every field's stored bytes and shown text
    BOOL m_bReadOnly = FALSE;
    BOOL m_bModified = FALSE;
    BOOL m_bNumberValid = TRUE;

private:
    // A change notification of a field (EN_CHANGE).
    void OnFieldChanged(int nID);
    QLineEdit* AddField(int nID, int nLimit, bool bDigitsOnly);
    QLineEdit* LineEdit(int nID) const;
    std::string FieldText(int nID) const;
    void SetFieldText(int nID, const std::string& strText);

    QLineEdit* m_pEditFrom = nullptr;
    QLineEdit* m_pEditFromkana = nullptr;
    QLineEdit* m_pEditNumber = nullptr;
    QLineEdit* m_pEditYear = nullptr;
    QLineEdit* m_pEditType = nullptr;
    CMemoEdit* m_cMemoEdit = nullptr;
    QPushButton* m_pResetButton = nullptr;
    QLabel* m_pNumberHint = nullptr;  // the lot number's form, shown while it is red
};
