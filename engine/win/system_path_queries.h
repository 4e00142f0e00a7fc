#pragma once
// The universal-name and short-name answers of the running Windows system.

#include "../name_formatter.h"

namespace pathlift {

class SystemPathQueries final : public PathQueries {
public:
    bool UniversalName(const char16_t* localPath, char16_t* work, std::size_t workCapacity) override;
    bool ShortPath(const char16_t* longPath, char16_t* out, std::size_t outCapacity) override;
};

} // namespace pathlift
