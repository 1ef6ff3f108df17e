// The Update program: the one application object and the entry point.
#include "app/update_app.h"

CUpdateApp theApp;

int main(int argc, char** argv) {
    return platform::RunApplication(argc, argv);
}
