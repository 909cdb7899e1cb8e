#include "app/asm_driver.h"

int main(int argc, char** argv) { return smfasm::run_assembler(argc, argv); }
