#include "cli/app.h"

int main(int argc, char** argv) {
  return tessel::cli::Run(argc, argv);
}
