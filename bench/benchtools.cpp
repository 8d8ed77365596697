#include "benchtools.h"

#include "triaxcontroller.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace BenchTools {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool waitForQueue(TriaxController *controller, const std::function<bool()> &done)
{
    if (done())
        return true;
    QEventLoop loop;
    // A handled answer ends with checkQueue, once the state is up to date.
    QObject::connect(controller, &TriaxController::checkQueue, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

} // namespace BenchTools
