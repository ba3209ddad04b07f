#include "filters/alternatives.h"

namespace {

bool AcceptsEverything(const std::string& expression) {
  return expression.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

std::string AnyOf(const std::vector<std::string>& expressions) {
  for (const std::string& expression : expressions)
    if (AcceptsEverything(expression)) return {};
  if (expressions.size() == 1) return expressions.front();
  std::string combined;
  for (const std::string& expression : expressions) {
    if (!combined.empty()) combined += " or ";
    combined += '(' + expression + ')';
  }
  return combined;
}
