#pragma once
// A parsed JSON answer for the tests that read the web API's documents as a client would.

#include <cjson/cJSON.h>

#include <memory>
#include <string>

namespace testsupport {

class JsonDoc {
public:
    explicit JsonDoc(const std::string& text) : m_root(cJSON_Parse(text.c_str()), cJSON_Delete) {}
    /// False when the text is not JSON.
    bool ok() const { return m_root != nullptr; }
    const cJSON* root() const { return m_root.get(); }
    const cJSON* member(const char* name) const {
        return cJSON_GetObjectItemCaseSensitive(m_root.get(), name);
    }
    /// The member's text, or "<no text NAME>" when it is missing or not a string.
    std::string text(const char* name) const {
        const cJSON* item = member(name);
        return cJSON_IsString(item) ? item->valuestring : "<no text " + std::string(name) + ">";
    }

private:
    std::unique_ptr<cJSON, void (*)(cJSON*)> m_root;
};

}  // namespace testsupport
