#include "client/app.h"

int main(int argc, char* argv[]) {
    return cmdclient::run(argc, argv);
}
