#include "app/Title.h"
#include "platform/Platform.h"

int main(int argc, char *argv[])
{
    return platform::RunProgram(argc, argv, StartProgram);
}
