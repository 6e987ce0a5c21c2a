// tremcvt: converts one WIN file into the TRZ archive or into CSS 3.0 output.
#include <cstdio>

#include "converter/driver/conversion_run.h"

int main(int argc, char** argv)
{
    return tremcvt::processExitStatus(tremcvt::runConverter(argc, argv, stdout));
}
