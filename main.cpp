// NELV 3-Server: a multi-user text chat server.
#include "server/startup.h"

int main(int argc, char** argv) { return nelv::server::RunServer(argc, argv); }
