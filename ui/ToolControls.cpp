#include "ui/ToolControls.h"

#include "line/LineEngine.h"
#include "operations/Messages.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"

namespace kc {

QString holderMessage(Holder holder)
{
    switch (holder) {
    case Holder::Monitor:
    case Holder::Gateway:
        return msg::portUsedByMonitor;
    case Holder::BusScan:
        return msg::portUsedByScan;
    case Holder::Commissioning:
        return msg::portUsedByWizard;
    case Holder::Snapshot:
        return msg::portUsedBySnapshot;
    case Holder::Diagnosis:
        return msg::portUsedByDiagnosis;
    case Holder::Listening:
        return msg::portUsedByListening;
    case Holder::MainWindow:
        break;
    }
    return msg::portUsedByMainWindow;
}

LineEngine *takeMainPort(MainWindow *main, Holder holder, QObject *owner, MessageSink *messages,
                         QWidget *parent)
{
    PortClaims *claims = main->portClaims();
    LineEngine *engine = claims->claim(main->portName(), holder, owner);
    if (!engine) {
        const auto other = claims->holderOf(main->portName());
        messages->show(parent, UserMessage{holderMessage(other.value_or(Holder::MainWindow))});
        return nullptr;
    }
    engine->setBaud(main->operatorBaud());
    engine->setTimeout(main->responseTimeout());
    if (!engine->open()) {
        claims->release(engine);
        messages->show(parent, UserMessage{msg::portBusy, msg::errorTitle, true});
        return nullptr;
    }
    return engine;
}

} // namespace kc
