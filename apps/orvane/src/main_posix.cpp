#include "command_line.hpp"

int main(int argc, char** argv) {
  return orvane::app::run_command_line(argc, argv);
}
