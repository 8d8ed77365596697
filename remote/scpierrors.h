#ifndef SCPIERRORS_H
#define SCPIERRORS_H

// The errors a SCPI client finds in its error queue: the standard's codes and texts, which
// VISA programs and their users know. An entry in the queue adds after a semicolon what went
// wrong in words: the command as sent, or the controller's verdict.
namespace ScpiErrors {

struct Error
{
    int code;
    const char *text;
};

inline constexpr Error none { 0, "No error" };

// Command errors: the line could not be read.
inline constexpr Error invalidCharacter { -101, "Invalid character" };
inline constexpr Error syntaxError { -102, "Syntax error" };
inline constexpr Error invalidSeparator { -103, "Invalid separator" };
inline constexpr Error dataTypeError { -104, "Data type error" };
inline constexpr Error parameterNotAllowed { -108, "Parameter not allowed" };
inline constexpr Error missingParameter { -109, "Missing parameter" };
inline constexpr Error undefinedHeader { -113, "Undefined header" };
inline constexpr Error numericDataError { -120, "Numeric data error" };
inline constexpr Error invalidCharacterInNumber { -121, "Invalid character in number" };
inline constexpr Error exponentTooLarge { -123, "Exponent too large" };
inline constexpr Error tooManyDigits { -124, "Too many digits" };
inline constexpr Error numericDataNotAllowed { -128, "Numeric data not allowed" };
inline constexpr Error suffixNotAllowed { -138, "Suffix not allowed" };
inline constexpr Error invalidCharacterData { -141, "Invalid character data" };
inline constexpr Error invalidStringData { -151, "Invalid string data" };
inline constexpr Error stringDataNotAllowed { -158, "String data not allowed" };

// Execution errors: the command was read but not carried out.
inline constexpr Error executionError { -200, "Execution error" };
inline constexpr Error settingsConflict { -221, "Settings conflict" };
inline constexpr Error dataOutOfRange { -222, "Data out of range" };
inline constexpr Error tooMuchData { -223, "Too much data" };

// Device-specific errors: the instrument is in a fault, or the connection's own limits.
inline constexpr Error deviceSpecificError { -300, "Device-specific error" };
inline constexpr Error queueOverflow { -350, "Queue overflow" };
inline constexpr Error communicationError { -360, "Communication error" };
inline constexpr Error inputBufferOverrun { -363, "Input buffer overrun" };
inline constexpr Error timeOutError { -365, "Time out error" };

} // namespace ScpiErrors

#endif
