// SPDX-License-Identifier: AGPL-3.0-or-later
// The message box of ShowErrorMessage on Qt.
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QTranslator>

#include "app/OrmaView.h"
#include "ormamsg/OrmaMsg.h"
#include "ormamsg/StringTable.h"
#include "qtglue/QtText.h"

namespace {

constexpr int IDOK = 1;

int PresentMessageBox(const std::string& caption, const std::string& text, const std::string& informative,
                      UINT style) {
    const QString strCaption = ov::ToQString(caption);
    const QString strText = ov::ToQString(text);
    const QString strInformative = ov::ToQString(informative);
    if (qApp == nullptr) {
        std::fprintf(stderr, "%s: %s\n%s\n", strCaption.toUtf8().constData(), strText.toUtf8().constData(),
                     strInformative.toUtf8().constData());
        return IDOK;
    }
    const QString strLog = qEnvironmentVariable("ORMAVIEW_MESSAGE_LOG");
    if (!strLog.isEmpty()) {
        QFile log(strLog);
        if (log.open(QIODevice::WriteOnly | QIODevice::Append)) {
            // The informative text follows as a fourth field when there is one.
            QString strLine = QStringLiteral("%1\t%2\t%3").arg(style, 0, 16).arg(strCaption, strText);
            if (!strInformative.isEmpty())
                strLine += QLatin1Char('\t') + strInformative;
            log.write((strLine + QLatin1Char('\n')).toUtf8());
        }
    }
    QMessageBox box((style & MB_ICONERROR) != 0 ? QMessageBox::Critical : QMessageBox::Information,
                    strCaption, strText, QMessageBox::Ok);
    if (!strInformative.isEmpty())
        box.setInformativeText(strInformative);
    if ((style & MB_TOPMOST) != 0)
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    // Unattended runs (tests, scripts) close the box as soon as it is up.
    if (!strLog.isEmpty())
        QTimer::singleShot(0, &box, &QMessageBox::accept);
    box.exec();
    return IDOK;
}

}  // namespace

void ov::InstallQtTranslations() {
    static QPointer<QTranslator> s_pTranslator;
    if (qApp == nullptr)
        return;
    // Called again, it follows the locale of that moment.
    if (s_pTranslator != nullptr) {
        QCoreApplication::removeTranslator(s_pTranslator);
        delete s_pTranslator.data();
    }
    const QString strLanguage = QString::fromLatin1(LanguageOf(GetResourceHandle(nullptr, 0)));
    if (strLanguage == QLatin1String("en"))
        return;
    auto* pTranslator = new QTranslator(qApp);
    if (!pTranslator->load(QLocale(strLanguage), QStringLiteral("qtbase"), QStringLiteral("_"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete pTranslator;
        return;
    }
    QCoreApplication::installTranslator(pTranslator);
    s_pTranslator = pTranslator;
}

void ov::InstallMessageBoxPresenter() {
    ov::SetMessagePresenter(&PresentMessageBox);
}
