#pragma once

#include "ui/MessageSink.h"

// Counts message boxes without keeping them, so a long run's memory stays
// the window's own.
class CountingSink : public kc::MessageSink
{
public:
    void show(QWidget *, const kc::UserMessage &) override { ++count; }
    bool ask(QWidget *, const kc::UserMessage &) override { return ++count, true; }
    int count = 0;
};
