#include "src/JsonText.h"

#include <exception>

namespace {

// `text` reaches the reader's std::string form inside the try: the copy that a C
// string makes there fails like the reading, not past it.
template <typename Text>
bool parseWithAllFeatures(const Text& text, Json::Value& root)
{
    try {
        Json::Reader reader(Json::Features::all());
        return reader.parse(text, root, false);
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

bool parseJsonUpToNul(const char* text, Json::Value& root)
{
    return parseWithAllFeatures(text, root);
}

bool parseJsonWhole(const std::string& text, Json::Value& root)
{
    return parseWithAllFeatures(text, root);
}
