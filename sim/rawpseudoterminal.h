#ifndef RAWPSEUDOTERMINAL_H
#define RAWPSEUDOTERMINAL_H

#include <QString>

// Opens the master side of a new pseudo-terminal, non-blocking and raw from
// the start: until the other end configures the line, the terminal would
// echo bytes back and turn carriage returns into line feeds. Returns the
// descriptor and sets `devicePath` to the device the other end opens, or
// returns -1 with errno set.
int openRawPseudoTerminal(QString *devicePath);

#endif
