#include "driver/run_sequence.h"

int main(int argc, char** argv) {
  return run_driver(argc - 1, argv + 1);
}
