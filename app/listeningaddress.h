#ifndef LISTENINGADDRESS_H
#define LISTENINGADDRESS_H

#include "listeningport.h"

#include <QString>

// How the operator is told where clients reach the program's servers.
namespace ListeningAddress {

// The port alone when it listens on every interface, else the address and the port; "off"
// for a server asked for no port; when listening failed, the port asked for and why, as in
// "port 8086: The bound address is already in use". With port 0 the system chooses one, and a
// port above 65535 wraps: clients must be told which.
QString describe(const ListeningPort &listening);
// The address of a page served there, as a browser on another machine opens it: with this
// machine's host name when it listens on every interface. Empty when it does not listen.
QString pageUrl(const ListeningPort &listening);

} // namespace ListeningAddress

#endif
