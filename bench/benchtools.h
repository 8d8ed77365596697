#ifndef BENCHTOOLS_H
#define BENCHTOOLS_H

#include <QList>

#include <functional>

class TriaxController;

namespace BenchTools {

double median(QList<double> values);

// Runs a real event loop, not a polling wait, until done() holds after a
// handled answer, or 30 s have passed: the panel must wake when its timers
// fire, as it does in the program. Returns done().
bool waitForQueue(TriaxController *controller, const std::function<bool()> &done);

} // namespace BenchTools

#endif
