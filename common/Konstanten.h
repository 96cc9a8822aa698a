#pragma once

#include <string>

namespace tarvo {

// The per-user working folder: $XDG_DATA_HOME (else ~/.local/share) +
// "/Tarvo/" + the file name of `name` (the running executable when empty)
// without its extension + "/". Created when missing; empty when it can be
// neither found nor created.
std::string UserDataFolder(const std::string& name = {});

}  // namespace tarvo
