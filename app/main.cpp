#include "app/driver.h"
#include "app/files.h"

int main(int argc, char** argv) {
    smfasm::prepare_process();
    smfasm::run_program(argc, argv);
}
