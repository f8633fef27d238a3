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
    QIcon icon = QIcon::fromTheme(QStringLiteral("kc4420-tool"));
    if (icon.isNull()) {
        for (int size : {16, 32, 48, 64, 128})
            icon.addPixmap(kc::appIconPixmap(size));
    }
    QApplication::setWindowIcon(icon);

    kc::DialogMessageSink messages;
    kc::MainWindow window(new kc::QtSerialLink, &messages);
    window.show();
    return app.exec();
}
