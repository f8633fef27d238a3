// The tool's own start-up (as app/main.cpp does it), reporting its first paint.

#include "FirstPaint.h"

#include "protocol/QtSerialLink.h"
#include "ui/LampImages.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kc4420-tool"));
    QApplication::setApplicationDisplayName(kc::msg::appTitle);
    QGuiApplication::setDesktopFileName(QStringLiteral("kc4420-tool"));
    QIcon icon = QIcon::fromTheme(QStringLiteral("kc4420-tool"));
    if (icon.isNull()) {
        for (int size : {16, 24, 32, 48, 64, 128, 256})
            icon.addPixmap(kc::appIconPixmap(size));
    }
    QApplication::setWindowIcon(icon);

    kc::DialogMessageSink messages;
    kc::MainWindow window(new kc::QtSerialLink, &messages);
    FirstPaint watcher;
    window.installEventFilter(&watcher);
    window.show();
    return app.exec();
}
