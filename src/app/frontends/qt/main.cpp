#include <iostream>

#include "torvane_app.h"

int main(int argc, char** argv) {
  torvane::CTorvaneApp app;
  return app.InitInstance(argc, argv, std::cout, std::cerr);
}
