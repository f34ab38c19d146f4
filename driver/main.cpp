#include "driver/run_sequence.h"
#include "toolrun/platform_host.h"

int main(int argc, char** argv) {
  remember_program_word(argv[0]);
  return run_driver(argc - 1, argv + 1);
}
