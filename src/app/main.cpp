#include "app/program.h"

int main(int argc, char** argv) { return kestrova::app::ProgramStart(argc, argv); }
