// The program: every role starts here (SetupApp.h).

#include "libs/qoSetup/SetupApp.h"

int main(int, char** argv) { return qoSetup::SetupApp::main(argv); }
