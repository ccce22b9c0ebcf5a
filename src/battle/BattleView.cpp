#include "battle/BattleView.h"

#include <QThread>

namespace dm {

void BattleView::WaitUntil(const QDeadlineTimer& deadline)
{
    while (!deadline.hasExpired()) {
        const qint64 ms = deadline.remainingTime();
        if (ms > 0)
            QThread::msleep(static_cast<unsigned long>(ms));
    }
}

} // namespace dm
