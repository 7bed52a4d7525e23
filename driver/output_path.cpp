#include "driver/output_path.h"

std::string makeOutputName(const std::string& scorePath) {
  std::size_t componentStart = scorePath.find_last_of("/\\");
  componentStart = componentStart == std::string::npos ? 0 : componentStart + 1;
  std::size_t dot = scorePath.find_last_of('.');
  std::string output = scorePath;
  if (dot != std::string::npos && dot >= componentStart) output.erase(dot);
  return output + ".wav";
}
