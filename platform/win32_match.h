// The Windows wildcard, matched against a long name: kept apart from the
// Windows platform file so that its rules can be checked on any system.
#pragma once

#include <cstddef>

namespace morvane::platform {

// The longest name a folder search gives (WIN32_FIND_DATAW's cFileName).
constexpr std::size_t FOUND_NAME_CAPACITY = 260;

// Whether sName matches sPattern, the last component of a wildcard, as
// FindFirstFileW matches names: the pattern's trailing blanks and dots
// dropped, as from the last component of any path; "*" any run, but "*"
// before a dot (even a dropped one) never past the name's last dot, so that
// "*." takes the names without one; "?" any one character but a dot, or
// none at a dot or the end; "." a dot or the end; case ignored.
[[nodiscard]] bool MatchesLongName(const wchar_t *sPattern, const wchar_t *sName);

// Provided by the platform file: whether two characters are the same but
// for case, as the file system compares names.
[[nodiscard]] bool SameIgnoringCase(wchar_t cOne, wchar_t cOther);

}  // namespace morvane::platform
