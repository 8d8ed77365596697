#include "commandline.h"

CommandLine CommandLine::fromArguments(const QStringList &arguments)
{
    CommandLine result;
    bool isNumber = false;
    if (arguments.size() == 2) {
        const int number = arguments.at(1).toInt(&isNumber, 10);
        if (isNumber)
            result.port = number;
        else
            result.device = arguments.at(1);
        result.deviceGiven = !isNumber;
    } else if (arguments.size() > 2) {
        const int second = arguments.at(2).toInt(&isNumber, 10);
        if (isNumber) {
            result.device = arguments.at(1);
            result.port = second;
        } else {
            result.device = arguments.at(2);
            result.port = arguments.at(1).toInt(nullptr, 10);
        }
        result.deviceGiven = true;
    }
    return result;
}
