#include "gateway/GatewayService.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kc4420-gateway"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KC_VERSION));
    return kc::gatewayMain(QCoreApplication::arguments(), QStringLiteral(KC_VERSION));
}
