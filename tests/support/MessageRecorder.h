#pragma once

#include "ui/MessageSink.h"

#include <QList>

#include <functional>

// Records messages instead of showing them. onShow runs while the "box" is
// open, standing in for the events a real modal loop would deliver meanwhile.
class MessageRecorder : public kc::MessageSink
{
public:
    QList<kc::UserMessage> shown;
    std::function<void()> onShow;
    bool answer = true; // to every question

    void show(QWidget *, const kc::UserMessage &message) override
    {
        shown << message;
        if (onShow)
            onShow();
    }
    bool ask(QWidget *parent, const kc::UserMessage &message) override
    {
        show(parent, message);
        return answer;
    }
    QStringList texts() const
    {
        QStringList t;
        for (const auto &m : shown)
            t << m.text;
        return t;
    }
};
