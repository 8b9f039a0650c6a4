#pragma once

// What the server hands the shell, seen by the test host instead of a browser: the
// server's import of ShellExecuteA is pointed at a function of the test host that records
// the target, so that a link's click is checked where it happens, without Wine's browser.

#include <string>
#include <vector>

namespace test_host {

/// Points the loaded Selvane.dll's import of ShellExecuteA at the recorder; false when the
/// server is not loaded or does not import it.
bool InterceptShellOpen();
/// The targets handed to the shell since the last call.
std::vector<std::string> TakeShellTargets();

}  // namespace test_host
