#include "ui/LampImages.h"

#include "operations/Messages.h"
#include <QImage>

#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QIcon>
#include <QPainter>
#include <QRadialGradient>

namespace kc {

namespace {
QColor baseColour(LampColour colour)
{
    switch (colour) {
    case LampColour::Green:
        return QColor(0, 200, 0);
    case LampColour::Yellow:
        return QColor(240, 210, 0);
    case LampColour::Red:
        return QColor(220, 0, 0);
    }
    return Qt::gray;
}

void drawBall(QPainter &p, const QRectF &r, const QColor &base)
{
    QRadialGradient g(r.left() + r.width() * 0.35, r.top() + r.height() * 0.3, r.width() * 0.7);
    g.setColorAt(0.0, Qt::white);
    g.setColorAt(0.25, base.lighter(130));
    g.setColorAt(0.8, base);
    g.setColorAt(1.0, base.darker(170));
    p.setBrush(g);
    p.setPen(QPen(base.darker(200), r.width() / 16.0));
    p.drawEllipse(r);
}
} // namespace

QPixmap lampPixmap(LampColour colour)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawBall(p, QRectF(1, 1, 14, 14), baseColour(colour));
    return pm;
}

QImage appIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    // A grey module housing with a display window and a green link lamp.
    p.setPen(QPen(QColor(60, 60, 70), s / 32.0));
    p.setBrush(QColor(210, 214, 220));
    p.drawRoundedRect(QRectF(s * 0.1, s * 0.08, s * 0.8, s * 0.84), s * 0.1, s * 0.1);
    p.setBrush(QColor(30, 60, 90));
    p.drawRoundedRect(QRectF(s * 0.2, s * 0.2, s * 0.6, s * 0.3), s * 0.04, s * 0.04);
    p.setPen(QPen(QColor(120, 230, 255), s / 20.0));
    p.drawLine(QPointF(s * 0.27, s * 0.42), QPointF(s * 0.4, s * 0.3));
    p.drawLine(QPointF(s * 0.4, s * 0.3), QPointF(s * 0.52, s * 0.38));
    p.drawLine(QPointF(s * 0.52, s * 0.38), QPointF(s * 0.72, s * 0.26));
    drawBall(p, QRectF(s * 0.56, s * 0.6, s * 0.22, s * 0.22), baseColour(LampColour::Green));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 70));
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(s * (0.22 + 0.09 * i), s * 0.64, s * 0.05, s * 0.16));
    p.end();
    return image;
}

QPixmap appIconPixmap(int size)
{
    return QPixmap::fromImage(appIconImage(size));
}

void setUpApplicationIdentity()
{
    QGuiApplication::setOrganizationName(QStringLiteral("kc4420"));
    QGuiApplication::setApplicationName(QStringLiteral("kc4420-tool"));
    // No display name: the platform would append it to every window title,
    // and message boxes must carry exactly the title they are given.
    // Lets Wayland shells match the window to the launcher entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("kc4420-tool"));
    QIcon icon = QIcon::fromTheme(QStringLiteral("kc4420-tool"));
    if (icon.isNull()) {
        for (int size : {16, 24, 32, 48, 64, 128, 256})
            icon.addPixmap(appIconPixmap(size));
    }
    QGuiApplication::setWindowIcon(icon);
    // Qt's own buttons and dialogs (保存, 取消, the file dialog) in Chinese like
    // the rest, from the translations Debian packages with Qt.
    static QTranslator qtTexts;
    if (qtTexts.isEmpty() &&
        qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);
}

} // namespace kc
