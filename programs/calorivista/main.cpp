#include "thermoapp.h"

int main(int argc, char *argv[])
{
    CThermoApp app(argc, argv);
    return app.InitInstance();
}
