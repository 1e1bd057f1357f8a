#include <iostream>

#include "texsnap/texsnap.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  return texsnap::RunTexsnap(argc, argv, std::cout);
}
