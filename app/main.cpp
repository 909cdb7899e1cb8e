#include "app/driver.h"

int main(int argc, char** argv) { smfasm::run_program(argc, argv); }
