// The tool's own start-up (as app/main.cpp does it), reporting its first paint.

#include "FirstPaint.h"

#include "line/PortClaims.h"
#include "ui/LampImages.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    kc::setUpApplicationIdentity();

    kc::DialogMessageSink messages;
    kc::PortClaims claims;
    kc::MainWindow window(&claims, &messages);
    FirstPaint watcher;
    window.installEventFilter(&watcher);
    window.show();
    return app.exec();
}
