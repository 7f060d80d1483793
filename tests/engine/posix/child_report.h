#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vendrake::testing {

// Runs `body` in a child process made by fork(), once `prepare` has returned
// true there (changing the child's user, its limits, or what its system calls
// do), and gives back the text `body` returned. `started` runs here once the
// child is under way, while its report is awaited. Empty when the child could
// not be made or `prepare` failed; a child that dies or exits otherwise fails
// the test. The report goes back with writev(), which a test failing write()
// leaves alone.
std::optional<std::string> ReportOfChild(const std::function<bool()>& prepare,
                                         const std::function<std::string()>& body,
                                         const std::function<void()>& started = {});

}  // namespace vendrake::testing
