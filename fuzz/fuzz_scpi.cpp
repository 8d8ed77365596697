// Reads each line of the input as a SCPI client's line and checks what the parser makes of
// it: no more commands than the line has parts, every error one of a command's (the parser
// carries nothing out), every number one a limit can be compared with, and no control
// character in the words that the controller's log line shows.

#include "scpiparser.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    qsizetype start = 0;
    while (start <= input.size()) {
        qsizetype end = input.indexOf('\n', start);
        if (end < 0)
            end = input.size();
        const QByteArrayView line = input.sliced(start, end - start);
        start = end + 1;

        ScpiParser::looksLikeHttp(line);
        const QList<ScpiParser::Command> commands = ScpiParser::parse(line);
        if (commands.size() > line.count(';') + 1)
            abort();
        for (const ScpiParser::Command &command : commands) {
            if (command.text.isEmpty())
                abort();
            for (const QChar c : command.text) {
                if (c.unicode() < 0x20)
                    abort();
            }
            if (!command.isValid()) {
                if (command.error.code > -100 || command.error.code <= -200
                    || command.value != ScpiParser::Value::None)
                    abort();
                continue;
            }
            if (command.value == ScpiParser::Value::Number && !std::isfinite(command.number))
                abort();
        }
    }
    return 0;
}
