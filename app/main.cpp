#include "app/startup.h"
#include "app/tapplication.h"

int main(int argc, char* argv[]) {
    veltrane::TApplication application(argc, argv);
    return veltrane::RunProgram(application);
}
