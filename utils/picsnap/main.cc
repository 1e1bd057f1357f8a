#include <iostream>

#include "picsnap/picsnap.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  return picsnap::RunPicsnap(argc, argv, std::cout);
}
