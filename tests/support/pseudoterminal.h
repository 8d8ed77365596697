#ifndef PSEUDOTERMINAL_H
#define PSEUDOTERMINAL_H

#include <QByteArray>
#include <QString>

// The instrument's end of a serial line: the code under test opens
// devicePath() as its serial device, the test reads and writes the master.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return master >= 0; }
    QString devicePath() const { return path; }

    // Collects what the other end has written until `count` bytes have come
    // or `timeoutMs` has passed, keeping the Qt event loop running meanwhile.
    QByteArray read(int count, int timeoutMs);
    // Everything that arrives within `timeoutMs`.
    QByteArray readFor(int timeoutMs);
    void write(const QByteArray &bytes);

private:
    int master = -1;
    QString path;
};

#endif
