// SPDX-License-Identifier: AGPL-3.0-or-later
#include "editpane/HagakiEditDialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "editpane/HagakiText.h"
#include "editpane/MemoEdit.h"
#include "ormamsg/StringTable.h"
#include "qtglue/QtText.h"
#include "win32/CodePage.h"

namespace {

// The byte limit (and for the year the digits) of a one-line field, applied to
// what the user inserts: too long an insertion is cut where it was made, one
// with a character the field refuses, or that CP932 cannot hold, is not taken.
// Text that the pane sets itself passes unchecked.
class CFieldValidator : public QValidator {
public:
    CFieldValidator(const FieldRule& rule, QLineEdit* pEdit) : QValidator(pEdit), m_rule(rule) {
        QObject::connect(pEdit, &QLineEdit::textChanged, pEdit,
                         [this](const QString& text) { m_strLast = ov::FromQString(text); });
    }

    State validate(QString& input, int& pos) const override {
        if (m_bSetting)
            return Acceptable;
        const std::optional<std::string> after = ov::Utf8ToCp932(input.toStdString());
        if (!after)
            return Invalid;
        std::string strResult;
        int iCaret = BytesBeforeChar(*after, pos);
        switch (ApplyFieldInput(m_strLast, *after, m_rule, &strResult, &iCaret)) {
            case FieldInput::Accepted:
                return Acceptable;
            case FieldInput::Refused:
                return Invalid;
            case FieldInput::Cut:
                input = ov::ToQString(strResult);
                pos = CharsBeforeByte(strResult, iCaret);
                return Acceptable;
        }
        return Invalid;
    }

    bool m_bSetting = false;

private:
    FieldRule m_rule;
    std::string m_strLast;
};

}  // namespace

CHagakiEditDialog::CHagakiEditDialog(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("CHagakiEditDialog"));
    auto* pLayout = new QGridLayout(this);
    pLayout->setColumnStretch(1, 1);

    auto addLabel = [&](int nID, QWidget* pBuddy, int iRow) {
        // The label's mnemonic (Alt+letter) moves the focus to its field.
        auto* pLabel = new QLabel(ov::ToQString(LoadResString(static_cast<UINT>(nID))), this);
        pLabel->setObjectName(QStringLiteral("label%1").arg(nID));
        pLabel->setBuddy(pBuddy);
        pLayout->addWidget(pLabel, iRow, 0, Qt::AlignLeft | Qt::AlignVCenter);
    };
    // Text limits in bytes of CP932.
    m_pEditFrom = AddField(IDC_HAGAKI_FROM, 100, false);
    m_pEditFromkana = AddField(IDC_HAGAKI_FROMKANA, 200, false);
    m_pEditNumber = AddField(IDC_HAGAKI_NUMBER, 22, false);
    m_pEditYear = AddField(IDC_HAGAKI_YEAR, 4, true);
    m_pEditType = AddField(IDC_HAGAKI_TYPE, 40, false);
    int iRow = 0;
    for (QLineEdit* pEdit : {m_pEditFrom, m_pEditFromkana, m_pEditNumber, m_pEditYear, m_pEditType}) {
        addLabel(pEdit->property("controlID").toInt(), pEdit, iRow);
        pLayout->addWidget(pEdit, iRow++, 1);
    }
    m_pEditYear->setMaximumWidth(m_pEditYear->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);

    m_cMemoEdit = new CMemoEdit(this);
    m_cMemoEdit->setObjectName(QStringLiteral("edit%1").arg(IDC_HAGAKI_MEMO));
    m_cMemoEdit->SetTextLimit(200);
    addLabel(IDC_HAGAKI_MEMO, m_cMemoEdit, iRow);
    pLayout->addWidget(m_cMemoEdit, ++iRow, 0, 1, 2);
    // About eight lines of memo; the room below the form stays empty.
    m_cMemoEdit->setFixedHeight(m_cMemoEdit->fontMetrics().lineSpacing() * 8 + 12);
    ++iRow;
    connect(m_cMemoEdit, &QPlainTextEdit::textChanged, this, [this] { OnFieldChanged(IDC_HAGAKI_MEMO); });

    m_pResetButton = new QPushButton(ov::ToQString(LoadResString(IDC_HAGAKI_RESET)), this);
    m_pResetButton->setObjectName(QStringLiteral("button%1").arg(IDC_HAGAKI_RESET));
    m_pResetButton->setAutoDefault(false);
    m_pResetButton->setEnabled(false);
    pLayout->addWidget(m_pResetButton, iRow, 0, 1, 2, Qt::AlignRight);
    pLayout->setRowStretch(iRow + 1, 1);
    connect(m_pResetButton, &QPushButton::clicked, this, [this] { OnReset(); });

    setMinimumWidth(minimumSizeHint().width());
}

CHagakiEditDialog::~CHagakiEditDialog() = default;

QLineEdit* CHagakiEditDialog::AddField(int nID, int nLimit, bool bDigitsOnly) {
    auto* pEdit = new QLineEdit(this);
    pEdit->setObjectName(QStringLiteral("edit%1").arg(nID));
    pEdit->setProperty("controlID", nID);
    pEdit->setValidator(new CFieldValidator(FieldRule{nLimit, bDigitsOnly}, pEdit));
    connect(pEdit, &QLineEdit::textChanged, this, [this, nID] { OnFieldChanged(nID); });
    return pEdit;
}

QWidget* CHagakiEditDialog::Control(int nID) const {
    if (nID == IDC_HAGAKI_MEMO)
        return m_cMemoEdit;
    if (nID == IDC_HAGAKI_RESET)
        return m_pResetButton;
    return LineEdit(nID);
}

QLineEdit* CHagakiEditDialog::LineEdit(int nID) const {
    switch (nID) {
        case IDC_HAGAKI_FROM:
            return m_pEditFrom;
        case IDC_HAGAKI_FROMKANA:
            return m_pEditFromkana;
        case IDC_HAGAKI_NUMBER:
            return m_pEditNumber;
        case IDC_HAGAKI_YEAR:
            return m_pEditYear;
        case IDC_HAGAKI_TYPE:
            return m_pEditType;
        default:
            return nullptr;
    }
}

std::string CHagakiEditDialog::FieldText(int nID) const {
    if (nID == IDC_HAGAKI_MEMO) {
        std::string strMemo;
        return *m_cMemoEdit->GetFilteredText(&strMemo);
    }
    const QLineEdit* pEdit = LineEdit(nID);
    return pEdit != nullptr ? ov::FromQString(pEdit->text()) : std::string();
}

void CHagakiEditDialog::SetFieldText(int nID, const std::string& strText) {
    QLineEdit* pEdit = LineEdit(nID);
    if (pEdit == nullptr)
        return;
    auto* pValidator = static_cast<CFieldValidator*>(const_cast<QValidator*>(pEdit->validator()));
    pValidator->m_bSetting = true;
    pEdit->setText(ov::ToQString(strText));
    pEdit->setCursorPosition(0);
    pValidator->m_bSetting = false;
}

BOOL CHagakiEditDialog::SetDocument(IHagakiRecordSource* pSource) {
    if (pSource == nullptr) {
        OV_TRACE("Parameter Error! pDoc is Empty < 1.\n");
        return FALSE;
    }
    m_pSource = pSource;
    return TRUE;
}

int CHagakiEditDialog::Load() {
    return OV_GUARDED(
        [&]() -> int {
            if (m_pSource == nullptr) {
                OV_TRACE("Parameter Error! pDoc is Empty < 1.\n");
                return -5;
            }
            CHagakiInfo cInfo;
            m_pSource->GetHagakiInfo(cInfo, 0);
            m_strNumberStored = cInfo.m_strNumber;
            std::string strHan;
            if (ZenToHan(m_strNumberStored, strHan))
                cInfo.m_strNumber = strHan;
            else
                OV_TRACE("ZenToHan Error! [%s]\n", FieldText(IDC_HAGAKI_NUMBER).c_str());
            m_cOrgRecord = cInfo;
            m_bModified = FALSE;
            if (!m_pSource->HasHagakiManage()) {
                OV_TRACE("UnException Occurred! [ErrorCode] %d\n", GetLastError());
                return -5;
            }
            const BOOL bReadOnly =
                m_pSource->IsEditable() == 0 || (cInfo.m_strFile1.empty() && cInfo.m_strFile2.empty());
            SetReadOnly(bReadOnly);
            OnReset();
            return 0;
        },
        ov::GuardCodes{-1, -1, -1});
}

void CHagakiEditDialog::OnReset() {
    OV_GUARDED([&] {
        m_strFrom = m_cOrgRecord.m_strFrom;
        m_strFromkana = m_cOrgRecord.m_strFromkana;
        m_strNumber = m_cOrgRecord.m_strNumber;
        m_strYear = m_cOrgRecord.m_strYear;
        m_strType = m_cOrgRecord.m_strType;
        // Putting the loaded values in is no change of the user's.
        const BOOL bReadOnly = m_bReadOnly;
        m_bReadOnly = TRUE;
        m_cMemoEdit->SetMemoText(m_cOrgRecord.m_strMemo);
        m_bReadOnly = bReadOnly;
        UpdateValues(FALSE);
        m_pResetButton->setEnabled(false);
        m_bModified = FALSE;
        return 0;
    });
}

int CHagakiEditDialog::SaveToDoc() {
    return OV_GUARDED(
        [&]() -> int {
            if (m_pSource == nullptr)
                return 0;
            UpdateValues(TRUE);
            CHagakiInfo cInfo;
            m_pSource->GetHagakiInfo(cInfo, 0);
            cInfo.SetFrom(m_strFrom);
            cInfo.SetFromkana(m_strFromkana);
            cInfo.SetYear(m_strYear);
            cInfo.SetType(m_strType);
            std::string strMemo;
            cInfo.SetMemo(*m_cMemoEdit->GetFilteredText(&strMemo));
            // An unchanged lot number goes back byte for byte as it was stored.
            if (m_strNumber == m_cOrgRecord.m_strNumber) {
                cInfo.SetNumber(m_strNumberStored);
            } else {
                std::string strZen;
                if (HanToZen(m_strNumber, strZen)) {
                    cInfo.SetNumber(strZen);
                } else {
                    OV_TRACE("HanToZen Error! [%s]\n", m_strNumber.c_str());
                    cInfo.SetNumber(m_strNumberStored);
                }
            }
            m_pSource->SetHagakiInfo(cInfo);
            return 0;
        },
        ov::GuardCodes{-1, -1, -1});
}

BOOL CHagakiEditDialog::UpdateValues(BOOL bSave) {
    if (bSave) {
        m_strType = FieldText(IDC_HAGAKI_TYPE);
        m_strFromkana = FieldText(IDC_HAGAKI_FROMKANA);
        m_strFrom = FieldText(IDC_HAGAKI_FROM);
        m_strNumber = FieldText(IDC_HAGAKI_NUMBER);
        m_strYear = FieldText(IDC_HAGAKI_YEAR);
        return TRUE;
    }
    // The change notifications of loading are not the user's changes.
    const BOOL bReadOnly = m_bReadOnly;
    m_bReadOnly = TRUE;
    SetFieldText(IDC_HAGAKI_TYPE, m_strType);
    SetFieldText(IDC_HAGAKI_FROMKANA, m_strFromkana);
    SetFieldText(IDC_HAGAKI_FROM, m_strFrom);
    SetFieldText(IDC_HAGAKI_NUMBER, m_strNumber);
    SetFieldText(IDC_HAGAKI_YEAR, m_strYear);
    m_bReadOnly = bReadOnly;
    return TRUE;
}

void CHagakiEditDialog::SetReadOnly(BOOL bReadOnly) {
    m_bReadOnly = bReadOnly;
    for (int nID :
         {IDC_HAGAKI_TYPE, IDC_HAGAKI_FROMKANA, IDC_HAGAKI_FROM, IDC_HAGAKI_YEAR, IDC_HAGAKI_NUMBER})
        LineEdit(nID)->setReadOnly(bReadOnly != 0);
    m_cMemoEdit->setReadOnly(bReadOnly != 0);
    if (bReadOnly)
        m_pResetButton->setEnabled(false);
}

void CHagakiEditDialog::OnFieldChanged(int nID) {
    if (!m_bReadOnly) {
        // Once modified, the pane stays modified until it is reset or loaded,
        // even when the old text is typed back.
        if (!m_bModified)
            m_bModified = IsModified();
        if (m_bModified)
            m_pResetButton->setEnabled(true);
    }
    if (nID == IDC_HAGAKI_NUMBER)
        CheckNumber();
}

BOOL CHagakiEditDialog::IsModified() {
    const int iModified = OV_GUARDED(
        [&]() -> int {
            const std::pair<int, const std::string*> fields[] = {
                {IDC_HAGAKI_FROM, &m_cOrgRecord.m_strFrom},
                {IDC_HAGAKI_FROMKANA, &m_cOrgRecord.m_strFromkana},
                {IDC_HAGAKI_YEAR, &m_cOrgRecord.m_strYear},
                {IDC_HAGAKI_NUMBER, &m_cOrgRecord.m_strNumber},
                {IDC_HAGAKI_TYPE, &m_cOrgRecord.m_strType},
                {IDC_HAGAKI_MEMO, &m_cOrgRecord.m_strMemo},
            };
            for (const auto& [nID, pOrg] : fields) {
                if (FieldText(nID) != *pOrg)
                    return 1;
            }
            return 0;
        },
        ov::GuardCodes{0, 0, 0});
    return iModified != 0 ? TRUE : FALSE;
}

void CHagakiEditDialog::CheckNumber() {
    const BOOL bValid = IsValidNumber(FieldText(IDC_HAGAKI_NUMBER));
    if (bValid == m_bNumberValid)
        return;
    m_bNumberValid = bValid;
    // Only the text colour changes: the window-text colour, red while ill-formed.
    QPalette palette = m_pEditNumber->palette();
    palette.setColor(QPalette::Text,
                     bValid ? QApplication::palette(m_pEditNumber).color(QPalette::Text) : QColor(255, 0, 0));
    m_pEditNumber->setPalette(palette);
    m_pEditNumber->update();
}
