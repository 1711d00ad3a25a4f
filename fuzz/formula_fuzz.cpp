// Any bytes as a filter formula: the parser must return a chain or the
// rejected node, and the chain must evaluate, without a fault of any kind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "filter/formula_parser.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto head = tarvex::parseFilterString(text);
  require(head != nullptr);
  if (!head->enabled) {
    require(!head->next && head->name.empty() && head->kind == tarvex::FilterKind::Value);
  } else {
    require(tarvex::findTail(*head)->kind == tarvex::FilterKind::Value);
    const double inputs[] = {0.0, 1.0, -2.5, 1e6, -1e300, 0.001};
    for (double x : inputs) tarvex::evaluateChain(*head, x, 1.0, 1.0, 1.0);
  }

  std::string args(text);
  const std::string before = args;
  double value = -7.0;
  if (tarvex::popTrailingNumber(args, value)) {
    require(args.size() < before.size() && before.compare(0, args.size(), args) == 0);
    require(before[args.size()] == ';');
  } else {
    require(args == before && value == -7.0);
  }
  return 0;
}
