// velnorctl --json: scan, status and prom info as one JSON object each, on
// a line of its own. Every object carries "command", the result word as
// "result" and its error bits by name as "errors", whatever the outcome;
// a failure is also reported on stderr. Each returns an exit code.
#pragma once

#include <cstdio>

namespace velnor::tools {

int scan_json(std::FILE* out);
int status_json(std::FILE* out);
int prom_info_json(std::FILE* out);

}  // namespace velnor::tools
