#include "protocol/QtSerialLink.h"
#include "ui/LampImages.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    kc::setUpApplicationIdentity();
    kc::DialogMessageSink messages;
    kc::MainWindow window(new kc::QtSerialLink, &messages);
    window.show();
    return app.exec();
}
