// Prints the numbers of the system calls that the terminal tests watch the
// client wait in (as /proc/PID/syscall shows them), one "name number" a line.
#include <cstdio>

#include <sys/syscall.h>

int main() {
    std::printf("ppoll %d\n", static_cast<int>(SYS_ppoll));
    return 0;
}
