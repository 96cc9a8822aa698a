// Live reconfiguration: the web platform's "TARVOSERVER:" commands, sent
// as the SQL text of "/v2/execute", change the forwarded database events
// and store the configuration file at once. The event listener's guard
// notices the change; nothing is restarted here.
//
//   TARVOSERVER:INI:EVENTS-NAMES=<names>   sets EventsNames (as sent); a
//                                          parameter "EVENTS" that is not
//                                          empty also sets Events (= "JA")
//   TARVOSERVER:INI:<other key>=<value>    logged, nothing changes
//   anything else after "TARVOSERVER:"     logged, nothing changes
//
// The change and the save happen under the event lock. A command that
// cannot be applied (no "=", a value the configuration file cannot hold:
// control characters such as line breaks, or characters outside the
// system's code page) changes nothing, writes no file and is logged as
// "Configuring TARVOserver failed [...]". Never throws.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/ServerContext.h"

namespace tarvo::server {

inline constexpr std::string_view kCommandPrefix = "TARVOSERVER:";
inline constexpr std::string_view kIniCommandPrefix = "TARVOSERVER:INI:";

void ConfigureTarvoserver(ServerContext& context, const std::string& command,
                          const std::vector<std::pair<std::string, std::string>>& params);

}  // namespace tarvo::server
