// A peer for the remote-call benchmarks: the same two methods on the C library xmlrpc-c,
// serving one connection at a time in one thread, as the panel's own server does.
//
//   xmlrpccserver PORT

#include <xmlrpc-c/base.hpp>
#include <xmlrpc-c/registry.hpp>
#include <xmlrpc-c/server_abyss.hpp>

#include <csignal>
#include <cstdlib>

namespace {

class Status : public xmlrpc_c::method
{
public:
    void execute(const xmlrpc_c::paramList &params, xmlrpc_c::value *result) override
    {
        params.verifyEnd(0);
        *result = xmlrpc_c::value_int(0);
    }
};

class Echo : public xmlrpc_c::method
{
public:
    void execute(const xmlrpc_c::paramList &params, xmlrpc_c::value *result) override
    {
        const xmlrpc_c::value_array items(params.getArray(0));
        params.verifyEnd(1);
        *result = items;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    // A client that goes away before its answer must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    xmlrpc_c::registry registry;
    registry.addMethod("status", xmlrpc_c::methodPtr(new Status));
    registry.addMethod("echo", xmlrpc_c::methodPtr(new Echo));
    // The library's own limit on a call's size is 512 KiB; the benchmark's calls fit.
    xmlrpc_c::serverAbyss server(xmlrpc_c::serverAbyss::constrOpt()
                                     .registryP(&registry)
                                     .portNumber(argc > 1 ? unsigned(std::atoi(argv[1])) : 8080)
                                     .logFileName("/dev/null"));
    for (;;)
        server.runOnce();
}
