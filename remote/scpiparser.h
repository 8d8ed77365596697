#ifndef SCPIPARSER_H
#define SCPIPARSER_H

#include "scpierrors.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

// Reads one line of SCPI, as a client sends it without its line end, into the commands it
// holds, each either ready to be carried out or with the error that stops it. It knows the
// commands and the shape of their parameters, not what they do nor the limits of their
// values, and touches nothing: the connection carries the commands out.
//
// A line holds commands separated by ";". A header is the common command's "*" and name, or
// keywords separated by ":", each in its short form or its long one in any case ("WAV",
// "wavelength"), with "?" for a query. A header without a leading ":" after the first of
// the line is looked for first under the keywords before the last of the header before it,
// as the standard's compound headers are ("SLIT:ENTR 100;EXIT 100"), then from the root. A
// number is written in any of the standard's forms: 546.07, +5.4607E2, .5, #H1F, #Q17,
// #B1010; MIN and MAX stand for a limit wherever a number is taken and after the queries
// that have limits.
class ScpiParser
{
public:
    enum class Function {
        Identify, // *IDN?
        ClearStatus, // *CLS
        OperationComplete, // *OPC, *OPC?
        Wait, // *WAI
        EventStatus, // *ESR?
        EventStatusEnable, // *ESE, *ESE?
        StatusByte, // *STB?
        ServiceRequestEnable, // *SRE, *SRE?
        NextError, // SYSTem:ERRor[:NEXT]?
        ErrorCount, // SYSTem:ERRor:COUNt?
        AllErrors, // SYSTem:ERRor:ALL?
        Version, // SYSTem:VERSion?
        Connect, // CONNect
        Close, // CLOSe
        Wavelength, // WAVelength, WAVelength?
        Position, // POSition?
        MoveRelative, // MOVE:RELative
        EntranceSlit, // SLIT:ENTRance, SLIT:ENTRance?
        ExitSlit, // SLIT:EXIT, SLIT:EXIT?
        Grating, // GRATing, GRATing?
        State, // STATe?
        StateReason, // STATe:REASon?
    };

    // A command's parameter, when it has one.
    enum class Value { None, Number, Minimum, Maximum };

    struct Command
    {
        Function function = Function::Identify;
        bool query = false;
        Value value = Value::None;
        double number = 0;
        // The command as it was sent, without the blanks around it.
        QString text;
        // ScpiErrors::none for a command to carry out.
        ScpiErrors::Error error = ScpiErrors::none;

        bool isValid() const { return error.code == 0; }
    };

    // The longest number, in characters, read as one; the standard asks for 255 digits.
    static constexpr int MaxNumberLength = 256;

    static QList<Command> parse(QByteArrayView line);

    // Whether a connection's first line, or as much of it as has come, opens an HTTP request:
    // what a web page sends to any port it is given, with a body of the page's choosing.
    static bool looksLikeHttp(QByteArrayView start);
};

#endif
