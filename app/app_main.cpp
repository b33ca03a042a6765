// The one application object of a setup program; the framework's entry point
// runs it.
#include "install_app.h"

CInstallApp theApp;
