#include "app/driver.h"

int main(int argc, char** argv) { midi2mtx::run_program(argc, argv); }
