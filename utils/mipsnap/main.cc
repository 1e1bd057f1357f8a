#include <iostream>

#include "mipsnap/mipsnap.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  return mipsnap::RunMipsnap(argc, argv, std::cout);
}
