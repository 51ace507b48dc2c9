#pragma once

#include <functional>

// Runs the tool's whole run `body` and returns its exit code. Nothing it throws
// escapes to end the process unannounced: a failure the run did not expect ends it
// with the tool's failure code -1 and one console line, "Error allocating memory\n"
// when memory ran out, "Unexpected error: %s, aborting\n" with the text of any other
// standard exception, "Unexpected error, aborting\n" for anything else.
int guardedExitCode(const std::function<int()>& body);
