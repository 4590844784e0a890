#pragma once
// The web credentials: a one-line digest password file "user:HttpServer:<HA1>", where HA1
// is the MD5 hex digest of "user:HttpServer:password" (the realm is "HttpServer").

#include <string>

namespace http {

class PasswordFile {
public:
    virtual ~PasswordFile() = default;

    static constexpr const char* kRealm = "HttpServer";
    /// The credentials a device has until the user changes them.
    static constexpr const char* kDefaultUser = "admin";
    static constexpr const char* kDefaultPassword = "740163";
    /// Longest user name and password accepted from a form, in bytes.
    static constexpr size_t kMaxField = 255;

    /// The file's one line (no line end).
    static std::string line(const std::string& user, const std::string& password);

    /// Whether a user name can be stored: not empty, no ':' (the field separator) and no
    /// control characters (a line break would split the line).
    static bool validUser(const std::string& user);

    /// Replaces the file with the line for these credentials. The new file is written next
    /// to it and renamed over it, so a reader (or a power cut) never sees half a file.
    /// False when it could not be written.
    static bool write(const std::string& path, const std::string& user,
                      const std::string& password);

    static bool exists(const std::string& path);
};

}  // namespace http
