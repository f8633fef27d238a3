#include "ui/MessageSink.h"

#include <QMessageBox>

namespace kc {

void DialogMessageSink::show(QWidget *parent, const UserMessage &message)
{
    QMessageBox box(message.warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    message.title.isEmpty() ? msg::appTitle : message.title, message.text,
                    QMessageBox::Ok, parent);
    box.exec();
}

bool DialogMessageSink::ask(QWidget *parent, const UserMessage &message)
{
    QMessageBox box(QMessageBox::Question,
                    message.title.isEmpty() ? msg::appTitle : message.title, message.text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace kc
