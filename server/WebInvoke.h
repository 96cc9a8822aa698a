// "/v2/invoke": the web platform calls an operation of the web module by
// name. The body names the operation without its "Invoke" prefix
// ("method", any letter case) and its arguments ("params", names in any
// letter case); the answer is {"data":[{"value":...}],"meta":{"version":
// ...,"datenbankpfad":...}}, encrypted. The action itself is
// TWebModul::WebModulV2InvokeHandlerAction (Web.h).
//
// Arguments: each declared parameter takes the value of the same name; a
// value in the exact ISO date-time shape (that reads as a date) is passed
// as a date-time, which a text parameter refuses (the request fails); a
// missing value is passed as empty text.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/DateTime.h"

namespace tarvo::server {

using TInvokeArgument = std::variant<std::string, DateTime>;

enum class TInvokeParamType { Text };

struct TInvokeParam {
  const char* Name;
  TInvokeParamType Type;
};

struct TInvokeOperation {
  const char* Name;  // "Invoke" + method
  std::vector<TInvokeParam> Params;
  // Called with one text per declared parameter, in declaration order.
  std::function<std::string(const std::vector<std::string>&)> Call;
};

// The invokable operations.
const std::vector<TInvokeOperation>& InvokeOperations();
// The operation named "Invoke" + method (letter case ignored); nullptr
// when there is none.
const TInvokeOperation* FindInvokeOperation(std::string_view method);

// Calls `operation` with the arguments of `params` (names upper-cased).
// Raises std::invalid_argument when a value does not fit its parameter.
std::string CallInvokeOperation(const TInvokeOperation& operation,
                                const std::vector<std::pair<std::string, std::string>>& params);

// The operations themselves.
std::string InvokeEncrypt(const std::string& Value);
std::string InvokeDecrypt(const std::string& Value);

}  // namespace tarvo::server
