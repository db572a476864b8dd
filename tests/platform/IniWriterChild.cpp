// The INI write-lock test's second process: ini_writer_child <path> <section> <count>.
#include "IniWriter.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const int count = std::atoi(argv[3]);
    return iniWriterRun(argv[1], argv[2], count) == count ? 0 : 1;
}
