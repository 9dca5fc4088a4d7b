#pragma once

#include <QTimer>

#include "platform/Ticker.h"

namespace ketrion {

// The program's Ticker: a QTimer on the user-interface thread.
class QtTicker final : public Ticker {
public:
    QtTicker() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (onTick)
                onTick();
        });
    }
    void Start(int periodMs) override { m_timer.start(periodMs); }
    void Stop() override { m_timer.stop(); }

private:
    QTimer m_timer;
};

}  // namespace ketrion
