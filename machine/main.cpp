// sxmachine: makes a simulated machine and looks at or changes what it holds.
#include "commands.h"

int main(int argc, char** argv) { return sx::machine_tool::make_program()->run(argc, argv); }
