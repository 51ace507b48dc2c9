#pragma once

#include <json/json.h>

#include <string>

// The launcher's JSON reading, for the gateway's answer and the version record:
// JsonCpp's reader with all its features (comments allowed), comments not kept. Both
// forms return false (what `root` then holds is not to be used) for text that is not
// JSON, and for text nested past the reader's depth limit, where JsonCpp throws instead
// of failing: an answer or a record too deep to read (one spread over many short lines
// can be) is as unreadable as one that is not JSON. They differ only in where the text
// ends, and each caller keeps its own rule.

// The gateway's answer: `text` is read up to its first NUL byte, as the answer buffer
// holds it.
bool parseJsonUpToNul(const char* text, Json::Value& root);

// The version record: all of `text`, NUL bytes included (the record's reader refuses
// a file that holds one before it gets here).
bool parseJsonWhole(const std::string& text, Json::Value& root);
