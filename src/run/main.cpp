#include "platform/platform.h"
#include "run/run_sequence.h"

int main(int argc, char** argv) {
  StartPlatform(argc, argv);
  return RunKelvo();
}
