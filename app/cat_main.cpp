#include "app/cat_driver.h"

int main(int argc, char** argv) { return smfasm::run_cat(argc, argv); }
