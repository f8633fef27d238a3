#include "ui/PortLease.h"

#include "line/LineEngine.h"
#include "protocol/SerialLink.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"

namespace kc {

LineEngine *PortLease::take(MessageSink *messages, QWidget *parent)
{
    if (m_engine)
        return m_engine;
    SerialLink *link = m_main ? m_main->releasePort() : nullptr;
    if (!link) {
        messages->show(parent, UserMessage{msg::portLent});
        return nullptr;
    }
    m_engine = new LineEngine(link, {}, parent);
    m_engine->setBaud(m_main->operatorBaud());
    m_engine->setTimeout(m_main->responseTimeout());
    if (!m_engine->open()) {
        giveBack();
        messages->show(parent, UserMessage{msg::portBusy, msg::errorTitle, true});
        return nullptr;
    }
    return m_engine;
}

void PortLease::giveBack()
{
    if (!m_engine)
        return;
    m_engine->close();
    // From here on what the port says is the main window's.
    QObject::disconnect(m_engine->link(), nullptr, m_engine, nullptr);
    m_engine->deleteLater();
    m_engine = nullptr;
    if (m_main)
        m_main->reclaimPort();
}

} // namespace kc
