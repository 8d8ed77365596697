#ifndef SCPISTATUS_H
#define SCPISTATUS_H

#include "scpierrors.h"

#include <QList>
#include <QString>

// A SCPI connection's status, as the standard's common commands read and set it: its error
// queue, the event status register with its enable mask, and the service request enable mask
// that the status byte is read through. Each connection has its own, so that one client
// never reads or clears another's errors.
class ScpiStatus
{
public:
    // Errors kept; the oldest are read first. When the queue is full the newest entry becomes
    // -350 "Queue overflow" and later errors are lost until the queue has been read.
    static constexpr int MaxErrors = 16;

    // The bits of the event status register.
    enum Event {
        OperationComplete = 0x01,
        QueryError = 0x04,
        DeviceDependentError = 0x08,
        ExecutionError = 0x10,
        CommandError = 0x20,
    };
    // The bits of the status byte.
    enum Summary {
        ErrorQueue = 0x04,
        EventStatusSummary = 0x20,
        MasterSummary = 0x40,
    };

    // Adds error, with words saying what went wrong after the standard's text, and sets the
    // event bit of its class.
    void push(const ScpiErrors::Error &error, const QString &words = QString());
    // The oldest error, taken from the queue, as SYSTem:ERRor? answers it:
    // -222,"Data out of range;wavelength 2000 nm refused: ...", or 0,"No error".
    QString takeError();
    qsizetype errorCount() const { return errors.size(); }
    // *CLS: the error queue and the event status register.
    void clear();

    void setOperationComplete() { events |= OperationComplete; }
    // *ESR?: the event status register, which reading clears.
    int takeEventStatus();
    int eventStatusEnable() const { return eventEnable; }
    void setEventStatusEnable(int mask) { eventEnable = mask & 0xff; }
    int serviceRequestEnable() const { return serviceEnable; }
    // The master summary bit cannot be enabled.
    void setServiceRequestEnable(int mask) { serviceEnable = mask & 0xff & ~MasterSummary; }
    // *STB?
    int statusByte() const;

private:
    QList<QString> errors;
    int events = 0;
    int eventEnable = 0;
    int serviceEnable = 0;
};

#endif
