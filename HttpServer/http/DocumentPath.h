#pragma once
// Maps the path of a page request to a file under the document root, refusing every way out
// of it.

#include <string>
#include <string_view>

namespace http {

class DocumentPath {
public:
    virtual ~DocumentPath() = default;

    enum class Result {
        Found,       ///< file holds the real path of a regular file under the root
        NotFound,    ///< nothing there, not a regular file, or a directory without index.html
        Forbidden,   ///< a ".." component, or a path whose real location is outside the root
        NeedsSlash,  ///< a directory named without its trailing '/': redirect to path + "/"
    };

    /// Resolves a decoded request path ("/css/site.css") under root. Symbolic links are
    /// followed, and the real location must still lie under the real root. A directory
    /// named with a trailing '/' stands for its "index.html"; directories are never listed.
    static Result resolve(const std::string& root, std::string_view requestPath, std::string& file);

    /// Whether a path has a ".." component (a NUL byte counts as one too: it would cut the
    /// path short behind the check's back).
    static bool climbs(std::string_view requestPath);

    /// A path percent-encoded for a Location header: everything but letters, digits, '/'
    /// and "-._~" is escaped, so no byte of the request can shape the header.
    static std::string encode(std::string_view path);
};

}  // namespace http
