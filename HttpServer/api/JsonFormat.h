#pragma once
// The format-driven JSON printer and scanner behind JsonCast. A format is written the way
// the web pages see the document: "{ip:%Q, port:%d, enabled:%B}". Bare keys are printed in
// double quotes, every other character of the format is copied as it is, and each
// conversion prints (or reads) the field named by the key written before it.

#include <string>
#include <string_view>
#include <vector>

struct cJSON;

namespace enc {

/// One record field, named by the key the formats use for it. Exactly one pointer is set;
/// the field must outlive the call that receives it.
struct JsonField {
    JsonField(const char* k, int& v) : key(k), number(&v) {}
    JsonField(const char* k, unsigned int& v) : key(k), unsignedNumber(&v) {}
    JsonField(const char* k, std::string& v) : key(k), text(&v) {}

    const char* key;
    int* number = nullptr;
    unsigned int* unsignedNumber = nullptr;
    std::string* text = nullptr;
};

using JsonFields = std::vector<JsonField>;

class JsonFormat {
public:
    virtual ~JsonFormat() = default;

    /// The documents are printed into a 1024-byte buffer on the device; a longer text is
    /// cut at this many characters.
    static constexpr size_t kMaxText = 1023;

    /// Prints the fields by the format: "%d" a decimal integer (an unsigned field as a
    /// signed 32-bit value), "%B" true for non-zero and false for zero, "%Q" a quoted string
    /// with a backslash before '"' and '\\' and backslash sequences for control characters.
    /// The result is not cut; a format key without a field is a programming error (assert).
    static std::string print(std::string_view format, const JsonFields& fields);

    /// Reads each member the format names from the top level of a parsed object:
    /// "%d" a number, or a string that begins with one, into an integer (other values leave
    /// the field unchanged); "%B" 1 for true and 0 for any other value; "%Q" a string's
    /// decoded value, or the literal JSON text of any other value (null reads "null").
    /// Members the format does not name are ignored; missing ones leave their fields as they
    /// are. A null or non-object value changes nothing.
    static void scan(std::string_view format, const cJSON* object, const JsonFields& fields);

    /// The "%Q" form of a text: its JSON escaping inside double quotes.
    static std::string quote(std::string_view text);

    /// The (key, conversion) pairs of a format in order, for example ("ip", 'Q').
    static std::vector<std::pair<std::string, char>> conversions(std::string_view format);
};

}  // namespace enc
