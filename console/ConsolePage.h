// The console's page (console/page/console.html, with its script and styles inline), built into
// the program.
#pragma once

#include <string>

/// The page's bytes (UTF-8 HTML).
std::string ConsolePageHtml();
