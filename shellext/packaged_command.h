#pragma once
// Whether Windows 11 already shows our packaged Explorer command, so that a classic entry would be a second one.

namespace pathlift {

bool PackagedCommandRegistered() noexcept;

} // namespace pathlift
