#include "server/Reconfigure.h"

#include <mutex>
#include <stdexcept>

#include "common/Codepage.h"
#include "common/DXLogger.h"
#include "common/Konfiguration.h"
#include "common/Platform.h"
#include "common/TextUtil.h"

namespace tarvo::server {
namespace {

class Logger : public TLevelLogger {};

// The configuration file is one "KEY=value" per line in Windows-1252: a
// value with a line break would add keys of its own, and one the code page
// cannot hold would be stored as '?'.
void RequireStorable(const std::string& value) {
  for (char c : value)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      throw std::invalid_argument("value contains control characters");
  if (!IsValidUtf8(value) || Cp1252ToUtf8(Utf8ToCp1252(value)) != value)
    throw std::invalid_argument("value has characters outside the system code page");
}

}  // namespace

void ConfigureTarvoserver(ServerContext& context, const std::string& command,
                          const std::vector<std::pair<std::string, std::string>>& params) {
  Logger log;
  log.LogDebug("ENTER: ConfigureTarvoserver");
  const std::string id = NewTraceId();
  log.LogTrace(id + " | Enter Critical Section (Request): Configure Tarvoserver");
  {
    std::lock_guard lock(context.EventLock);
    log.LogTrace(id + " | Enter Critical Section (Success): Configure Tarvoserver");
    try {
      log.LogInfo("Configuring TARVOserver [" + command + "]");
      if (params.empty()) log.LogInfo("Configuring TARVOserver [No Parameters]");
      bool haveEvents = false;
      std::string events;
      for (const auto& [name, value] : params) {
        log.LogInfo("Configuring TARVOserver [" + name + "] => [" + value + "]");
        if (name == "EVENTS") {
          haveEvents = true;
          events = value;
        }
      }
      if (command.compare(0, kIniCommandPrefix.size(), kIniCommandPrefix) == 0) {
        const std::string rest = command.substr(kIniCommandPrefix.size());
        const size_t eq = rest.find('=');
        if (eq == std::string::npos) throw std::invalid_argument("missing '=' in " + rest);
        const std::string key = rest.substr(0, eq);
        const size_t end = rest.find('=', eq + 1);
        const std::string value = rest.substr(eq + 1, end == std::string::npos ? std::string::npos : end - eq - 1);
        if (key == "EVENTS-NAMES") {
          RequireStorable(value);
          TKonfiguration& config = Konfiguration();
          config.EventsNames = value;
          if (haveEvents && !events.empty()) config.Events = events == "JA";
          config.SaveToFile();
        }
      }
    } catch (const std::exception& e) {
      log.LogError("Configuring TARVOserver failed [" + Trim(e.what()) + "]");
    } catch (...) {
      log.LogError("Configuring TARVOserver failed [unknown error]");
    }
    log.LogTrace(id + " | Leave Critical Section (Request): Configure Tarvoserver");
  }
  log.LogTrace(id + " | Leave Critical Section (Success): Configure Tarvoserver");
  log.LogDebug("LEAVE: ConfigureTarvoserver");
}

}  // namespace tarvo::server
