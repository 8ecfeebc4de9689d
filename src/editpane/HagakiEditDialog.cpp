// SPDX-License-Identifier: AGPL-3.0-or-later
#include "editpane/HagakiEditDialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QValidator>

#include "base/ErrorCodes.h"
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
        QObject::connect(pEdit, &QLineEdit::textChanged, pEdit, [this](const QString& text) {
            m_strLast = Utf8ToCp932Marked(text.toStdString()).value_or(std::string());
        });
    }

    State validate(QString& input, int& pos) const override {
        if (m_bSetting)
            return Acceptable;
        // A U+FFFD shown for bytes that did not decode passes as one byte.
        const std::optional<std::string> after = Utf8ToCp932Marked(input.toStdString());
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
                input = QString::fromStdString(Cp932MarkedToUtf8(strResult));
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

// The controls of the six user fields, in the record's order.
constexpr int kFieldIDs[kHagakiFieldCount] = {IDC_HAGAKI_FROM, IDC_HAGAKI_FROMKANA, IDC_HAGAKI_NUMBER,
                                              IDC_HAGAKI_YEAR, IDC_HAGAKI_TYPE,     IDC_HAGAKI_MEMO};

// A label's text as a field's accessible name: without its mnemonic and colon.
QString AccessibleLabel(UINT nID) {
    QString text = ov::ToQString(LoadResString(nID));
    text.remove(QRegularExpression(QStringLiteral("\\(&.\\)|&")));
    while (text.endsWith(QChar(0xFF1A)) || text.endsWith(QLatin1Char(':'))) text.chop(1);
    return text.trimmed();
}

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
    // The lot number's expected form: its tooltip, and a line under it while
    // it is ill-formed.
    const QString strNumberHint = ov::ToQString(LoadResString(IDS_HAGAKI_NUMBER_HINT));
    m_pEditNumber->setToolTip(strNumberHint);
    m_pNumberHint = new QLabel(strNumberHint, this);
    m_pNumberHint->setObjectName(QStringLiteral("numberHint"));
    m_pNumberHint->setWordWrap(true);
    m_pNumberHint->setStyleSheet(QStringLiteral("color: #c00000;"));
    m_pNumberHint->setVisible(false);
    int iRow = 0;
    for (QLineEdit* pEdit : {m_pEditFrom, m_pEditFromkana, m_pEditNumber, m_pEditYear, m_pEditType}) {
        const int nID = pEdit->property("controlID").toInt();
        addLabel(nID, pEdit, iRow);
        pEdit->setAccessibleName(AccessibleLabel(static_cast<UINT>(nID)));
        pEdit->setAccessibleDescription(pEdit->accessibleName());
        pLayout->addWidget(pEdit, iRow++, 1);
        if (pEdit == m_pEditNumber)
            pLayout->addWidget(m_pNumberHint, iRow++, 1);
    }
    m_pEditNumber->setAccessibleDescription(strNumberHint);
    m_pEditYear->setMaximumWidth(m_pEditYear->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);

    m_cMemoEdit = new CMemoEdit(this);
    m_cMemoEdit->setObjectName(QStringLiteral("edit%1").arg(IDC_HAGAKI_MEMO));
    m_cMemoEdit->SetTextLimit(200);
    addLabel(IDC_HAGAKI_MEMO, m_cMemoEdit, iRow);
    m_cMemoEdit->setAccessibleName(AccessibleLabel(IDC_HAGAKI_MEMO));
    m_cMemoEdit->setAccessibleDescription(m_cMemoEdit->accessibleName());
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
    m_pResetButton->setAccessibleName(AccessibleLabel(IDC_HAGAKI_RESET));
    m_pResetButton->setAccessibleDescription(m_pResetButton->accessibleName());

    // Tab follows the fields from top to bottom, then the reset button.
    QWidget* pPrev = m_pEditFrom;
    for (QWidget* pNext : std::initializer_list<QWidget*>{m_pEditFromkana, m_pEditNumber, m_pEditYear,
                                                          m_pEditType, m_cMemoEdit, m_pResetButton}) {
        setTabOrder(pPrev, pNext);
        pPrev = pNext;
    }

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
    if (nID == IDC_HAGAKI_MEMO)
        return m_cMemoEdit->MemoTextUtf8();
    const QLineEdit* pEdit = LineEdit(nID);
    return pEdit != nullptr ? pEdit->text().toStdString() : std::string();
}

void CHagakiEditDialog::SetFieldText(int nID, const std::string& strUtf8) {
    QLineEdit* pEdit = LineEdit(nID);
    if (pEdit == nullptr)
        return;
    auto* pValidator = static_cast<CFieldValidator*>(const_cast<QValidator*>(pEdit->validator()));
    pValidator->m_bSetting = true;
    pEdit->setText(QString::fromStdString(strUtf8));
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
                return ov::kErrException;
            }
            CHagakiInfo cInfo;
            m_pSource->GetHagakiInfo(cInfo, 0);
            m_strNumberStored = cInfo.m_strNumber;
            // Each field keeps the bytes it was loaded from until the user
            // changes it; the lot number shows half-width.
            m_cLoaded = LoadHagakiFields(cInfo);
            std::string strHan;
            if (ZenToHan(m_strNumberStored, strHan))
                cInfo.m_strNumber = strHan;
            m_cOrgRecord = cInfo;
            m_bModified = FALSE;
            if (!m_pSource->HasHagakiManage()) {
                OV_TRACE("UnException Occurred! [ErrorCode] %d\n", GetLastError());
                return ov::kErrException;
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
        m_cMemoEdit->SetMemoTextUtf8(m_cLoaded.values[kHagakiMemo].strShownUtf8);
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
            // A field the user did not change goes back byte for byte as it was
            // stored; a changed one as CP932 (the lot number full-width).
            HagakiTexts now;
            for (int i = 0; i < kHagakiFieldCount; ++i) now[i] = FieldText(kFieldIDs[i]);
            SaveHagakiFields(m_cLoaded, now, &cInfo);
            m_pSource->SetHagakiInfo(cInfo);
            return 0;
        },
        ov::GuardCodes{-1, -1, -1});
}

BOOL CHagakiEditDialog::UpdateValues(BOOL bSave) {
    if (bSave) {
        const auto cp932 = [this](int nID) {
            return Utf8ToCp932Marked(FieldText(nID)).value_or(std::string());
        };
        m_strType = cp932(IDC_HAGAKI_TYPE);
        m_strFromkana = cp932(IDC_HAGAKI_FROMKANA);
        m_strFrom = cp932(IDC_HAGAKI_FROM);
        m_strNumber = cp932(IDC_HAGAKI_NUMBER);
        m_strYear = cp932(IDC_HAGAKI_YEAR);
        return TRUE;
    }
    // The change notifications of loading are not the user's changes. The
    // fields show the loaded text (U+FFFD for bytes that did not decode).
    const BOOL bReadOnly = m_bReadOnly;
    m_bReadOnly = TRUE;
    const auto shown = [this](int iField) { return m_cLoaded.values[iField].strShownUtf8; };
    SetFieldText(IDC_HAGAKI_TYPE, shown(kHagakiType));
    SetFieldText(IDC_HAGAKI_FROMKANA, shown(kHagakiFromkana));
    SetFieldText(IDC_HAGAKI_FROM, shown(kHagakiFrom));
    SetFieldText(IDC_HAGAKI_NUMBER, shown(kHagakiNumber));
    SetFieldText(IDC_HAGAKI_YEAR, shown(kHagakiYear));
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
            for (int i = 0; i < kHagakiFieldCount; ++i) {
                if (FieldText(kFieldIDs[i]) != m_cLoaded.values[i].strShownUtf8)
                    return 1;
            }
            return 0;
        },
        ov::GuardCodes{0, 0, 0});
    return iModified != 0 ? TRUE : FALSE;
}

void CHagakiEditDialog::CheckNumber() {
    const std::optional<std::string> strNumber = ov::Utf8ToCp932(FieldText(IDC_HAGAKI_NUMBER));
    const BOOL bValid = strNumber && IsValidNumber(*strNumber);
    if (bValid == m_bNumberValid)
        return;
    m_bNumberValid = bValid;
    // Only the text colour changes: the window-text colour, red while ill-formed.
    QPalette palette = m_pEditNumber->palette();
    palette.setColor(QPalette::Text,
                     bValid ? QApplication::palette(m_pEditNumber).color(QPalette::Text) : QColor(255, 0, 0));
    m_pEditNumber->setPalette(palette);
    m_pEditNumber->update();
    m_pNumberHint->setVisible(!bValid);
}
