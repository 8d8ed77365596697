# The C library xmlrpc-c (Debian 13: libxmlrpc-c++9-dev, Debian 12: libxmlrpc-c++8-dev), an
# independent XML-RPC peer for the benchmarks and the tests. Debian ships no pkg-config files
# for it, so its own xmlrpc-c-config says what to link.
#
# Defines XmlRpcC_FOUND and, when found, the imported targets
#   XmlRpcC::Client  the C++ client with its curl transport
#   XmlRpcC::Server  the C++ server with its built-in HTTP server (Abyss)

find_program(XMLRPC_C_CONFIG xmlrpc-c-config)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(XmlRpcC REQUIRED_VARS XMLRPC_C_CONFIG)

function(_xmlrpcc_import target)
    execute_process(COMMAND ${XMLRPC_C_CONFIG} c++2 ${ARGN} --libs
        OUTPUT_VARIABLE libraries OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${XMLRPC_C_CONFIG} c++2 ${ARGN} --cflags
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    separate_arguments(libraries UNIX_COMMAND "${libraries}")
    separate_arguments(flags UNIX_COMMAND "${flags}")
    # Only xmlrpc-c's own libraries: being shared, they bring their dependencies (curl,
    # threads) along, whose development files need not be installed.
    list(FILTER libraries INCLUDE REGEX "^-L|^-lxmlrpc")
    # Only the include directories matter; imported ones are searched as system headers,
    # so that the library's own warnings stay out of the build.
    list(FILTER flags INCLUDE REGEX "^-I")
    list(TRANSFORM flags REPLACE "^-I" "")
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES
        INTERFACE_LINK_LIBRARIES "${libraries}"
        INTERFACE_INCLUDE_DIRECTORIES "${flags}")
endfunction()

if(XmlRpcC_FOUND AND NOT TARGET XmlRpcC::Client)
    _xmlrpcc_import(XmlRpcC::Client client)
    _xmlrpcc_import(XmlRpcC::Server abyss-server)
endif()
