#include "screenshot_demo.h"

#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "main_window.h"

namespace vantor::gui {

void runScreenshotDemo(MainWindow& window, const QString& path) {
    // Nobody is there to confirm a message box.
    auto* confirm = new QTimer(&window);
    QObject::connect(confirm, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::fprintf(stderr, "message: %s\n", qPrintable(box->text()));
            box->accept();
        }
    });
    confirm->start(100);

    auto* guard = new QTimer(&window);
    guard->setSingleShot(true);
    QObject::connect(guard, &QTimer::timeout, [] {
        std::fprintf(stderr, "the simulated download did not end\n");
        QApplication::exit(3);
    });
    guard->start(120000);

    QObject::connect(&window, &MainWindow::downloadFinished, &window, [&window, path, guard] {
        guard->stop();
        // Let the table and chart lay themselves out before the picture.
        QTimer::singleShot(500, &window, [&window, path] {
            const bool saved = window.grab().save(path);
            if (!saved) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            QApplication::exit(saved ? 0 : 1);
        });
    });

    QTimer::singleShot(300, &window, [&window] {
        window.findChild<QPushButton*>("simulatedMeterButton")->click();
        window.findChild<QPushButton*>("startButton")->click();
    });
}

}  // namespace vantor::gui
