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
    // Every line the program opens is taken here; it outlives the windows.
    kc::PortClaims claims;
    kc::MainWindow window(&claims, &messages);
    window.show();
    return app.exec();
}
