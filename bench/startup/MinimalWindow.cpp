// SPDX-License-Identifier: AGPL-3.0-or-later
// The least a program on the viewer's toolkit does to put a picture on screen: an
// application object and one label in a window. A floor for the start's timings,
// run beside the viewer by first-paint-probe.py --also.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("1 / 6"));
    label.setAlignment(Qt::AlignCenter);
    label.resize(600, 850);
    label.show();
    return app.exec();
}
