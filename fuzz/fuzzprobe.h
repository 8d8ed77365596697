#ifndef FUZZPROBE_H
#define FUZZPROBE_H

#include "kelpFault.h"
#include "kelpXmlRpcServer.h"

#include <QByteArray>
#include <QDateTime>
#include <QMetaMethod>
#include <QObject>
#include <QString>
#include <QVariant>

#include <algorithm>

// The object whose slots the server targets serve: every type the library marshals, as
// parameters and as results. The regression test serves it too, so that a committed input
// meets the same methods again.
class FuzzProbe : public QObject
{
    Q_OBJECT
public:
    // Registers every slot under its own name.
    void serveOn(KelpXmlRpcServer &server)
    {
        const QMetaObject *meta = metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QByteArray name = meta->method(i).name();
            server.addMethod(QString::fromLatin1(name), this, name.constData());
        }
    }

public slots:
    int add(int a, int b) { return a + b; }
    double half(double value) { return value / 2; }
    bool negate(bool value) { return !value; }
    QString twice(const QString &text) { return text + text; }
    int twice(int value) { return 2 * value; }
    QByteArray reversed(const QByteArray &bytes)
    {
        QByteArray result = bytes;
        std::reverse(result.begin(), result.end());
        return result;
    }
    // Lets a call put any character into a result string.
    QString decode(const QByteArray &bytes) { return QString::fromUtf8(bytes); }
    QDateTime nextDay(const QDateTime &moment) { return moment.addDays(1); }
    QVariantList listOf(const QVariantList &items, const QVariantMap &extra)
    {
        return items + QVariantList { extra };
    }
    QVariantMap keys(const QVariantMap &map)
    {
        QVariantMap result = map;
        result.insert(QStringLiteral("count"), int(map.size()));
        return result;
    }
    // Any result the library may meet: values, no value, a fault, a type it does not marshal.
    QVariant pick(int choice)
    {
        switch (choice) {
        case 0:
            return QVariant();
        case 1:
            return QVariant::fromValue(KelpFault(choice, QStringLiteral("picked")));
        case 2:
            return QStringList { QStringLiteral("not marshalled") };
        case 3:
            return QString();
        default:
            return QVariantList { choice, QString::number(choice) };
        }
    }
    void nothing() { }
    QString describe(int number, double real, bool flag, const QString &text,
        const QByteArray &bytes, const QDateTime &moment)
    {
        return QStringLiteral("%1 %2 %3 %4 %5 %6")
            .arg(number)
            .arg(real)
            .arg(flag)
            .arg(text, QString::fromLatin1(bytes.toHex()), moment.toString());
    }
};

#endif // FUZZPROBE_H
