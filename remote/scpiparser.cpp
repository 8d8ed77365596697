#include "scpiparser.h"

#include <QByteArray>

#include <algorithm>
#include <iterator>

namespace {

using Function = ScpiParser::Function;
using Command = ScpiParser::Command;
using Value = ScpiParser::Value;
using ScpiErrors::Error;

// What a header takes as a command and as a query.
enum class Setting { None, Bare, Number };
enum class Asking { None, Plain, Limits };

struct Entry
{
    // Keywords in their long form, the short form in capitals; "[...]" may be left out.
    const char *keywords[3];
    Function function;
    Setting setting;
    Asking asking;
};

const Entry entries[] = {
    { { "*IDN" }, Function::Identify, Setting::None, Asking::Plain },
    { { "*CLS" }, Function::ClearStatus, Setting::Bare, Asking::None },
    { { "*OPC" }, Function::OperationComplete, Setting::Bare, Asking::Plain },
    { { "*WAI" }, Function::Wait, Setting::Bare, Asking::None },
    { { "*ESR" }, Function::EventStatus, Setting::None, Asking::Plain },
    { { "*ESE" }, Function::EventStatusEnable, Setting::Number, Asking::Plain },
    { { "*STB" }, Function::StatusByte, Setting::None, Asking::Plain },
    { { "*SRE" }, Function::ServiceRequestEnable, Setting::Number, Asking::Plain },
    { { "SYSTem", "ERRor", "[NEXT]" }, Function::NextError, Setting::None, Asking::Plain },
    { { "SYSTem", "ERRor", "COUNt" }, Function::ErrorCount, Setting::None, Asking::Plain },
    { { "SYSTem", "ERRor", "ALL" }, Function::AllErrors, Setting::None, Asking::Plain },
    { { "SYSTem", "VERSion" }, Function::Version, Setting::None, Asking::Plain },
    { { "CONNect" }, Function::Connect, Setting::Bare, Asking::None },
    { { "CLOSe" }, Function::Close, Setting::Bare, Asking::None },
    { { "WAVelength" }, Function::Wavelength, Setting::Number, Asking::Limits },
    { { "POSition" }, Function::Position, Setting::None, Asking::Plain },
    { { "MOVE", "RELative" }, Function::MoveRelative, Setting::Number, Asking::None },
    { { "SLIT", "ENTRance" }, Function::EntranceSlit, Setting::Number, Asking::Limits },
    { { "SLIT", "EXIT" }, Function::ExitSlit, Setting::Number, Asking::Limits },
    { { "GRATing" }, Function::Grating, Setting::Number, Asking::Limits },
    { { "STATe" }, Function::State, Setting::None, Asking::Plain },
    { { "STATe", "REASon" }, Function::StateReason, Setting::None, Asking::Plain },
};

// The standard's white space: every control character but the line feed, and the blank.
bool isBlank(char c)
{
    return uchar(c) <= ' ' && c != '\n';
}

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isWordCharacter(char c)
{
    return isLetter(c) || isDigit(c) || c == '_';
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

bool sameLetters(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Splits at each separator that is not inside a quoted string.
QList<QByteArrayView> split(QByteArrayView text, char separator)
{
    QList<QByteArrayView> parts;
    qsizetype start = 0;
    char quote = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == separator) {
            parts.append(text.sliced(start, i - start));
            start = i + 1;
        }
    }
    parts.append(text.sliced(start));
    return parts;
}

// A keyword answers to its short form and its long one.
bool keywordMatches(const char *keyword, QByteArrayView mnemonic)
{
    QByteArrayView full(keyword);
    if (full.startsWith('['))
        full = full.sliced(1, full.size() - 2);
    qsizetype shortLength = 0;
    while (shortLength < full.size() && !(full[shortLength] >= 'a' && full[shortLength] <= 'z'))
        ++shortLength;
    return sameLetters(mnemonic, full) || sameLetters(mnemonic, full.first(shortLength));
}

qsizetype keywordCount(const Entry &entry)
{
    return std::distance(std::begin(entry.keywords),
        std::find(std::begin(entry.keywords), std::end(entry.keywords), nullptr));
}

bool matches(const Entry &entry, qsizetype keyword, const QList<QByteArrayView> &mnemonics,
    qsizetype mnemonic)
{
    if (keyword == keywordCount(entry))
        return mnemonic == mnemonics.size();
    const char *name = entry.keywords[keyword];
    if (mnemonic < mnemonics.size() && keywordMatches(name, mnemonics[mnemonic])
        && matches(entry, keyword + 1, mnemonics, mnemonic + 1))
        return true;
    return name[0] == '[' && matches(entry, keyword + 1, mnemonics, mnemonic);
}

const Entry *find(const QList<QByteArrayView> &mnemonics)
{
    for (const Entry &entry : entries) {
        if (matches(entry, 0, mnemonics, 0))
            return &entry;
    }
    return nullptr;
}

// The header's own characters: letters, digits, "_", ":", "*" and "?".
bool isHeaderCharacter(char c)
{
    return isWordCharacter(c) || c == ':' || c == '*' || c == '?';
}

bool isMnemonic(QByteArrayView text)
{
    if (text.isEmpty() || !isLetter(text.front()))
        return false;
    return std::all_of(text.begin(), text.end(), isWordCharacter);
}

Error readDecimal(QByteArrayView text, double *number)
{
    qsizetype i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    qsizetype digits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return ScpiErrors::numericDataError;
    bool negativeExponent = false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        qsizetype exponent = i + 1;
        negativeExponent = exponent < text.size() && text[exponent] == '-';
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-'))
            ++exponent;
        if (exponent < text.size() && isDigit(text[exponent])) {
            i = exponent;
            while (i < text.size() && isDigit(text[i]))
                ++i;
        }
    }
    const QByteArrayView rest = trimmed(text.sliced(i));
    if (!rest.isEmpty())
        return isLetter(rest.front()) ? ScpiErrors::suffixNotAllowed
                                      : ScpiErrors::invalidCharacterInNumber;
    if (i > ScpiParser::MaxNumberLength)
        return ScpiErrors::tooManyDigits;
    bool ok = false;
    *number = text.first(i).toByteArray().toDouble(&ok);
    if (ok)
        return ScpiErrors::none;
    // toDouble() refuses what a double cannot hold. A mantissa of at most MaxNumberLength
    // digits fits one, so the exponent's sign tells which way it failed: too small for a
    // double is 0, as the standard has it.
    *number = 0;
    return negativeExponent ? ScpiErrors::none : ScpiErrors::exponentTooLarge;
}

// #H1F, #Q17, #B11111: whole numbers in hexadecimal, octal or binary.
Error readNonDecimal(QByteArrayView text, double *number)
{
    if (text.size() < 2)
        return ScpiErrors::numericDataError;
    int radix = 0;
    switch (text[1]) {
    case 'H':
    case 'h':
        radix = 16;
        break;
    case 'Q':
    case 'q':
        radix = 8;
        break;
    case 'B':
    case 'b':
        radix = 2;
        break;
    default:
        // A block of bytes, or nothing the standard knows.
        return ScpiErrors::dataTypeError;
    }
    const QByteArrayView digits = text.sliced(2);
    if (digits.isEmpty())
        return ScpiErrors::numericDataError;
    if (digits.size() > ScpiParser::MaxNumberLength)
        return ScpiErrors::tooManyDigits;
    double value = 0;
    for (const char c : digits) {
        const int digit = isDigit(c) ? c - '0' : isLetter(c) ? (c | 0x20) - 'a' + 10 : radix;
        if (digit >= radix)
            return ScpiErrors::invalidCharacterInNumber;
        value = value * radix + digit;
    }
    *number = value;
    return ScpiErrors::none;
}

Error readString(QByteArrayView text)
{
    const char quote = text.front();
    for (qsizetype i = 1; i < text.size(); ++i) {
        if (text[i] != quote)
            continue;
        if (i + 1 < text.size() && text[i + 1] == quote) {
            ++i;
            continue;
        }
        return i + 1 == text.size() ? ScpiErrors::stringDataNotAllowed
                                    : ScpiErrors::invalidStringData;
    }
    return ScpiErrors::invalidStringData;
}

// A parameter that may be a number or MIN or MAX; with numberTaken false, MIN or MAX only.
Error readParameter(QByteArrayView text, bool numberTaken, Command *command)
{
    if (text.isEmpty())
        return ScpiErrors::syntaxError;
    const char first = text.front();
    if (first == '"' || first == '\'')
        return readString(text);
    if (isLetter(first)) {
        if (!isMnemonic(text))
            return ScpiErrors::invalidCharacterData;
        if (sameLetters(text, "MIN") || sameLetters(text, "MINimum"))
            command->value = Value::Minimum;
        else if (sameLetters(text, "MAX") || sameLetters(text, "MAXimum"))
            command->value = Value::Maximum;
        else
            return ScpiErrors::invalidCharacterData;
        return ScpiErrors::none;
    }
    const bool decimal = isDigit(first) || first == '+' || first == '-' || first == '.';
    if (!decimal && first != '#')
        return ScpiErrors::invalidCharacter;
    const Error error
        = decimal ? readDecimal(text, &command->number) : readNonDecimal(text, &command->number);
    if (error.code == 0 && !numberTaken)
        return ScpiErrors::numericDataNotAllowed;
    if (error.code == 0)
        command->value = Value::Number;
    return error;
}

// The header of a unit, and the path that the next unit's header may continue.
struct Header
{
    bool common = false;
    bool absolute = false;
    bool query = false;
    QList<QByteArrayView> mnemonics;
};

Error readHeader(QByteArrayView token, Header *header)
{
    if (!std::all_of(token.begin(), token.end(), isHeaderCharacter))
        return std::find(token.begin(), token.end(), ',') != token.end()
            ? ScpiErrors::invalidSeparator
            : ScpiErrors::invalidCharacter;
    if (token.endsWith('?')) {
        header->query = true;
        token.chop(1);
    }
    if (token.startsWith('*')) {
        header->common = true;
        token = token.sliced(1);
        if (token.isEmpty() || !std::all_of(token.begin(), token.end(), isLetter))
            return ScpiErrors::syntaxError;
        header->mnemonics = { token };
        return ScpiErrors::none;
    }
    if (token.startsWith(':')) {
        header->absolute = true;
        token = token.sliced(1);
    }
    header->mnemonics = split(token, ':');
    if (!std::all_of(header->mnemonics.begin(), header->mnemonics.end(), isMnemonic))
        return ScpiErrors::syntaxError;
    return ScpiErrors::none;
}

const Entry *findCommon(QByteArrayView name)
{
    for (const Entry &entry : entries) {
        if (entry.keywords[0][0] == '*' && sameLetters(name, QByteArrayView(entry.keywords[0] + 1)))
            return &entry;
    }
    return nullptr;
}

Error readUnit(QByteArrayView unit, QList<QByteArrayView> *path, Command *command)
{
    qsizetype headerEnd = 0;
    while (headerEnd < unit.size() && !isBlank(unit[headerEnd]))
        ++headerEnd;
    Header header;
    if (const Error error = readHeader(unit.first(headerEnd), &header); error.code != 0)
        return error;
    command->query = header.query;

    const Entry *entry = nullptr;
    if (header.common) {
        entry = findCommon(header.mnemonics.front());
    } else {
        if (!header.absolute && !path->isEmpty())
            entry = find(*path + header.mnemonics);
        if (entry)
            header.mnemonics = *path + header.mnemonics;
        else
            entry = find(header.mnemonics);
        if (entry)
            *path = header.mnemonics.first(header.mnemonics.size() - 1);
    }
    if (!entry || (header.query ? entry->asking == Asking::None : entry->setting == Setting::None))
        return ScpiErrors::undefinedHeader;
    command->function = entry->function;

    const QByteArrayView parameters = trimmed(unit.sliced(headerEnd));
    const QList<QByteArrayView> values
        = parameters.isEmpty() ? QList<QByteArrayView>() : split(parameters, ',');
    const bool valueTaken
        = header.query ? entry->asking == Asking::Limits : entry->setting == Setting::Number;
    if (values.size() > (valueTaken ? 1 : 0))
        return ScpiErrors::parameterNotAllowed;
    if (values.isEmpty())
        return !header.query && valueTaken ? ScpiErrors::missingParameter : ScpiErrors::none;
    return readParameter(trimmed(values.front()), !header.query, command);
}

// The command as sent, for its log line and its errors: each blank, which may be any control
// character, written as a space.
QString commandText(QByteArrayView unit)
{
    QByteArray text = unit.toByteArray();
    for (char &c : text) {
        if (isBlank(c))
            c = ' ';
    }
    return QString::fromUtf8(text);
}

} // namespace

QList<Command> ScpiParser::parse(QByteArrayView line)
{
    QList<Command> commands;
    // A line starts at the root; each compound header then sets the path for the next.
    QList<QByteArrayView> path;
    for (const QByteArrayView part : split(line, ';')) {
        const QByteArrayView unit = trimmed(part);
        if (unit.isEmpty())
            continue;
        Command command;
        command.text = commandText(unit);
        command.error = readUnit(unit, &path, &command);
        if (!command.isValid())
            command.value = Value::None;
        commands.append(command);
    }
    return commands;
}

bool ScpiParser::looksLikeHttp(QByteArrayView start)
{
    static constexpr QByteArrayView methods[] = { "GET ", "HEAD ", "POST ", "PUT ", "DELETE ",
        "CONNECT ", "OPTIONS ", "TRACE ", "PATCH " };
    return std::any_of(std::begin(methods), std::end(methods),
        [start](QByteArrayView method) { return start.startsWith(method); });
}
