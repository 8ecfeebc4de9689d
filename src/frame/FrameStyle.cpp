// SPDX-License-Identifier: AGPL-3.0-or-later
#include "frame/FrameStyle.h"

#include <QApplication>
#include <QIcon>
#include <QProxyStyle>
#include <QStyleFactory>

namespace {

class CFrameStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap sp, const QStyleOption* pOption,
                       const QWidget* pWidget) const override {
        switch (sp) {
            case SP_ToolBarHorizontalExtensionButton:
                return QIcon(QStringLiteral(":/icons/toolbar-ext-h.svg"));
            case SP_ToolBarVerticalExtensionButton:
                return QIcon(QStringLiteral(":/icons/toolbar-ext-v.svg"));
            default:
                return QProxyStyle::standardIcon(sp, pOption, pWidget);
        }
    }
};

}  // namespace

void ov::InstallFrameStyle() {
    if (qobject_cast<QProxyStyle*>(QApplication::style()) != nullptr)
        return;  // installed already, or the application's own proxy
    // A fresh instance of the chosen style: the application deletes its own
    // when the proxy takes its place.
    QStyle* pBase = QStyleFactory::create(QApplication::style()->name());
    QApplication::setStyle(new CFrameStyle(pBase));
}
