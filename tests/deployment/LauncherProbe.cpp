// Stands in for the vault application behind the Linux launcher: prints how it
// was started, one "key=value" line each, and exits with its first argument;
// with "wait" it waits for a signal instead.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char* argv[])
{
    char cwd[PATH_MAX] = {};
    char exe[PATH_MAX] = {};
    char comm[64] = {};
    if (!getcwd(cwd, sizeof cwd))
        cwd[0] = '\0';
    const ssize_t exeLength = readlink("/proc/self/exe", exe, sizeof exe - 1);
    exe[exeLength > 0 ? exeLength : 0] = '\0';
    if (FILE* file = std::fopen("/proc/self/comm", "r")) {
        if (!std::fgets(comm, sizeof comm, file))
            comm[0] = '\0';
        std::fclose(file);
    }
    const char* fontconfig = std::getenv("FONTCONFIG_FILE");
    const char* libraryPath = std::getenv("LD_LIBRARY_PATH");
    std::printf("argv0=%s\ncwd=%s\nexe=%s\ncomm=%s", argv[0], cwd, exe, comm);
    std::printf("fontconfig=%s\nlibrarypath=%s\n", fontconfig ? fontconfig : "",
                libraryPath ? libraryPath : "");
    for (int i = 1; i < argc; ++i)
        std::printf("arg=%s\n", argv[i]);
    if (argc > 1 && std::strcmp(argv[1], "wait") == 0) {
        std::fflush(stdout);
        alarm(60); // never outlives a test that fails to stop it
        pause();
    }
    return argc > 1 ? std::atoi(argv[1]) : 0;
}
