#include "ui/HelpWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>

namespace kc {

QString readmePath()
{
    const QString installed = QCoreApplication::applicationDirPath() +
                              QStringLiteral("/../share/doc/kc4420-tool/README.md");
    for (const QString &path : {installed, QStringLiteral(KC_SOURCE_DIR "/README.md")}) {
        if (QFileInfo::exists(path))
            return QFileInfo(path).canonicalFilePath();
    }
    return {};
}

void showHelp(QWidget *parent)
{
    auto *browser = parent->findChild<QTextBrowser *>(QStringLiteral("helpReadme"));
    if (!browser) {
        browser = new QTextBrowser(parent);
        browser->setWindowFlag(Qt::Window);
        browser->setObjectName(QStringLiteral("helpReadme"));
        browser->setWindowTitle(QStringLiteral("使用说明"));
        browser->setOpenExternalLinks(true);
        browser->resize(900, 700);
        const QString path = readmePath();
        if (path.isEmpty()) {
            browser->setPlainText(QStringLiteral("没有找到使用说明（README.md）。"));
        } else {
            // Its pictures are named relative to it (docs/window.png).
            browser->setSearchPaths({QFileInfo(path).absolutePath()});
            browser->setSource(QUrl::fromLocalFile(path), QTextDocument::MarkdownResource);
        }
    }
    browser->show();
    browser->raise();
}

} // namespace kc
