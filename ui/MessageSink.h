#pragma once

#include "operations/Messages.h"

class QWidget;

namespace kc {

// Every message box goes through here, so tests can capture messages
// without a modal loop.
class MessageSink
{
public:
    virtual ~MessageSink() = default;
    virtual void show(QWidget *parent, const UserMessage &message) = 0;
    // A question with 是 and 否; true for 是.
    virtual bool ask(QWidget *parent, const UserMessage &message) = 0;
};

// Modal box with an OK button only; the application's title unless the
// message names its own.
class DialogMessageSink : public MessageSink
{
public:
    void show(QWidget *parent, const UserMessage &message) override;
    bool ask(QWidget *parent, const UserMessage &message) override;
};

} // namespace kc
