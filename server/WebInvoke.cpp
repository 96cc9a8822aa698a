#include "server/WebInvoke.h"

#include <stdexcept>

#include "common/Konfiguration.h"
#include "server/RowFormat.h"
#include "server/Token.h"
#include "server/Web.h"
#include "server/WebText.h"
#include "server/WriteBody.h"

namespace tarvo::server {
namespace {

TInvokeArgument ArgumentOf(const std::string& value) {
  try {
    return ParseISODate(value);
  } catch (const std::exception&) {
    return value;
  }
}

}  // namespace

std::string InvokeEncrypt(const std::string& Value) {
  return EncryptValue(Value);
}

std::string InvokeDecrypt(const std::string& Value) {
  return DecryptValue(Value);
}

const std::vector<TInvokeOperation>& InvokeOperations() {
  static const std::vector<TInvokeOperation> table = {
      {"InvokeEncrypt", {{"Value", TInvokeParamType::Text}},
       [](const std::vector<std::string>& a) { return InvokeEncrypt(a[0]); }},
      {"InvokeDecrypt", {{"Value", TInvokeParamType::Text}},
       [](const std::vector<std::string>& a) { return InvokeDecrypt(a[0]); }},
  };
  return table;
}

const TInvokeOperation* FindInvokeOperation(std::string_view method) {
  const std::string name = "Invoke" + std::string(method);
  for (const auto& op : InvokeOperations())
    if (EqualsNoCase(op.Name, name)) return &op;
  return nullptr;
}

std::string CallInvokeOperation(const TInvokeOperation& operation,
                                const std::vector<std::pair<std::string, std::string>>& params) {
  std::vector<std::string> args;
  args.reserve(operation.Params.size());
  for (const TInvokeParam& p : operation.Params) {
    const std::string upper = UpperText(p.Name);
    TInvokeArgument arg = std::string();
    for (const auto& [name, value] : params)
      if (name == upper) arg = ArgumentOf(value);
    if (!std::holds_alternative<std::string>(arg))
      throw std::invalid_argument(std::string("Ung\xC3\xBCltiger Wert f\xC3\xBCr den Parameter ") + p.Name +
                                  " von " + operation.Name + ": Datum statt Text");
    args.push_back(std::get<std::string>(std::move(arg)));
  }
  return operation.Call(args);
}

void TWebModul::WebModulV2InvokeHandlerAction(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: WebModulV2InvokeHandlerAction");
  const TRequestStatement body = ReadInvokeBody(PayloadToText(ReadEncryptedRequestStream(request)));
  const TInvokeOperation* operation = FindInvokeOperation(body.Sql);
  if (!operation) throw std::invalid_argument("Methode Invoke" + body.Sql + " nicht gefunden");
  const std::string value = CallInvokeOperation(*operation, body.Params);
  std::string json;
  TJsonWriter writer(json);
  writer.BeginObject();
  writer.Key("data");
  writer.BeginArray();
  writer.BeginObject();
  writer.Member("value", value);
  writer.EndObject();
  writer.EndArray();
  const TKonfiguration& config = Konfiguration();
  writer.Key("meta");
  writer.BeginObject();
  writer.Member("version", config.GetAppVersion());
  writer.Member("datenbankpfad", config.Datenbankpfad.get());
  writer.EndObject();
  writer.EndObject();
  WriteEncryptedResponseStream(std::move(json), response);
  LogDebug("LEAVE: WebModulV2InvokeHandlerAction");
}

}  // namespace tarvo::server
